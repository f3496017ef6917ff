#!/usr/bin/env python3
"""kestrivo at a terminal: a pseudo-terminal stands in for the user's.

  terminal_test.py KESTRIVO

Checks that a prompt asks for each statement and another for its
continuation, that a typed line shows once (the terminal's own display, no
echo into the transcript), that Tab completes a name, that the history file
gets the typed lines (and is never written through a symbolic link put in
its place), and that Ctrl-D ends the run as the end of input does:
THE END, status 0.  Then the session's commands (":help", ":load" and
":reload" of a file that changes between them, ":defs", ":show", ":stats",
":kind", a mistyped command, ":quit"), a line end ending a typed word, and
the "did you mean" warning.  Ctrl-C (a SIGINT sent to the interpreter)
steers the session however often it comes: it stops the statement under
way, drops a statement being typed, and the session goes on to its end
with status 3.
"""
import os
import re
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

RUNAWAY = b'(lambda f (f f 40)) (lambda s n ((< n 2) n (+ (s s (- n 1)) (s s (- n 2)))));'
PROMPT = b"kestrivo> "
MORE = b"      > "
WAIT = 20  # seconds before a missing answer counts as a hang


SESSIONS = []  # every interpreter started, ended at the test's end


class Session:
    def __init__(self, argv, env):
        SESSIONS.append(self)
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave,
                                     env=env, close_fds=True, start_new_session=True)
        os.close(slave)
        self.seen = b""  # everything read from the terminal
        self.pos = 0  # where the last text waited for ends

    def until(self, text):
        """Reads until text has appeared after the last text waited for;
        returns the output from there up to and including it."""
        start = self.pos
        while self.seen.find(text, start) < 0:
            ready, _, _ = select.select([self.master], [], [], WAIT)
            if not ready:
                raise AssertionError("no %r after %r (all: %r)" % (text, self.seen[start:], self.seen))
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                raise AssertionError("output ended before %r: %r" % (text, self.seen[start:]))
            self.seen += chunk
        self.pos = self.seen.find(text, start) + len(text)
        return self.seen[start:self.pos]

    def editing(self):
        """Waits until the line editor has the terminal (out of canonical
        mode): libedit shows the prompt before it takes the terminal."""
        deadline = time.monotonic() + WAIT
        while termios.tcgetattr(self.master)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                raise AssertionError("the terminal never left canonical mode")
            time.sleep(0.01)

    def type(self, text):
        """Types text once the line editor has the terminal, as a person
        would: keys typed before would be echoed by the terminal itself as
        well."""
        self.editing()
        os.write(self.master, text)


