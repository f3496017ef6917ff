#!/usr/bin/env python3
"""kestrivo reading a pipe: its output must arrive as it is made, not when
the input ends.

  pipe_test.py KESTRIVO

Each answer is read while the pipe is still open; the interpreter would hang
the test (caught by a time limit) if it kept its output buffered until then.
"""
import os
import re
import select
import subprocess
import sys
import tempfile

WAIT = 20  # seconds before a missing answer counts as a hang
# A collection's report, which a build that collects before every
# allocation prints anywhere.
REPORT = re.compile(rb"\nGARBAGE\.\.\.  END OF MARKING\.\.\. freenodes = -?\d+\n")


class Piped:
    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.seen = b""
        self.pos = 0

    def until(self, text):
        start = self.pos
        fd = self.proc.stdout.fileno()
        while self.seen.find(text, start) < 0:
            ready, _, _ = select.select([fd], [], [], WAIT)
            if not ready:
                raise AssertionError("no %r while the pipe is open; got %r" % (text, self.seen))
            chunk = os.read(fd, 65536)
            if not chunk:
                raise AssertionError("output ended before %r: %r" % (text, self.seen))
            self.seen += chunk
        self.pos = self.seen.find(text, start) + len(text)
        return self.seen[start:self.pos]

    def send(self, text):
        self.proc.stdin.write(text)
        self.proc.stdin.flush()

    def close(self):
        self.proc.stdin.close()
        rest = self.proc.stdout.read()
        self.seen += rest
        return self.proc.wait(timeout=WAIT)


def main():
    kestrivo = sys.argv[1]
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    with tempfile.TemporaryDirectory() as tmp:
        prelude = os.path.join(tmp, "prelude.lam")
        with open(prelude, "w") as f:
            f.write("square = lambda x (* x x);\nsquare 3;\n")
        try:
            # The start-up lines come before any input.
            p = Piped([kestrivo])
            p.until(b"FreeNodes = 6006\n")
            p.send(b"+ 1 2;\n")
            answer = REPORT.sub(b"", p.until(b"newnodes = 0\n"))
            check(answer == b"+ 1 2;\n+ 1 2 \n+ 1 2 \n3 \nnewnodes = 0\n", "the answer to + 1 2: %r" % answer)
            status = p.close()
            check(status == 0, "status %d" % status)
            check(p.seen.endswith(b"THE END...................\n"), "THE END at the end: %r" % p.seen)
            check(b"kestrivo>" not in p.seen, "no prompt when the input is a pipe: %r" % p.seen)

            # A file to load, then the pipe: the file's answers arrive before
            # the pipe says anything, and each statement's after it.
            p = Piped([kestrivo, "-l", prelude])
            p.until(b"square 3;\n")
            answer = p.until(b"newnodes = 3\n")
            check(b"\n9 \n" in answer, "the loaded file's answer 9: %r" % answer)
            p.send(b"square 5;\n")
            answer = p.until(b"newnodes = 3\n")
            check(b"\n25 \n" in answer, "the answer 25: %r" % answer)
            p.send(b"writeln 'done")
            p.send(b";\n")
            check(p.until(b"'done\n").endswith(b"writeln 'done;\n'done\n"), "writeln 'done: %r" % p.seen)
            status = p.close()
            check(status == 0, "status %d" % status)
        except AssertionError as e:
            failures.append(str(e))

    for f in failures:
        print("FAIL:", f)
    if failures:
        return 1
    print("pipe: every answer arrived while the pipe was open")
    return 0


if __name__ == "__main__":
    sys.exit(main())
