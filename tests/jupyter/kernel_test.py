#!/usr/bin/python3
"""The Jupyter kernel, through the messaging protocol.

  kernel_test.py KESTRIVO JUPYTER_DIR

KESTRIVO is the interpreter, JUPYTER_DIR the folder holding the kernel's
module and kernel.json.in.  A kernel spec for them is written into a
temporary Jupyter path, so the kernel runs as `jupyter` would start it.
Debian's python3-jupyter-kernel-test checks the protocol (kernel info,
output streams, results, pictures, completion, inspection, completeness);
the tests below check what is the kernel's own: definitions kept from cell
to cell, warnings counted in the cell's lines, the option lines, an
interrupt that stops a statement and leaves the session going, a restart
that gives a fresh pool, the end of the session by exit.
"""
import html
import os
import re
import sys
import tempfile
import time
import unittest

import jupyter_kernel_test
from jupyter_client.manager import start_new_kernel

TIMEOUT = 60


def kernelspec(kestrivo, folder, into):
    """Lays out kernels/kestrivo under into as `make install` does, from
    the tree: kernel.json for this Python, the launcher and the module; the
    interpreter is the one under test."""
    with open(os.path.join(folder, "kernel.json.in")) as f:
        spec = f.read().replace("@KESTRIVO_JUPYTER_PYTHON@", sys.executable)
    where = os.path.join(into, "kernels", "kestrivo")
    os.makedirs(where)
    with open(os.path.join(where, "kernel.json"), "w") as f:
        f.write(spec)
    for name in ("launch.py", "kestrivo_kernel"):
        os.symlink(os.path.join(folder, name), os.path.join(where, name))
    os.environ["KESTRIVO"] = kestrivo


def execute(kc, code, timeout=TIMEOUT):
    """Runs a cell; returns the reply's content and the cell's messages as
    (type, content) pairs."""
    msg_id = kc.execute(code)
    outputs = []
    while True:
        msg = kc.get_iopub_msg(timeout=timeout)
        if msg["parent_header"].get("msg_id") != msg_id:
            continue
        if msg["msg_type"] == "status" and msg["content"]["execution_state"] == "idle":
            break
        if msg["msg_type"] not in ("status", "execute_input"):
            outputs.append((msg["msg_type"], msg["content"]))
    while True:
        reply = kc.get_shell_msg(timeout=timeout)
        if reply["parent_header"].get("msg_id") == msg_id:
            return reply["content"], outputs


def results(outputs):
    return [c["data"]["text/plain"] for t, c in outputs if t == "execute_result"]


def stream(outputs, name):
    return "".join(c["text"] for t, c in outputs if t == "stream" and c["name"] == name)


class ProtocolTests(jupyter_kernel_test.KernelTests):
    kernel_name = "kestrivo"
    language_name = "kestrivo"
    file_extension = ".lam"

    code_hello_world = "write hello,; space; writeln world;"
    code_stderr = "nosuchnm 1;"
    completion_samples = [
        {"text": "intat", "matches": {"intatom"}},
        {"text": "squa", "matches": {"square"}},
    ]
    complete_code_samples = ["square 3;", "x = 1; % a comment %", "% just a comment %"]
    incomplete_code_samples = ["square 3", "square 3; % open comment", "x = lambda y"]
    code_execute_result = [{"code": "* 6 7;", "result": "42"},
                           {"code": "square 12;", "result": "144"}]
    code_display_data = [{"code": "+ 1 2;", "mime": "image/svg+xml"}]
    code_inspect_sample = "square"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        execute(cls.kc, "square = lambda x (* x x);")


