#!/usr/bin/env python3
"""Rebuilds fuzz/corpus/ from the small golden programs and the examples.

Each program becomes four inputs (see fuzz_program.cpp for the three leading
bytes): with the smallest pool and a large token array; with three blocks
and 208 token slots; the same with --readback, --keep-going, --max-steps,
--warn and --stats; and the smallest pool with --trace, --dot and --events.
Programs over 2 KB are left out: the fuzzer works best on small inputs.
Beside them, the inputs that once made a run fail, each with the options it
failed under.
"""
import glob
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")
LIMIT = 2048
READBACK, TRACE, KEEP_GOING, MAX_STEPS, WARN, DOT, STATS, EVENTS = (1 << i for i in range(8))
PREFIXES = {
    "p0": bytes([0x00, 0xff, 0]),
    "p2": bytes([0x03, 0x40, 0]),
    "p2o": bytes([0x03, 0x40, READBACK | KEEP_GOING | MAX_STEPS | WARN | STATS]),
    "p0d": bytes([0x00, 0xff, TRACE | DOT | EVENTS]),
}
# Inputs that once crashed a run or ended it wrongly, by the option they need.
FAULTS = {
    # read-back of a lambda whose parameter is a number, an application
    "readback-param-number": bytes([0x00, 0xff, READBACK]) + b"lambda 5 x;\n",
    "readback-param-application": bytes([0x00, 0xff, READBACK]) + b"lambda (f x) x;\n",
    # a statement stopped by the 100th name gives its names back
    "keep-going-atoms": bytes([0x00, 0xff, KEEP_GOING])
    + b"f " + b" ".join(b"n%d" % i for i in range(97)) + b";\ng 1;\n",
    # a stopped term left half-evaluated, then other statements
    "max-steps-then-more": bytes([0x00, 0xff, MAX_STEPS | KEEP_GOING])
    + b"loop = lambda n (loop (+ n 1)); loop 0; (+ 1 2); normal; (+ 3 4);\n",
}


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for old in glob.glob(os.path.join(CORPUS, "*")):
        os.remove(old)
    programs = sorted(glob.glob(os.path.join(ROOT, "tests", "golden", "*.lam")))
    programs += sorted(glob.glob(os.path.join(ROOT, "examples", "*.lam")))
    count = 0
    for path in programs:
        with open(path, "rb") as f:
            text = f.read()
        if len(text) > LIMIT:
            continue
        name = os.path.splitext(os.path.basename(path))[0]
        for tag, prefix in PREFIXES.items():
            with open(os.path.join(CORPUS, f"{name}.{tag}"), "wb") as f:
                f.write(prefix + text)
            count += 1
    for name, data in FAULTS.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)
        count += 1
    print(f"{count} inputs in {CORPUS}")


if __name__ == "__main__":
    main()
