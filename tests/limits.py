#!/usr/bin/env python3
"""Runs the real binary where memory or the output fails it, as a constrained
job would meet it, and checks that every run ends with its report and its
status, never with a signal.

  limits.py --build plain|sanitize|stress KESTRIVO CASE

CASE is one of the groups below.  The memory cases run the binary under
limits on its address space (RLIMIT_AS, as `ulimit -v` sets it) from 16 MB
to 4 GB, with an 8 MB main stack, on inputs that need more than the smaller
limits give: a long line, a deep term, a big pool, a big token array.  At
each limit the run must end with one of the endings listed for it.  The
output cases write the transcript to /dev/full and to a pipe whose reader is
gone while SIGPIPE is ignored: status 1 and one line naming the error, also
when the write that failed was the C library's own flush.

A sanitizer build reserves terabytes of shadow memory at start, so no limit
on the address space can apply to it: its memory cases exit 77, which ctest
reports as skipped.  The stress build collects before every allocation, which
makes the deep term's 400,000 allocations on a million-node pool take hours:
that case is skipped there too, with its reason.
"""
import os
import re
import resource
import signal
import subprocess
import sys
import tempfile

SKIP = 77
MB = 1 << 20
LIMITS = [16 * MB, 64 * MB, 128 * MB, 1024 * MB, 4096 * MB]
THEEND = b"THE END...................\n"


def limited(limit):
    """A preexec_fn that puts the child under the address-space limit."""
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        resource.setrlimit(resource.RLIMIT_STACK, (8 * MB, 8 * MB))
    return apply


# A run that has not ended after this long never will: the endless line
# was read for ever, as the binary once did, holding all it could.
TIMEOUT = 300


def run(binary, args, program, limit):
    """Runs the program under the limit: args follow the program's path, or
    stand around it where they hold {lam}.  A status of None: it did not end."""
    with tempfile.NamedTemporaryFile(suffix=".lam", delete=False) as f:
        f.write(program)
        path = f.name
    argv = [path if a == "{lam}" else a for a in args] if "{lam}" in args else [path] + args
    try:
        proc = subprocess.run([binary] + argv, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              preexec_fn=limited(limit), timeout=TIMEOUT)
    except subprocess.TimeoutExpired as e:
        return None, e.stdout or b"", e.stderr or b""
    finally:
        os.unlink(path)
    return proc.returncode, proc.stdout, proc.stderr


# Endings: (status, pattern the transcript's end must match).
def ending(status, tail):
    return (status, re.compile(tail, re.S))


LINE_TOO_LONG = ending(0, rb"\nline is too long for memory in yomikomi\n" + re.escape(THEEND) + rb"\Z")
# --keep-going past a dropped line: the next line's statement runs.
LINE_DROPPED = ending(3, rb"\n'one\nline is too long for memory in yomikomi\nwriteln 'two;\n'two\n"
                      + re.escape(THEEND) + rb"\Z")
WORD_NO_MEMORY = ending(0, rb"\nword is too long for memory in yomikomi\n" + re.escape(THEEND) + rb"\Z")
WORD_REPORTED = ending(0, rb"\nword is too long in yomikomi: a{40000000}\n" + re.escape(THEEND) + rb"\Z")
POOL_OVER = ending(1, rb"\nMEMORY OVER (\d+)\n\Z")
TOKENS_OVER = lambda n: ending(1, rb"\nMEMORY OVER nn%d\n\Z" % n)
DEPTH_OVER = ending(0, rb"\ndepth is overflow in (fterm|printterm|expand|reduce)\nnewnodes = \d+\n"
                    + re.escape(THEEND) + rb"\Z")
DEEP_RESULT = ending(0, rb"\n200001 \nnewnodes = 0\nexit;\n" + re.escape(THEEND) + rb"\Z")
EXHAUSTED = ending(0, rb"\nGARBAGE\.\.\.  END OF MARKING\.\.\. freenodes = 0\nnewnodes = 0\n"
                   + re.escape(THEEND) + rb"\Z")
EXITED = ending(0, rb"\nexit;\n" + re.escape(THEEND) + rb"\Z")
ADDED = ending(0, rb"\n3 \nnewnodes = \d+\nexit;\n" + re.escape(THEEND) + rb"\Z")


def deep(levels):
    return b"+ 1 ( " * levels + b"1" + b" )" * levels + b";\nexit;\n"


