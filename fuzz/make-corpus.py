#!/usr/bin/env python3
"""Rebuilds fuzz/corpus/ from the small golden programs and the examples.

Each program becomes two inputs: one with the smallest pool and a large token
array, one with three blocks and 208 token slots (see fuzz_program.cpp for
the two leading bytes).  Programs over 2 KB are left out: the fuzzer works
best on small inputs.
"""
import glob
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")
LIMIT = 2048
PREFIXES = {"p0": b"\x00\xff", "p2": b"\x03\x40"}


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
    print(f"{count} inputs in {CORPUS}")


if __name__ == "__main__":
    main()
