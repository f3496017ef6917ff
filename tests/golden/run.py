#!/usr/bin/env python3
"""Runs one golden program through the real binary and compares its output.

  run.py [--stress] KESTRIVO NAME.lam
  run.py --selfcheck KESTRIVO NAME.lam

Beside NAME.lam:
  NAME.out   expected standard output (required)
  NAME.args  the command line after the program name, whitespace-separated;
             the word {lam} stands for the path of NAME.lam.  Without it the
             command line is just {lam}.  Without {lam} in it, NAME.lam is fed
             on standard input.
  NAME.rc    expected exit status (default 0)
  NAME.err   expected standard error, compared like the output; without it
             standard error is not checked.  Figures that vary from run to
             run (time_ms=...) are blanked before comparing.
  NAME.nostress  present when the program is too long-running for --stress

Sharing labels ("co" and a number) are renamed per line in order of first
appearance before comparing.  --stress also drops every collection report,
since a stress build collects before every allocation.
"""
import os
import re
import subprocess
import sys

LABEL = re.compile(rb"co(\d+)")
REPORT = re.compile(rb"\nGARBAGE\.\.\.  END OF MARKING\.\.\. freenodes = -?\d+\n")


def normalise(data, stress):
    if stress:
        data = REPORT.sub(b"", data)
    lines = []
    for line in data.split(b"\n"):
        names = {}

        def rename(m):
            key = m.group(1)
            if key not in names:
                names[key] = b"%d" % (len(names) + 1)
            return b"co" + names[key]

        lines.append(LABEL.sub(rename, line))
    return b"\n".join(lines)


def run(binary, lam, options=()):
    """Runs lam as its golden runs, with options put before its own."""
    base = lam[: -len(".lam")]
    args = ["{lam}"]
    if os.path.exists(base + ".args"):
        with open(base + ".args") as f:
            args = f.read().split()
    stdin = subprocess.DEVNULL
    if "{lam}" not in args:
        stdin = open(lam, "rb")
    argv = [binary, *options] + [os.path.basename(lam) if a == "{lam}" else a for a in args]
    proc = subprocess.run(argv, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          cwd=os.path.dirname(os.path.abspath(lam)), timeout=600)
    return proc.stdout, proc.returncode, proc.stderr


def expected(lam):
    base = lam[: -len(".lam")]
    with open(base + ".out", "rb") as f:
        out = f.read()
    rc = 0
    if os.path.exists(base + ".rc"):
        with open(base + ".rc") as f:
            rc = int(f.read().strip())
    err = None
    if os.path.exists(base + ".err"):
        with open(base + ".err", "rb") as f:
            err = f.read()
    return out, rc, err


TIME = re.compile(rb"time_ms=[0-9.]+")


def differ(name, what, a, b):
    """Prints the first differing line of two normalised texts; true if they differ."""
    if a == b:
        return False
    al, bl = a.split(b"\n"), b.split(b"\n")
    for i in range(max(len(al), len(bl))):
        x = al[i] if i < len(al) else b"<missing>"
        y = bl[i] if i < len(bl) else b"<missing>"
        if x != y:
            print(f"{name}: {what}: first difference at line {i + 1}")
            print(f"  expected: {y[:300]!r}")
            print(f"  got:      {x[:300]!r}")
            break
    return True


def compare(name, got, want, stress):
    out, rc, err = got
    wout, wrc, werr = want
    ok = True
    if rc != wrc:
        print(f"{name}: exit status {rc}, expected {wrc}")
        ok = False
    if differ(name, "output", normalise(out, stress), normalise(wout, stress)):
        ok = False
    # Standard error carries counts that depend on when collections run, so
    # the stress build does not compare it.
    if werr is not None and not stress:
        a = normalise(TIME.sub(b"time_ms=T", err), False)
        b = normalise(TIME.sub(b"time_ms=T", werr), False)
        if differ(name, "standard error", a, b):
            ok = False
    return ok


def selfcheck(binary, lam):
    """The runner must notice a wrong output and a wrong exit status."""
    got = run(binary, lam)
    want = expected(lam)
    # Collection reports are dropped so that the check also holds in a build
    # that collects before every allocation.
    if not compare("selfcheck", got, want, True):
        return 1
    wrong_out = (want[0].replace(b"THE END", b"THE EMD", 1) + b"x", want[1], want[2])
    wrong_rc = (want[0], want[1] + 1, want[2])
    wrong_err = (want[0], want[1], got[2] + b"kestrivo: a line that was not written\n")
    if compare("selfcheck-wrong-output", got, wrong_out, True):
        print("runner accepted a wrong output")
        return 1
    if compare("selfcheck-wrong-status", got, wrong_rc, True):
        print("runner accepted a wrong exit status")
        return 1
    if compare("selfcheck-wrong-stderr", got, wrong_err, False):
        print("runner accepted a wrong standard error")
        return 1
    print("runner rejects wrong output, status and standard error: ok")
    return 0


def main():
    argv = sys.argv[1:]
    if argv and argv[0] == "--selfcheck":
        return selfcheck(argv[1], argv[2])
    stress = bool(argv) and argv[0] == "--stress"
    if stress:
        argv = argv[1:]
    binary, lam = argv
    if stress and os.path.exists(lam[: -len(".lam")] + ".nostress"):
        print("skipped in the stress build")
        return 0
    ok = compare(os.path.basename(lam), run(binary, lam), expected(lam), stress)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