# Each case: the program, its arguments after the file, and per limit the
# endings allowed there.  Where a limit sits close to what a run needs, more
# than one ending is allowed; far from it, exactly one.
def cases():
    word = b"a" * 40000000 + b";\nexit;\n"
    small = b"(lambda x (+ x 1)) 2;\nexit;\n"
    comment = b"writeln 'one;\n%" + b"a" * 40000000 + b"%\nwriteln 'two;\n"
    return {
        # A 40 MB comment line between two statements, with --keep-going:
        # only what the line held is dropped, and the statement on the next
        # line runs.
        "long-comment": [(comment, ["--keep-going", "{lam}"], {
            16 * MB: [LINE_DROPPED],
            64 * MB: [LINE_DROPPED],
        })],
        # An endless line (-l /dev/zero): the report as soon as memory is
        # refused, and the run's usual end, without reading on for ever.
        "endless-line": [(b"writeln 'never;\n", ["-l", "/dev/zero", "{lam}"], {
            64 * MB: [LINE_TOO_LONG],
        })],
        # A 40 MB line of one word: too long to hold under the small limits;
        # under the large ones read, echoed and reported whole.
        "long-line": [(word, [], {
            16 * MB: [LINE_TOO_LONG],
            64 * MB: [LINE_TOO_LONG],
            128 * MB: [LINE_TOO_LONG, WORD_NO_MEMORY, WORD_REPORTED],
            1024 * MB: [WORD_REPORTED],
            4096 * MB: [WORD_REPORTED],
        })],
        # A term 200,000 levels deep on a million-node pool: the pool or the
        # token array refused, or nesting deeper than the stack a middle
        # limit leaves, or the whole result.
        "deep-term": [(deep(200000), ["999", "1000000"], {
            16 * MB: [POOL_OVER],
            64 * MB: [POOL_OVER, TOKENS_OVER(1000000)],
            128 * MB: [DEPTH_OVER, DEEP_RESULT],
            1024 * MB: [DEEP_RESULT],
            4096 * MB: [DEEP_RESULT],
        })],
        # The largest pool there is, refused under every limit with the
        # first block that does not fit; and a 48 MB pool that fits in 128 MB
        # and leaves the run its stack.
        "big-pool": [(small, ["262143"], {limit: [POOL_OVER] for limit in LIMITS}),
                     (small, ["2000"], {16 * MB: [POOL_OVER], 128 * MB: [ADDED],
                                        1024 * MB: [ADDED]})],
        # 7,600,000 token slots take some 300 MB with the parser's tables;
        # with the stack sized from them too, they fit under 1 GB.  The
        # 5 MB term then runs out of nodes in its parse.
        "big-tokens": [(b"exit;\n", ["5", "7600000"], {
            16 * MB: [TOKENS_OVER(7600000)],
            128 * MB: [TOKENS_OVER(7600000)],
            1024 * MB: [EXITED],
            4096 * MB: [EXITED],
        }), (deep(830000), ["5", "7600000"], {4096 * MB: [EXHAUSTED]})],
    }


def check_memory(binary, name):
    failures = 0
    for program, args, limits in cases()[name]:
        for limit, endings in limits.items():
            status, out, err = run(binary, args, program, limit)
            what = "%s with %s under %d MB" % (name, " ".join(args) or "no arguments", limit // MB)
            fault = None
            if status is None:
                fault = "still running after %d s" % TIMEOUT
            elif status < 0:
                fault = "ended by signal %d" % -status
            elif b"terminate called" in err or b"Aborted" in err:
                fault = "aborted: %r" % err[:200]
            else:
                matched = [e for e in endings if e[0] == status and e[1].search(out)]
                if not matched:
                    fault = "status %d, transcript ends %r" % (status, out[-200:])
                elif matched[0] is POOL_OVER:
                    # The report names the first block that does not fit: no
                    # more blocks than the limit can hold.
                    fits = int(POOL_OVER[1].search(out).group(1))
                    if fits * 1001 * 16 > limit:
                        fault = "MEMORY OVER %d is more than %d MB holds" % (fits, limit // MB)
            print("%s: %s" % (what, fault or "ok"))
            failures += fault is not None
    return failures


# The transcript's buffer: a line whose echo fills it exactly makes the line
# end the first byte that does not fit, so the failing write is the C
# library's own flush inside that one character's output, and nothing is
# written after it before the run looks at the stream.
TRANSCRIPT_BUFFER = 64 * 1024


def temporary(program):
    with tempfile.NamedTemporaryFile(suffix=".lam", delete=False) as f:
        f.write(program)
        return f.name


def check_output(binary, name):
    """The transcript written where it cannot go: status 1 and the error."""
    path = temporary(b"(lambda x (+ x 1)) 2;\n" * 5000 + b"exit;\n")  # far more than a buffer
    exits = temporary(b"exit;\n")
    banner = subprocess.run([binary, exits], stdout=subprocess.PIPE).stdout.split(b"exit;\n")[0]
    os.unlink(exits)
    exact = temporary(b"%" + b"a" * (TRANSCRIPT_BUFFER - len(banner) - 2) + b"%\nexit;\n")
    failures = 0
    try:
        for label, args in (("short transcript", [os.devnull]), ("long transcript", [path]),
                            ("a line filling the buffer", [exact])):
            if name == "full-disk":
                reason = b"No space left on device"
                with open("/dev/full", "wb") as sink:
                    proc = subprocess.run([binary] + args, stdin=subprocess.DEVNULL, stdout=sink,
                                          stderr=subprocess.PIPE, timeout=600)
            else:
                reason = b"Broken pipe"
                reader, writer = os.pipe()
                os.close(reader)  # nobody will ever read the transcript
                ignore = lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)
                proc = subprocess.run([binary] + args, stdin=subprocess.DEVNULL, stdout=writer,
                                      stderr=subprocess.PIPE, preexec_fn=ignore, timeout=600)
                os.close(writer)
            want = b"kestrivo: write error: " + reason + b"\n"
            ok = proc.returncode == 1 and proc.stderr == want
            print("%s, %s: status %d, standard error %r%s" % (
                name, label, proc.returncode, proc.stderr, "" if ok else "; wanted 1 and %r" % want))
            failures += not ok
    finally:
        os.unlink(path)
        os.unlink(exact)
    return failures


def main():
    args = sys.argv[1:]
    if len(args) != 4 or args[0] != "--build" or args[1] not in ("plain", "sanitize", "stress"):
        sys.exit(__doc__)
    build, binary, name = args[1], args[2], args[3]
    if name in ("full-disk", "closed-pipe"):
        sys.exit(1 if check_output(binary, name) else 0)
    if name not in cases():
        sys.exit("no such case: " + name)
    if build == "sanitize":
        print("skipped: a sanitizer build cannot run under a limit on its address space")
        sys.exit(SKIP)
    if build == "stress" and name == "deep-term":
        print("skipped: collecting before each of 400,000 allocations takes hours")
        sys.exit(SKIP)
    sys.exit(1 if check_memory(binary, name) else 0)


if __name__ == "__main__":
    main()
