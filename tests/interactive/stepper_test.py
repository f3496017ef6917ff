#!/usr/bin/env python3
"""--step at a terminal: a pseudo-terminal stands in for the user's.

  stepper_test.py KESTRIVO

The program comes from a file and the transcript goes to a file, standard
input is the terminal.  Before each step the terminal shows the step just
made (its number, rule and node) and the whole term, and waits: Enter makes
one step, a number that many, c runs to the end of the statement, q stops
it as Ctrl-C does ("normal;" then reduces on).  The transcript must be the
one the run without --step writes, but for what the stop changes, and it
must be the same as a run stopped by the step limit at the same step.
Then --step with no terminal at all says so and runs as without it.  The
runs leave the collection reports out (--quiet-gc), which the stress build
prints at every allocation.
"""
import os
import pty
import subprocess
import sys
import tempfile

from terminal_test import Session

PROGRAM = b"""(lambda x (+ x x)) (* 2 3);
(lambda x (+ x x)) (* 2 3);
normal;
"""
PROMPT = b"step> "

failures = []


def check(ok, text):
    if not ok:
        failures.append(text)
        print("FAIL: " + text)


def run(kestrivo, args, program):
    proc = subprocess.run([kestrivo] + args + [program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    return proc.returncode, proc.stdout, proc.stderr


def stepping(kestrivo, folder):
    program = os.path.join(folder, "prog.lam")
    with open(program, "wb") as f:
        f.write(PROGRAM)
    transcript = os.path.join(folder, "transcript")
    # Standard input and error are the terminal, the transcript a file.
    master, slave = pty.openpty()
    with open(transcript, "wb") as out:
        proc = subprocess.Popen([kestrivo, "--step", "--quiet-gc", program], stdin=slave, stdout=out, stderr=slave,
                                close_fds=True, start_new_session=True)
    os.close(slave)
    s = Session.__new__(Session)
    s.master, s.proc, s.seen, s.pos = master, proc, b"", 0
    try:
        # First statement: step 0, then Enter, a number, c.
        text = s.until(PROMPT)
        check(b"-- step 0: before the first step" in text and b"( lambda x ( + x x ) ) ( * 2 3 )" in text,
              "the term before the first step: %r" % text)
        check(b"Enter: one step" in text, "the keys explained at the first wait: %r" % text)
        os.write(master, b"\n")
        text = s.until(PROMPT)
        check(b"-- step 1: beta co" in text and b"sub ( + x x ) ( cons x ( * 2 3 ) 0 )" in text,
              "Enter makes one step, beta: %r" % text)
        os.write(master, b"2\n")
        text = s.until(PROMPT)
        check(b"-- step 3: lookup co" in text and b"ident ( co" in text and b"-- step 2" not in text,
              "2 makes two steps, to the lookup: %r" % text)
        os.write(master, b"what\n")
        text = s.until(PROMPT)
        check(b"Enter, a number of steps, c or q" in text, "a word it does not know: %r" % text)
        os.write(master, b"c\n")
        # Second statement: one step, then q stops it.
        text = s.until(PROMPT)
        check(b"-- step 0: before the first step" in text and b"-- step 4" not in text,
              "c runs the first statement to its end, the second waits: %r" % text)
        check(b"Enter: one step" not in text, "the keys are explained once: %r" % text)
        os.write(master, b"\n")
        s.until(PROMPT)
        os.write(master, b"q\n")
        s.until(b"statement interrupted after 1 steps")
        # "normal;" reduces on, stepped again from its own step 0.
        text = s.until(PROMPT)
        check(b"-- step 0: before the first step" in text and b"sub ( + x x ) ( cons x ( * 2 3 ) 0 )" in text,
              "normal; waits before its first step, at the stopped term: %r" % text)
        os.write(master, b"c\n")
        status = proc.wait(timeout=20)
        check(status == 3, "a statement stopped by q ends the run with status 3, not %d" % status)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(master)
    with open(transcript, "rb") as f:
        stepped = f.read()
    # The first statement's lines are the plain run's; the second, stopped
    # by q after its beta step, prints the term that step left; "normal;"
    # ends it.
    _, plain, _ = run(kestrivo, ["--quiet-gc"], program)
    statement = b"( lambda x ( + x x ) ) ( * 2 3 ) \n"
    want = (plain.split(b"(lambda x (+ x x)) (* 2 3);\n")[0] + b"(lambda x (+ x x)) (* 2 3);\n" + statement * 2 +
            b"12 \nnewnodes = 3\n(lambda x (+ x x)) (* 2 3);\n" + statement * 2 +
            b"sub ( + x x ) ( cons x ( * 2 3 ) 0 ) \nnewnodes = 2\nnormal;\n12 \nnewnodes = 1\nTHE END...................\n")
    check(stepped == want, "the transcript:\n%r\nwant\n%r" % (stepped, want))


def noterminal(kestrivo, folder):
    program = os.path.join(folder, "prog.lam")
    proc = subprocess.run([kestrivo, "--step", "--quiet-gc", program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60, start_new_session=True)
    _, plain, _ = run(kestrivo, ["--quiet-gc"], program)
    check(proc.stdout == plain, "without a terminal, the transcript is the plain run's")
    check(proc.stderr == b"kestrivo: --step: no terminal to step at; the run goes on without stepping\n",
          "without a terminal, one line says so: %r" % proc.stderr)


def main():
    kestrivo = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        stepping(kestrivo, folder)
        noterminal(kestrivo, folder)
    print("stepper: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