def session_commands(kestrivo, env, home, check):
    """The commands typed at the prompt, a line end ending a word, and the
    "did you mean" warning, in one session whose standard error is the
    terminal too."""
    lib = os.path.join(home, "lib.lam")
    with open(lib, "w") as f:
        f.write("double = lambda x (+ x x);\nmacro twice double;\n")
    s = Session([kestrivo], env)
    banner = s.until(PROMPT)
    check(b":help" in banner, "the banner says how to get help: %r" % banner)

    s.type(b":help\r")
    text = s.until(PROMPT)
    for word in (b":load FILE", b":reload", b":defs", b":show NAME", b":kind TERM", b":stats on|off",
                 b":trace", b":readback", b":warn", b":gc", b":quit", b"man kestrivo"):
        check(word in text, ":help lists %r: %r" % (word, text))

    # :load runs the file as -l does: its lines echoed, its statements run.
    s.type(b":load " + lib.encode() + b"\r")
    text = s.until(PROMPT)
    check(b"double = lambda x (+ x x);" in text, ":load echoes the file: %r" % text)
    s.type(b"twice 4;\r")
    text = s.until(PROMPT)
    check(b"\n8 " in text, "the loaded definition and macro work: %r" % text)

    s.type(b":defs\r")
    text = s.until(PROMPT)
    check(b"definitions: double" in text and b"macros: twice" in text, ":defs: %r" % text)

    s.type(b"quad = lambda y (double (double y));\r")
    s.until(PROMPT)
    s.type(b":show quad\r")
    text = s.until(PROMPT)
    check(b"quad = lambda y ( double ( double y ) );" in text, ":show as written: %r" % text)
    check(re.search(rb"expanded: lambda y \( \( co(\d+) : lambda x \( \+ x x \) \) \( co\1 y \) \)", text),
          ":show as expanded: %r" % text)
    s.type(b":show twice\r")
    text = s.until(PROMPT)
    check(b"macro twice double;" in text, ":show of a macro: %r" % text)

    # :reload forgets the definitions and macros, then reads the file again,
    # which has changed in between.
    with open(lib, "w") as f:
        f.write("double = lambda x (* 2 x);\n")
    s.type(b":reload\r")
    text = s.until(PROMPT)
    check(b"double = lambda x (* 2 x);" in text, ":reload reads the changed file: %r" % text)
    s.type(b":defs\r")
    text = s.until(PROMPT)
    check(b"definitions: double\r\n" in text and b"macros: none" in text,
          ":reload forgot quad and the macro: %r" % text)

    s.type(b":stats on\r")
    s.until(PROMPT)
    s.type(b"double 5;\r")
    text = s.until(PROMPT)
    check(b"kestrivo: stats line=" in text and b"\n10 " in text, ":stats on: %r" % text)
    s.type(b":stats off\r")
    s.until(PROMPT)
    s.type(b"double 6;\r")
    text = s.until(PROMPT)
    check(b"stats line=" not in text, ":stats off: %r" % text)

    s.type(b":kind 2.0\r")
    text = s.until(PROMPT)
    check(b"real: 2 " in text, ":kind 2.0: %r" % text)
    s.type(b":kind 2\r")
    text = s.until(PROMPT)
    check(b"integer: 2 " in text, ":kind 2: %r" % text)
    s.type(b":kind cons 1 2\r")
    text = s.until(PROMPT)
    check(b"pair: " in text, ":kind of a pair: %r" % text)

    # A mistyped command: one line, and the session goes on.
    s.type(b":shwo quad\r")
    text = s.until(PROMPT)
    check(b"kestrivo: unknown command ':shwo'" in text, "a mistyped command: %r" % text)

    # A word at the end of a typed line ends there: "double" and "7" stay
    # two words.
    s.type(b"double\r")
    s.until(MORE)
    s.type(b"7;\r")
    text = s.until(PROMPT)
    check(b"\n14 " in text, "a line end ends a word at the terminal: %r" % text)

    s.type(b"doubel 3;\r")
    text = s.until(PROMPT)
    check(b"'doubel' is neither defined nor bound by a lambda; did you mean 'double'?" in text,
          "did you mean: %r" % text)

    # A command typed while a statement is unfinished drops the statement.
    s.type(b"double\r")
    s.until(MORE)
    s.type(b":defs\r")
    text = s.until(PROMPT)
    check(b"dropped" in text and b"definitions: double" in text, "a command drops the unfinished statement: %r" % text)

    s.type(b":q\r")
    s.until(b"THE END")
    status = s.proc.wait(timeout=WAIT)
    check(status == 0, ":quit ends the session with status 0, not %d" % status)


