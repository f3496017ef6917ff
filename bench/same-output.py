#!/usr/bin/env python3
"""Byte identity of two kestrivo binaries on every golden program and every
fuzz seed.

  bench/same-output.py BEFORE AFTER [--timeout SECONDS]

Runs each tests/golden/*.lam (with its .args, fed on standard input when the
arguments do not name it, as the golden runner does) and each fuzz/corpus
input through both binaries and compares the whole standard output, byte for
byte (sharing labels included: they are node positions, so a change that
keeps the order of allocation keeps them), and the exit status.  A fuzz seed
is decoded as the fuzz target does: byte 0 picks the pool, byte 1 the token
capacity, the rest is the program text, passed as a file.  The real binary
has no step budget, so a run that outlasts the timeout counts as the status
"timeout" (the same on both sides is a match).

Use it with two normal builds and again with two stress builds.  Prints
each difference and a summary; exit status 1 when anything differs.
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(binary, argv, stdin_bytes, cwd, timeout):
    try:
        proc = subprocess.run([binary] + argv, input=stdin_bytes, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, cwd=cwd, timeout=timeout)
        return proc.stdout, proc.returncode
    except subprocess.TimeoutExpired as e:
        return e.stdout or b"", "timeout"


def golden_cases():
    for lam in sorted(glob.glob(os.path.join(ROOT, "tests", "golden", "*.lam"))):
        base = lam[: -len(".lam")]
        args = ["{lam}"]
        if os.path.exists(base + ".args"):
            with open(base + ".args") as f:
                args = f.read().split()
        stdin = b""
        if "{lam}" not in args:
            with open(lam, "rb") as f:
                stdin = f.read()
        argv = [os.path.basename(lam) if a == "{lam}" else a for a in args]
        yield os.path.basename(lam), argv, stdin, os.path.dirname(lam)


def fuzz_cases(scratch):
    for seed in sorted(glob.glob(os.path.join(ROOT, "fuzz", "corpus", "*"))):
        with open(seed, "rb") as f:
            data = f.read()
        if len(data) < 2:
            continue  # the fuzz target ignores these
        low = data[0] & 3
        lastblock = 11 if data[0] == 255 else 2 if low == 3 else 1 if low == 2 else 0
        tokens = data[1] if data[1] < 16 else 16 + 4 * (data[1] - 16)
        # Each seed gets a directory of its own, all named alike, so that the
        # transcripts do not differ by file name.
        sub = os.path.join(scratch, os.path.basename(seed))
        os.mkdir(sub)
        with open(os.path.join(sub, "fuzz-input"), "wb") as f:
            f.write(data[2:])
        yield "corpus/" + os.path.basename(seed), ["fuzz-input", str(lastblock), str(tokens)], b"", sub


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("before")
    ap.add_argument("after")
    ap.add_argument("--timeout", type=float, default=20)
    args = ap.parse_args()
    before, after = os.path.abspath(args.before), os.path.abspath(args.after)
    count = differ = timeouts = 0
    with tempfile.TemporaryDirectory() as scratch:
        for name, argv, stdin, cwd in list(golden_cases()) + list(fuzz_cases(scratch)):
            a = run(before, argv, stdin, cwd, args.timeout)
            b = run(after, argv, stdin, cwd, args.timeout)
            count += 1
            if a[1] == "timeout":
                timeouts += 1
            if a != b:
                differ += 1
                at = next((i for i in range(min(len(a[0]), len(b[0]))) if a[0][i] != b[0][i]),
                          min(len(a[0]), len(b[0])))
                print(f"{name}: differs (status {a[1]} / {b[1]}, lengths {len(a[0])} / "
                      f"{len(b[0])}, first difference at byte {at})")
    print(f"same-output: {count} inputs, {count - differ} identical, {differ} different"
          f" ({timeouts} timed out in BEFORE)")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
