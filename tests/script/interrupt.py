#!/usr/bin/env python3
"""Ctrl-C steers a run instead of ending it.

  interrupt.py KESTRIVO

Starts KESTRIVO on a pipe with a runaway statement (fib 40 by
self-application: hours of work in a pool it never fills), waits until standard error shows its first
rewrite, and sends a real SIGINT.  The statement must stop with its report
(the term so far and its newnodes line, "interrupted" on standard error),
a second SIGINT while the program waits for input must drop nothing that
was read, and the statements sent afterwards must still get their answers;
the exit status is 3, and nothing already printed is lost.
Catches: Ctrl-C killing the process (status 130, buffered output lost), a
blocking read restarted so the interrupt goes unseen, the interrupt left
set so that it stops the next statement.
"""
import signal
import subprocess
import sys
import time

RUNAWAY = b'(lambda f (f f 40)) (lambda s n ((< n 2) n (+ (s s (- n 1)) (s s (- n 2)))));'


def fail(why, out=b"", err=b""):
    print("interrupt: " + why)
    if out:
        print("--- standard output (end) ---\n" + out.decode(errors="replace")[-1500:])
    if err:
        print("--- standard error ---\n" + err.decode(errors="replace")[-1500:])
    return 1


def main():
    binary = sys.argv[1]
    # --trace=1 prints the first rewrite at once, so the test knows the
    # reduction is under way; the other rewrites are only counted.
    proc = subprocess.Popen([binary, "--quiet-gc", "--trace=1", "-", "199"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    proc.stdin.write(RUNAWAY + b"\n")
    proc.stdin.flush()
    first = proc.stderr.readline()
    if not first.startswith(b"kestrivo: trace beta "):
        proc.kill()
        return fail("no trace line before the interrupt: %r" % first)
    time.sleep(0.2)
    proc.send_signal(signal.SIGINT)
    proc.stdin.write(b"(lambda x (* x x)) 3;\n")
    proc.stdin.flush()
    time.sleep(0.5)
    proc.send_signal(signal.SIGINT)  # the program now waits for its next line
    time.sleep(0.2)
    try:
        out, err = proc.communicate(input=b"(lambda x (* x x)) 4;\n", timeout=120)
    except subprocess.TimeoutExpired:
        proc.kill()
        return fail("the run did not end after its input did")
    if proc.returncode != 3:
        return fail("exit status %d, expected 3" % proc.returncode, out, err)
    lines = out.split(b"\n")
    try:
        at = lines.index(RUNAWAY)
    except ValueError:
        return fail("the runaway statement's echo is lost", out, err)
    # The echo, the two terms, the term as the interrupt left it, newnodes.
    if len(lines) < at + 5 or not lines[at + 4].startswith(b"newnodes = "):
        return fail("the interrupted statement's report is not complete", out, err)
    for answer in (b"9 ", b"16 "):
        if answer not in lines[at + 5:]:
            return fail("a statement after the interrupt has no answer %r" % answer, out, err)
    if lines[-2] != b"THE END...................":
        return fail("the run did not end with its closing line", out, err)
    if b"kestrivo: 1: statement interrupted after " not in err:
        return fail("no diagnostic for the interrupted statement", out, err)
    if b"kestrivo: interrupted: the statement being read is dropped" not in err:
        return fail("no diagnostic for the interrupt at the read", out, err)
    print("interrupt: the statement stopped, the run went on: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
