#!/usr/bin/env python3
"""Ctrl-C steers a run instead of ending it.

  interrupt.py KESTRIVO CASE

Each case sends real SIGINTs to the real binary.

runaway: starts KESTRIVO on a pipe with a runaway statement (fib 40 by
self-application: hours of work in a pool it never fills), waits until standard error shows its first
rewrite, and sends a real SIGINT.  The statement must stop with its report
(the term so far and its newnodes line, "interrupted" on standard error),
a second SIGINT while the program waits for input must drop nothing that
was read, and the statements sent afterwards must still get their answers;
the exit status is 3, and nothing already printed is lost.
Catches: Ctrl-C killing the process (status 130, buffered output lost), a
blocking read restarted so the interrupt goes unseen, the interrupt left
set so that it stops the next statement.

full-pipe: a program of 200,000 statements whose transcript goes to a pipe
nobody reads for a second, so that the program waits in a write when the
SIGINT comes.  The run must go on to its end, every statement echoed and
answered, with no write error.  Catches: a write interrupted before it
wrote a byte taken for a failed write (status 1, "write error", the rest of
the transcript lost).
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

RUNAWAY = b'(lambda f (f f 40)) (lambda s n ((< n 2) n (+ (s s (- n 1)) (s s (- n 2)))));'


def fail(why, out=b"", err=b""):
    print("interrupt: " + why)
    if out:
        print("--- standard output (end) ---\n" + out.decode(errors="replace")[-1500:])
    if err:
        print("--- standard error ---\n" + err.decode(errors="replace")[-1500:])
    return 1


def runaway(binary):
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


STATEMENT = b"(lambda x (+ x 1)) 2;"
STATEMENTS = 200000


def full_pipe(binary):
    with tempfile.NamedTemporaryFile(suffix=".lam", delete=False) as f:
        f.write((STATEMENT + b"\n") * STATEMENTS)
        path = f.name
    try:
        proc = subprocess.Popen([binary, path], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(0.5)  # the pipe is full long before: the program waits in a write
        proc.send_signal(signal.SIGINT)
        time.sleep(0.5)
        try:
            out, err = proc.communicate(timeout=300)
        except subprocess.TimeoutExpired:
            proc.kill()
            return fail("the run did not end")
    finally:
        os.unlink(path)
    if proc.returncode not in (0, 3) or b"write error" in err:
        return fail("status %d after the interrupt" % proc.returncode, out, err)
    lines = out.split(b"\n")
    echoes = lines.count(STATEMENT)
    answers = sum(1 for line in lines if line.startswith(b"newnodes = "))
    if echoes != STATEMENTS or answers != STATEMENTS:
        return fail("%d echoes and %d newnodes lines of %d statements" % (echoes, answers, STATEMENTS),
                    out, err)
    if lines[-2] != b"THE END...................":
        return fail("the run did not end with its closing line", out, err)
    print("interrupt: the write went on, every statement answered: ok")
    return 0


CASES = {"runaway": runaway, "full-pipe": full_pipe}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        sys.exit(__doc__)
    return CASES[sys.argv[2]](sys.argv[1])


if __name__ == "__main__":
    sys.exit(main())