def main():
    kestrivo = sys.argv[1]
    home = tempfile.mkdtemp()
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    try:
        env = dict(os.environ, HOME=home, TERM="dumb")
        s = Session([kestrivo], env)
        start = s.until(PROMPT)
        check(b"FreeNodes = 6006" in start, "the start-up lines before the first prompt")

        s.type(b"square = lambda x (* x x);\r")
        s.until(PROMPT)
        s.type(b"square 7\r")
        s.until(MORE)  # the statement goes on: the continuation prompt
        s.type(b";\r")
        answer = s.until(PROMPT)
        check(b"49" in answer and b"newnodes = " in answer, "the answer 49: %r" % answer)
        # Each typed line shows once, after its prompt, and never again on a
        # line of its own (the echo of a run that reads a file).
        for typed in (b"square = lambda x (* x x);", b"square 7", b";"):
            check(s.seen.count(b"> " + typed + b"\r\n") == 1, "%r after a prompt: %r" % (typed, s.seen))
            check(b"\n" + typed + b"\r\n" not in s.seen, "%r echoed again: %r" % (typed, s.seen))

        # Tab completes a defined name (and an operator's: sqrt and square
        # both begin with "sq", so two Tabs list them).
        s.type(b"squ\t")
        s.until(b"square ")
        s.type(b"3;\r")
        answer = s.until(PROMPT)
        check(b"\n9 " in answer, "square completed by Tab: %r" % answer)
        s.type(b"sq\t\t")
        listed = s.until(b"square")
        check(b"sqrt" in listed, "two Tabs list sqrt and square: %r" % listed)
        s.type(b"\x15")  # Ctrl-U: the line is emptied
        s.type(b"writeln 'again;\r")
        # Ctrl-U redraws the prompt: wait for the answer and the prompt after
        # it, else Ctrl-D could be typed while the statement runs and be
        # flushed when the line editor takes the terminal again.
        s.until(b"'again\r\n")
        s.until(PROMPT)
        s.type(b"\x04")  # Ctrl-D
        s.until(b"THE END")
        status = s.proc.wait(timeout=WAIT)
        check(status == 0, "status %d after Ctrl-D" % status)

        # A one-block pool: a runaway exhausts it.  The terminal gets one
        # summary line for the statement's collections and no report; the
        # stop's message starts a line; the definition it ran through gives
        # the runaway back, so the next statement answers.
        quiet = dict(env, HOME=os.path.join(home, "quiet"))  # a history of its own
        os.mkdir(quiet["HOME"])
        g = Session([kestrivo, "-", "0"], quiet)
        g.until(PROMPT)
        g.type(b"square = lambda x (* x x);\r")
        g.until(PROMPT)
        g.type(b"omega = (lambda x (x x)) (lambda x (x x));\r")
        g.until(PROMPT)
        g.type(b"omega;\r")
        stopped = g.until(PROMPT)
        check(b"GARBAGE" not in stopped, "no collection report at the terminal: %r" % stopped)
        check(re.search(rb"\nkestrivo: [0-9,]+ collections freed [0-9,]+ nodes\r\n", stopped) is not None,
              "one summary line of the collections: %r" % stopped)
        check(re.search(rb"\nkestrivo: [0-9]+: statement stopped: the pool is exhausted", stopped) is not None,
              "the stop's message on a line of its own: %r" % stopped)
        g.type(b"square 3;\r")
        answer = g.until(PROMPT)
        check(b"\n9 " in answer and b"exhausted" not in answer, "square 3 after the runaway: %r" % answer)
        g.type(b"\x04")
        g.until(b"THE END")
        g.proc.wait(timeout=WAIT)
        # --gc-reports: every report, as a file's run prints them.
        r = Session([kestrivo, "--gc-reports", "-", "0"], quiet)
        r.until(PROMPT)
        r.type(b"(lambda x (x x)) (lambda x (x x));\r")
        reports = r.until(PROMPT)
        check(b"GARBAGE...  END OF MARKING" in reports and b"collections freed" not in reports,
              "--gc-reports prints the reports: %r" % reports)
        r.type(b"\x04")
        r.until(b"THE END")
        r.proc.wait(timeout=WAIT)

        history = os.path.join(home, ".kestrivo_history")
        text = open(history, "rb").read() if os.path.exists(history) else b""
        # libedit writes a blank inside a line as \040.
        text = text.replace(b"\\040", b" ")
        for line in (b"square = lambda x (* x x);", b"square 7", b";", b"writeln 'again;"):
            check(line in text.split(b"\n"), "%r in the history file: %r" % (line, text))

        # A second session finds the first one's lines: history runs on.
        s = Session([kestrivo], env)
        s.until(PROMPT)
        s.type(b"\x10\r")  # Ctrl-P, Enter: the last line of the first session
        s.until(b"\n'again\r\n")  # what the recalled statement prints
        s.until(PROMPT)
        s.type(b"\x04")
        s.until(b"THE END")
        s.proc.wait(timeout=WAIT)

        # A symbolic link put where the history file goes is not followed:
        # the file it names keeps its text, and the session says once that
        # it keeps no history.
        linkhome = os.path.join(home, "linked")
        os.mkdir(linkhome)
        target = os.path.join(home, "precious")
        with open(target, "wb") as f:
            f.write(b"not a history\n")
        os.symlink(target, os.path.join(linkhome, ".kestrivo_history"))
        s = Session([kestrivo], dict(env, HOME=linkhome))
        s.until(PROMPT)
        s.type(b"writeln 'one;\r")
        s.until(PROMPT)
        s.type(b"writeln 'two;\r")
        s.until(PROMPT)
        s.type(b"\x04")
        s.until(b"THE END")
        s.proc.wait(timeout=WAIT)
        check(open(target, "rb").read() == b"not a history\n", "the history written through a link")
        check(s.seen.count(b"cannot write the history file") == 1
              and b"it is a symbolic link" in s.seen, "one line about the link: %r" % s.seen)

        # Ctrl-C: the runaway statement stops, the prompt comes back; a
        # statement begun on an earlier line: dropped at its continuation
        # prompt; a line being typed and nothing begun: nothing to drop.
        # The session goes on.  Each signal comes while the line editor
        # waits for a key, as a person's Ctrl-C does.
        s = Session([kestrivo, "--quiet-gc"], env)
        s.until(PROMPT)
        s.type(RUNAWAY + b"\r")
        time.sleep(0.5)
        s.proc.send_signal(signal.SIGINT)
        stopped = s.until(PROMPT)
        check(b"statement interrupted after" in stopped, "the runaway stopped: %r" % stopped)
        s.type(b"(lambda x\r")
        s.until(MORE)
        s.editing()
        time.sleep(0.3)
        s.proc.send_signal(signal.SIGINT)
        dropped = s.until(PROMPT)
        check(b"interrupted: the unfinished statement is dropped" in dropped,
              "the statement being typed dropped: %r" % dropped)
        s.type(b"writeln 'never")
        time.sleep(0.3)
        s.proc.send_signal(signal.SIGINT)
        idle = s.until(PROMPT)
        check(b"interrupted: no statement was being read" in idle, "Ctrl-C on a line not entered: %r" % idle)
        s.type(b"writeln 'alive;\r")
        alive = s.until(b"'alive")
        check(b"'never" not in alive, "the line given up ran: %r" % alive)
        s.until(PROMPT)
        s.type(b"\x04")
        s.until(b"THE END")
        status = s.proc.wait(timeout=WAIT)
        check(status == 3, "status %d after statements were stopped" % status)

        # --echo puts typed lines into the transcript as well.
        s = Session([kestrivo, "--echo"], env)
        s.until(PROMPT)
        s.type(b"writeln 'hi;\r")
        s.until(PROMPT)
        s.type(b"\x04")
        s.until(b"THE END")
        s.proc.wait(timeout=WAIT)
        check(b"> writeln 'hi;\r\nwriteln 'hi;\r\n'hi\r\n" in s.seen,
              "--echo shows the typed line again: %r" % s.seen)

        session_commands(kestrivo, env, home, check)
    except AssertionError as e:
        failures.append(str(e))
    finally:
        for s in SESSIONS:
            if s.proc.poll() is None:
                s.proc.kill()
                s.proc.wait()
            os.close(s.master)
        shutil.rmtree(home, ignore_errors=True)

    for f in failures:
        print("FAIL:", f)
    if failures:
        return 1
    print("terminal session: prompts, single echo, completion, history, Ctrl-D and the session's commands as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
