#!/usr/bin/env python3
"""Ctrl-C steers a run instead of ending it; a second one ends a run that
reads a file or a pipe.

  interrupt.py --build plain|sanitize|stress KESTRIVO CASE

Each case sends real SIGINTs to the real binary.  The programs of many
short statements are as long as a run of the build kind needs to be still
running when the signals come, and no longer: the stress build collects
before every allocation.

runaway: starts KESTRIVO on a pipe with a runaway statement (fib 40 by
self-application: hours of work in a pool it never fills), waits until
standard error shows its first rewrite, and sends a SIGINT.  The statement
must stop with its report (the term so far and its newnodes line,
"interrupted" on standard error), and the statement sent next must get its
answer.  A second SIGINT, while the program waits for input, ends the run:
status 3, nothing already printed lost, no closing line.  Catches: Ctrl-C
killing the process (status 130, buffered output lost), a blocking read
restarted so the interrupt goes unseen, the interrupt left set so that it
stops the next statement, a run from a pipe that Ctrl-C cannot end.

full-pipe: a program of 200,000 statements whose transcript goes to a pipe
nobody reads for a second, so that the program waits in a write when the
SIGINT comes.  The run must go on to its end, every statement echoed and
answered (or stopped with its newnodes line), with no write error.
Catches: a write interrupted before it wrote a byte taken for a failed
write (status 1, "write error", the rest of the transcript lost).

short-statements: a program of a million short statements, none reducing
for as long as the reducer waits between two looks at the interrupt.  One
SIGINT must be acted on (a statement stopped, or the note that it came
after one ended), and the run goes on to its end.  Catches: an interrupt
cleared before each statement, or seen only by a long reduction, so that
one landing anywhere else is dropped.

twice: the same program and two SIGINTs: the run ends at the second, with
status 3, the output so far and no closing line.  Catches: a script that no
number of Ctrl-C can stop.

steered: the same with --steer-interrupts and three SIGINTs: each steers
(a statement stopped, or the note that it came after one ended) and the run
goes on to its end.  Catches: the option forgotten when the program's source
is selected, so that a driving program (the notebook kernel) loses its
session to a user's second interrupt.

pieces: a pipe delivers "writeln 'first; (+ 1 ", then the SIGINT, then
"2);" and one more statement.  The complete statement already read runs,
the unfinished one is dropped with its tail, the next one runs, and the
status is 3.  Catches: the whole line read so far dropped with the complete
statements on it, the tail run as a statement of its own ("2"), a status
that does not say a statement was stopped.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

RUNAWAY = b'(lambda f (f f 40)) (lambda s n ((< n 2) n (+ (s s (- n 1)) (s s (- n 2)))));'
THEEND = b"THE END..................."
STATEMENT = b"(lambda x (+ x 1)) 2;"


def fail(why, out=b"", err=b""):
    print("interrupt: " + why)
    if out:
        print("--- standard output (end) ---\n" + out.decode(errors="replace")[-1500:])
    if err:
        print("--- standard error ---\n" + err.decode(errors="replace")[-1500:])
    return 1


# Statements of the long programs, by build kind: each run lasts well over
# the 0.4 s the signals take to come, and ends within a minute or so.
SHORT_STATEMENTS = {"plain": 1000000, "sanitize": 200000, "stress": 20000}
FULL_PIPE_STATEMENTS = {"plain": 200000, "sanitize": 100000, "stress": 20000}


def program(statements):
    """A temporary program of the short statement, repeated."""
    with tempfile.NamedTemporaryFile(suffix=".lam", delete=False) as f:
        f.write((STATEMENT + b"\n") * statements)
        return f.name


def finish(proc, timeout=300):
    """The rest of the run's output, or None when it does not end."""
    if proc.stdin is not None and proc.stdin.closed:
        proc.stdin = None  # communicate would flush it
    try:
        return proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        return None


