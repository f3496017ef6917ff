#!/usr/bin/env python3
"""The reference reducer beside the engine, on every golden program and
every example.

  agreement.py [--stress] KESTRIVO GOLDEN_DIR EXAMPLES_DIR

Each program runs as its golden runs it, with --strategies added in front.
The transcript must be the golden's own, byte for byte up to sharing labels
(the option writes only to standard error), the exit status the golden's, and
every "strategies" line must be free of "another normal form": wherever the
engine's normal form is first-order data and a strategy of the reference
reducer finished, the two reached the same normal form.  So that the check
cannot pass by comparing nothing, at least MIN_COMPARED statements must end
"same normal form", and each of call by name, call by value and normal order
must have finished somewhere.
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden"))
from run import differ, expected, normalise, run  # noqa: E402

BUDGET = 5000       # steps a strategy may take here: every golden finishes within it or diverges
MIN_COMPARED = 150   # statements whose normal forms were compared, at the least
LINE = re.compile(rb"^kestrivo: strategies line=\d+ (.*)$", re.M)


def main():
    argv = sys.argv[1:]
    stress = bool(argv) and argv[0] == "--stress"
    if stress:
        argv.pop(0)
    binary, goldens, examples = argv
    programs = sorted(os.path.join(goldens, f) for f in os.listdir(goldens) if f.endswith(".lam"))
    programs += sorted(os.path.join(examples, f) for f in os.listdir(examples) if f.endswith(".lam"))
    ok = True
    compared = lines = 0
    finished = {"name": 0, "value": 0, "normal": 0}
    for lam in programs:
        if stress and os.path.exists(lam[: -len(".lam")] + ".nostress"):
            continue
        name = os.path.basename(lam)
        out, rc, err = run(binary, lam, [f"--strategies={BUDGET}"])
        want_out, want_rc, _ = expected(lam)
        if rc != want_rc:
            print(f"{name}: exit status {rc}, expected {want_rc}")
            ok = False
        if differ(name, "transcript", normalise(out, stress), normalise(want_out, stress)):
            ok = False
        for m in LINE.finditer(err):
            text = m.group(1).decode()
            lines += 1
            if "another normal form" in text:
                print(f"{name}: the reducers disagree: {text}")
                ok = False
            if text.endswith(", same normal form"):
                compared += 1
            for strategy in finished:
                if re.search(rf"\b{strategy} beta=", text):
                    finished[strategy] += 1
    print(f"{len(programs)} programs, {lines} strategies lines, {compared} normal forms compared, "
          f"finished: {finished}")
    if compared < MIN_COMPARED:
        print(f"only {compared} normal forms compared, expected at least {MIN_COMPARED}")
        ok = False
    if min(finished.values()) == 0:
        print("a strategy never finished")
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