class SessionTests(unittest.TestCase):
    def setUp(self):
        self.km, self.kc = start_new_kernel(kernel_name="kestrivo")

    def tearDown(self):
        self.kc.stop_channels()
        self.km.shutdown_kernel(now=True)

    def test_definitions_persist_and_results_show_figures_and_pictures(self):
        reply, out = execute(self.kc, "double = lambda x (+ x x);")
        self.assertEqual(reply["status"], "ok")
        self.assertEqual(results(out), [])
        reply, out = execute(self.kc, "double 4;\ndouble (double 5);")
        self.assertEqual(results(out), ["8", "20"])
        pages = [c["data"]["text/html"] for t, c in out if t == "execute_result"]
        self.assertIn("line 2:", pages[1])
        self.assertIn("1 beta", pages[0])
        pictures = [c["data"]["image/svg+xml"] for t, c in out if t == "display_data"]
        self.assertEqual(len(pictures), 2)
        self.assertTrue(all(p.startswith("<svg") for p in pictures))

    def test_warnings_count_the_cells_lines(self):
        execute(self.kc, "a = 1;\nb = 2;\n")
        reply, out = execute(self.kc, "\n  + a nosuchnm;")
        self.assertIn("kestrivo: 2:7: warning: 'nosuchnm' is neither defined nor bound", stream(out, "stderr"))

    def test_output_and_reports(self):
        reply, out = execute(self.kc, "writeln hello; 5 = 6;")
        self.assertEqual(stream(out, "stdout"), "hello\n")
        self.assertIn("5 cannot be defined", stream(out, "stderr"))

    def test_option_lines(self):
        execute(self.kc, "two = lambda f x (f (f x));")
        reply, out = execute(self.kc, "two;")
        self.assertTrue(results(out)[0].startswith("lambda f x"))
        reply, out = execute(self.kc, "%readback on\n%graph off\nk = lambda x (lambda y x);\nk 5;")
        self.assertEqual(results(out), ["lambda y 5"])
        self.assertEqual([t for t, c in out if t == "display_data"], [])
        reply, out = execute(self.kc, "%readback off\n%graph all\nk 5;")
        self.assertTrue(results(out)[0].startswith("sub"))
        self.assertEqual(len([t for t, c in out if t == "display_data"]), 3)
        reply, out = execute(self.kc, "%graph sideways\n1;")
        self.assertIn("%graph takes normal or expanded", stream(out, "stderr"))

    def test_steps(self):
        execute(self.kc, "double = lambda x (+ x x);")
        reply, out = execute(self.kc, "%steps\ndouble (* 2 3);")
        self.assertEqual(results(out), ["12"])
        lists = [c for t, c in out if t == "display_data" and "image/svg+xml" not in c["data"]]
        self.assertEqual(len(lists), 1)
        lines = lists[0]["data"]["text/plain"].split("\n")
        self.assertEqual(lines[0], "The steps of line 2: double (* 2 3);")
        rules = [line.split()[1] for line in lines[1:]]
        # The argument is reduced once, by the one "*" step, however many
        # times the body uses it.
        self.assertEqual(rules.count("*"), 1)
        self.assertEqual(rules.count("+"), 1)
        self.assertEqual(rules[0], "beta")
        # A picture of the graph before the first step and after each step:
        # the frames, in order, the rewritten node filled in each.
        page = lists[0]["data"]["text/html"]
        self.assertEqual(lists[0]["metadata"]["kestrivo"]["frames"], len(rules) + 1)
        self.assertEqual(page.count("<svg"), len(rules) + 1)
        captions = [html.unescape(c) for c in re.findall(r"<title>(step [^<]*)</title>", page)]
        self.assertEqual(captions[0], "step 0: before the first step")
        self.assertEqual([c.split()[2] for c in captions[1:]], rules)
        self.assertEqual(page.count('fill="#ffd54f"'), len(rules))

    def test_steps_window(self):
        # %steps N draws N steps' frames and counts the rest.
        reply, out = execute(self.kc, "%steps 2\n(lambda x (+ x x)) (* 2 3);")
        lists = [c for t, c in out if t == "display_data" and "image/svg+xml" not in c["data"]]
        self.assertEqual(len(lists), 1)
        self.assertEqual(lists[0]["data"]["text/plain"].split("\n")[-1], "... and 3 more steps")
        self.assertEqual(lists[0]["data"]["text/html"].count("<svg"), 3)

    def test_unfinished_statement_and_comment(self):
        reply, out = execute(self.kc, "+ 1 2")
        self.assertEqual(results(out), ["3"])
        self.assertIn("the cell ends inside a statement", stream(out, "stderr"))
        reply, out = execute(self.kc, "+ 2 2; % a note left open")
        self.assertEqual(results(out), ["4"])
        reply, out = execute(self.kc, "+ 3 3;")
        self.assertEqual(results(out), ["6"])

    def interrupted(self, code):
        """Runs a cell and interrupts the kernel 1.5 s after; the seconds
        the interrupt took to end the cell, the reply and the messages."""
        msg_id = self.kc.execute(code)
        time.sleep(1.5)
        started = time.monotonic()
        self.km.interrupt_kernel()
        out = []
        while True:
            msg = self.kc.get_iopub_msg(timeout=TIMEOUT)
            if msg["parent_header"].get("msg_id") != msg_id:
                continue
            if msg["msg_type"] == "status" and msg["content"]["execution_state"] == "idle":
                break
            out.append((msg["msg_type"], msg["content"]))
        took = time.monotonic() - started
        reply = self.kc.get_shell_msg(timeout=TIMEOUT)
        self.assertEqual(reply["parent_header"]["msg_id"], msg_id)
        return took, reply, out

    def test_interrupt_stops_the_statement_and_the_session_goes_on(self):
        # fib 40 takes minutes: only the interrupt ends it in time.
        execute(self.kc, "fib = lambda n ((< n 2) n (+ (fib (- n 1)) (fib (- n 2))));\nkeep = 7;")
        took, reply, out = self.interrupted("fib 40;")
        self.assertLess(took, 20)
        self.assertEqual(reply["content"]["status"], "error")
        self.assertEqual(reply["content"]["ename"], "Interrupted")
        self.assertRegex(stream(out, "stderr"), r"kestrivo: 1: statement interrupted after \d+ steps")
        pages = [c["data"]["text/html"] for t, c in out if t == "execute_result"]
        self.assertEqual(len(pages), 1)
        self.assertIn("interrupted", pages[0])
        # "normal;" takes the interrupted term up again, and shows it as the
        # statement's result would be shown: here interrupted once more, and
        # the session goes on after a second interrupt too.
        took, reply, out = self.interrupted("normal;")
        pages = [c["data"]["text/html"] for t, c in out if t == "execute_result"]
        self.assertEqual(len(pages), 1)
        self.assertIn("line 1:", pages[0])
        self.assertIn("interrupted", pages[0])
        reply, out = execute(self.kc, "+ keep 1;")
        self.assertEqual(results(out), ["8"])

    def test_restart_gives_a_fresh_session(self):
        execute(self.kc, "keep = 7;")
        self.km.restart_kernel(now=True)
        self.kc.wait_for_ready(timeout=TIMEOUT)
        reply, out = execute(self.kc, "keep;")
        self.assertEqual(results(out), ["keep"])
        self.assertIn("'keep' is neither defined", stream(out, "stderr"))

    def test_exit_ends_the_session_and_the_next_cell_starts_another(self):
        execute(self.kc, "keep = 7;")
        reply, out = execute(self.kc, "exit;")
        self.assertEqual(reply["status"], "ok")
        self.assertIn("the session ended (status 0)", stream(out, "stderr"))
        reply, out = execute(self.kc, "keep; + 1 1;")
        self.assertEqual(results(out), ["keep", "2"])


if __name__ == "__main__":
    kestrivo, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as path:
        kernelspec(kestrivo, folder, path)
        os.environ["JUPYTER_PATH"] = path
        os.environ["JUPYTER_PLATFORM_DIRS"] = "1"
        unittest.main(argv=sys.argv[:1], verbosity=2)