def runaway(binary, build):
    # --trace=1 prints the first rewrite at once, so the test knows the
    # reduction is under way; the other rewrites are only counted.
    proc = subprocess.Popen([binary, "--quiet-gc", "--trace=1", "-", "199"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    proc.stdin.write(RUNAWAY + b"\n")
    proc.stdin.flush()
    first = proc.stderr.readline()
    if not first.startswith(b"kestrivo: trace 1 beta "):
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
        proc.stdin.write(b"(lambda x (* x x)) 4;\n")
        proc.stdin.close()
    except BrokenPipeError:
        pass  # the run has ended already
    got = finish(proc, 120)
    if got is None:
        return fail("the run did not end")
    out, err = got
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
    if b"9 " not in lines[at + 5:]:
        return fail("the statement after the interrupt has no answer", out, err)
    if b"16 " in lines or THEEND in lines:
        return fail("the run went on after the second interrupt", out, err)
    if b"kestrivo: 1: statement interrupted after " not in err:
        return fail("no diagnostic for the interrupted statement", out, err)
    if not err.endswith(b"kestrivo: interrupted again: the run ends\n"):
        return fail("no diagnostic for the end of the run", out, err)
    print("interrupt: the statement stopped, the run went on, the second ended it: ok")
    return 0


def full_pipe(binary, build):
    statements = FULL_PIPE_STATEMENTS[build]
    path = program(statements)
    try:
        proc = subprocess.Popen([binary, path], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The first byte comes with the first full buffer, long after the
        # handler is in place; the pipe is soon full again, and the program
        # waits in a write when the signal comes.  (Read from the descriptor:
        # communicate does not see what a buffered read kept.)
        first = os.read(proc.stdout.fileno(), 1)
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        time.sleep(0.5)
        got = finish(proc)
    finally:
        os.unlink(path)
    if got is None:
        return fail("the run did not end")
    out, err = first + got[0], got[1]
    if proc.returncode not in (0, 3) or b"write error" in err:
        return fail("status %d after the interrupt" % proc.returncode, out, err)
    lines = out.split(b"\n")
    echoes = lines.count(STATEMENT)
    answers = sum(1 for line in lines if line.startswith(b"newnodes = "))
    if echoes != statements or answers != statements:
        return fail("%d echoes and %d newnodes lines of %d statements" % (echoes, answers, statements),
                    out, err)
    if lines[-2] != THEEND:
        return fail("the run did not end with its closing line", out, err)
    print("interrupt: the write went on, every statement answered: ok")
    return 0


def short_run(binary, build, signals, options=()):
    """The short statements, their transcript in a file, and the SIGINTs
    0.2 s apart; the status, the transcript and standard error."""
    path = program(SHORT_STATEMENTS[build])
    with tempfile.TemporaryFile() as transcript:
        try:
            proc = subprocess.Popen([binary] + list(options) + [path], stdin=subprocess.DEVNULL,
                                    stdout=transcript, stderr=subprocess.PIPE)
            # The transcript's first buffer is written once the run is under
            # way, the handler long in place.
            deadline = time.monotonic() + 60
            while os.fstat(transcript.fileno()).st_size == 0 and time.monotonic() < deadline:
                time.sleep(0.01)
            for _ in range(signals):
                time.sleep(0.2)
                proc.send_signal(signal.SIGINT)
            got = finish(proc)
        finally:
            os.unlink(path)
        transcript.seek(0)
        out = transcript.read()
    if got is None:
        return None, out, b""
    return proc.returncode, out, got[1]


def short_statements(binary, build):
    status, out, err = short_run(binary, build, 1)
    if status is None:
        return fail("the run did not end", out)
    acted = (b": statement interrupted after " in err or
             b": interrupted after the statement's end" in err)
    if not acted:
        return fail("the interrupt was dropped (status %s)" % status, out, err)
    if status not in (0, 3) or not out.endswith(THEEND + b"\n"):
        return fail("the run did not go on to its end (status %s)" % status, out, err)
    if err.count(b"\n") != 1:
        return fail("one interrupt, more than one diagnostic", out, err)
    print("interrupt: a short statement's interrupt acted on, the run went on: ok")
    return 0


def twice(binary, build):
    status, out, err = short_run(binary, build, 2)
    if status is None:
        return fail("the run did not end", out)
    if status != 3 or out.endswith(THEEND + b"\n"):
        return fail("the run went on after a second interrupt (status %s)" % status, out, err)
    if not err.endswith(b"kestrivo: interrupted again: the run ends\n"):
        return fail("no diagnostic for the end of the run", out, err)
    if not out.startswith(b"THIS IS KESTRIVO") or out.count(STATEMENT) == 0:
        return fail("the output so far is lost", out, err)
    print("interrupt: the second interrupt ended the run: ok")
    return 0


def steered(binary, build):
    status, out, err = short_run(binary, build, 3, ["--steer-interrupts"])
    if status is None:
        return fail("the run did not end", out)
    if b"interrupted again" in err or not out.endswith(THEEND + b"\n"):
        return fail("--steer-interrupts: the run did not go on to its end (status %s)" % status, out, err)
    acted = err.count(b": statement interrupted after ") + err.count(b": interrupted after the statement's end")
    if acted != 3 or err.count(b"\n") != 3 or status not in (0, 3):
        return fail("--steer-interrupts: %d of three interrupts acted on (status %s)" % (acted, status), out, err)
    print("interrupt: three interrupts steered, the run went on to its end: ok")
    return 0


def pieces(binary, build):
    proc = subprocess.Popen([binary, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    # The banner is out before the first read: the handler is in place.
    first = os.read(proc.stdout.fileno(), 1)
    proc.stdin.write(b"writeln 'first; (+ 1 ")
    proc.stdin.flush()
    time.sleep(0.5)  # the program waits for the rest of the line
    proc.send_signal(signal.SIGINT)
    time.sleep(0.3)
    proc.stdin.write(b"2);\n(lambda x (* x x)) 5;\n")
    proc.stdin.close()
    got = finish(proc, 60)
    if got is None:
        return fail("the run did not end")
    out, err = first + got[0], got[1]
    lines = out.split(b"\n")
    if b"'first" not in lines:
        return fail("the complete statement before the interrupt did not run", out, err)
    if b"2 " in lines or b"3 " in lines:
        return fail("the interrupted statement or its tail ran", out, err)
    if b"25 " not in lines:
        return fail("the statement after the interrupted one did not run", out, err)
    if proc.returncode != 3:
        return fail("exit status %d, expected 3" % proc.returncode, out, err)
    if err != b"kestrivo: 1: interrupted: the unfinished statement is dropped\n":
        return fail("not the one diagnostic of the dropped statement", out, err)
    print("interrupt: a line in pieces: the complete statement ran, the unfinished one dropped: ok")
    return 0


CASES = {"runaway": runaway, "full-pipe": full_pipe, "short-statements": short_statements,
         "twice": twice, "steered": steered, "pieces": pieces}


def main():
    args = sys.argv[1:]
    if (len(args) != 4 or args[0] != "--build" or args[1] not in SHORT_STATEMENTS
            or args[3] not in CASES):
        sys.exit(__doc__)
    return CASES[args[3]](args[2], args[1])


if __name__ == "__main__":
    sys.exit(main())
