#!/usr/bin/env python3
"""Side-by-side timing of kestrivo and other small interpreters.

  bench/compare.py [--kestrivo BIN] [--base BIN] [--runs N] [NAME ...]

Each computation in bench/peers/ is written once per language: NAME.lam for
kestrivo, NAME.hs for Hugs (runhugs), NAME.scm for tinyscheme and for Guile's
interpreter (guile-3.0 --no-auto-compile).  Every program prints one number;
the script checks it against the expected answer below, so a faster wrong
answer never counts.  kestrivo's answer is its normal form, the line before
the last "newnodes = " line of the transcript.

The runs are interleaved (kestrivo, then each peer, the order turned every
round) so that a noisy machine slows all of them alike, and each table cell is
the median over the rounds of the paired ratio kestrivo time / peer time:
below 1 kestrivo is faster.  Times are whole-process wall times, start-up
included.  A peer that is not installed is skipped with a note; one that gives
no answer or a wrong one (tinyscheme runs out of memory on deep recursion) is
shown as such.  --base BIN adds another kestrivo binary as a peer, to compare
a change with the commit before it.

Exit status 1 when kestrivo (or the --base binary) gives a wrong answer.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")
ROOT = os.path.dirname(HERE)

# name, kestrivo's lastblock (the pool: big enough for the computation, small
# enough that the collector's mark stack holds its deepest path), answer.
PROGRAMS = [
    ("fib", 199, "196418"),        # fib 27, doubly recursive
    ("mapsum", 199, "9003000"),    # sum (map (* 2) [1..3000])
    ("church", 99, "4096"),        # 2^12 with Church numerals, applied to +1
    ("deep", 199, "12502500"),     # 5000-deep non-tail recursion
    ("live", 10, "51912000"),      # a 720-element list summed 200 times in a pool it mostly fills
    ("loop", 199, "10001"),        # tail-recursive loop of 5000 steps
    ("ack", 199, "603"),           # Ackermann(2, 300)
    ("sieve", 199, "168"),         # primes below 1000, sieve over a cons list
]

# peer name, command, the file suffix it reads
PEER_COMMANDS = [
    ("hugs", ["runhugs"], ".hs"),
    ("tinyscheme", ["tinyscheme"], ".scm"),
    ("guile", ["guile-3.0", "--no-auto-compile"], ".scm"),
]

TIMEOUT = 120  # seconds for one run; a peer that takes longer has no answer


def kestrivo_answer(out):
    lines = out.decode(errors="replace").split("\n")
    for i in range(len(lines) - 1, 0, -1):
        if lines[i].startswith("newnodes = "):
            return lines[i - 1].strip()
    return None


def peer_answer(out):
    lines = [l.strip() for l in out.decode(errors="replace").split("\n") if l.strip()]
    return lines[-1] if lines else None


def timed(argv, answer_of):
    start = time.perf_counter()
    try:
        proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=TIMEOUT, cwd=PEERS)
    except subprocess.TimeoutExpired:
        return None, "timed out"
    elapsed = time.perf_counter() - start
    return elapsed, answer_of(proc.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--kestrivo", default=os.path.join(ROOT, "build", "kestrivo"))
    ap.add_argument("--base", help="another kestrivo binary, timed as a peer")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()

    subjects = []  # (name, argv builder, answer reader)
    for name, command, suffix in PEER_COMMANDS:
        if shutil.which(command[0]) is None:
            print(f"note: {name} ({command[0]}) is not installed: skipped")
            continue
        subjects.append((name, lambda p, c=command, s=suffix: c + [p + s], peer_answer))
    if args.base:
        base = os.path.abspath(args.base)
        subjects.append(("base", lambda p, b=base: [b, p + ".lam", str(LASTBLOCK[p])],
                         kestrivo_answer))
    kestrivo = os.path.abspath(args.kestrivo)

    programs = [p for p in PROGRAMS if not args.names or p[0] in args.names]
    header = f"{'program':<8} {'kestrivo ms':>11}"
    for s in subjects:
        header += f" {s[0] + ' ms':>15} {'ratio':>7}"
    print(header)
    wrong = False
    for name, lastblock, expected in programs:
        own = []
        peer_times = {s[0]: [] for s in subjects}
        ratios = {s[0]: [] for s in subjects}
        failed = {}
        for round_ in range(args.runs):
            order = [None] + list(subjects)
            k = round_ % len(order)
            order = order[k:] + order[:k]
            times = {}
            for s in order:
                if s is None:
                    t, got = timed([kestrivo, name + ".lam", str(lastblock)], kestrivo_answer)
                    if got != expected:
                        print(f"{name}: kestrivo answered {got!r}, expected {expected}")
                        wrong = True
                    times[None] = t
                    continue
                sname, argv_of, answer_of = s
                if sname in failed:
                    continue
                t, got = timed(argv_of(name), answer_of)
                if got != expected:
                    failed[sname] = got
                    if sname == "base":
                        wrong = True
                    continue
                times[sname] = t
            if times.get(None) is None:
                continue
            own.append(times[None])
            for sname in peer_times:
                if sname in times:
                    peer_times[sname].append(times[sname])
                    ratios[sname].append(times[None] / times[sname])
        row = f"{name:<8} {statistics.median(own) * 1000:>11.1f}" if own else f"{name:<8} {'-':>11}"
        for sname in peer_times:
            if sname in failed:
                row += f" {'no answer':>15} {'-':>7}"
            elif ratios[sname]:
                row += (f" {statistics.median(peer_times[sname]) * 1000:>15.1f}"
                        f" {statistics.median(ratios[sname]):>7.2f}")
            else:
                row += f" {'-':>15} {'-':>7}"
        print(row, flush=True)
        for sname, got in failed.items():
            print(f"  {sname} on {name}: answered {got!r}, expected {expected}")
    return 1 if wrong else 0


LASTBLOCK = {name: lastblock for name, lastblock, _ in PROGRAMS}

if __name__ == "__main__":
    sys.exit(main())
