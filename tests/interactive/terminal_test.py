#!/usr/bin/env python3
"""kestrivo at a terminal: a pseudo-terminal stands in for the user's.

  terminal_test.py KESTRIVO

Checks that a prompt asks for each statement and another for its
continuation, that a typed line shows once (the terminal's own display, no
echo into the transcript), that Tab completes a name, that the history file
gets the typed lines, and that Ctrl-D ends the run as the end of input does:
THE END, status 0.
"""
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time

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

    def type(self, text):
        """Types text once the line editor has the terminal (out of
        canonical mode), as a person would: libedit shows the prompt before
        it takes the terminal, and keys typed in between would be echoed by
        the terminal itself as well."""
        deadline = time.monotonic() + WAIT
        while termios.tcgetattr(self.master)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                raise AssertionError("the terminal never left canonical mode")
            time.sleep(0.01)
        os.write(self.master, text)


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
        s.until(PROMPT)
        s.type(b"\x04")  # Ctrl-D
        s.until(b"THE END")
        status = s.proc.wait(timeout=WAIT)
        check(status == 0, "status %d after Ctrl-D" % status)

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
    print("terminal session: prompts, single echo, history and Ctrl-D as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
