#!/usr/bin/env python3
"""Checks the graph pictures that --dot writes.

  dotcheck.py KESTRIVO DIR           the pictures of DIR/pictures.lam
  dotcheck.py --goldens KESTRIVO DIR the pictures of every golden program in DIR

The first runs DIR/pictures.lam (with DIR/pictures-load.lam loaded first) and
checks the file names, that the transcript's sharing label names the same
node in the picture, that a cycle is drawn as an edge back, and that a
normal form over the printer's cut ends in a "cut" node.  Both render every
file they get with "dot -Tsvg" and fail on anything dot writes to standard
error: a picture Graphviz complains about is a picture nobody can trust.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def render(folder):
    """Renders every DOT file under folder; returns how many there were."""
    count = 0
    for root, _, files in os.walk(folder):
        for name in sorted(files):
            if not name.endswith(".dot"):
                continue
            count += 1
            path = os.path.join(root, name)
            proc = subprocess.run(["dot", "-Tsvg", path, "-o", path[:-4] + ".svg"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
            if proc.returncode != 0 or proc.stderr:
                fail("dot -Tsvg %s: status %d: %s" % (path, proc.returncode,
                                                       proc.stderr.decode(errors="replace")))
    return count


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def label(transcript, pattern):
    """The sharing label on the transcript line that matches pattern."""
    for line in transcript.splitlines():
        m = re.fullmatch(pattern, line)
        if m:
            return m.group(1)
    fail("no transcript line matches %r" % pattern)
    return None


def pictures(kestrivo, folder):
    with tempfile.TemporaryDirectory() as out:
        argv = [kestrivo, "--dot=" + out, "-l", os.path.join(folder, "pictures-load.lam"),
                os.path.join(folder, "pictures.lam"), "20"]
        proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
        transcript = proc.stdout.decode()
        if proc.returncode != 0 or proc.stderr:
            fail("the run: status %d, standard error %r" % (proc.returncode, proc.stderr))

        stages = ["parsed", "expanded", "normal"]
        statements = ["load1-line2", "line3", "line4", "line4.2", "line6"]
        want = sorted("%s-%s.dot" % (s, g) for s in statements for g in stages)
        got = sorted(os.listdir(out))
        if got != want:
            fail("file names: got %s, want %s" % (got, want))

        # The shared argument: the same node, by the same label, in both.
        shared = label(transcript, r"cons \( co(\d+) : f 2 \) co\d+ ")
        if shared and 'n%s [label="co%s : @"' % (shared, shared) not in read(os.path.join(out, "line3-normal.dot")):
            fail("line3-normal.dot does not label node %s co%s" % (shared, shared))
        # The cycle: the cons cell's right field leads back to itself.
        ring = label(transcript, r"car \( co(\d+) : cons 1 co\d+ \) ")
        if ring:
            expanded = read(os.path.join(out, "line4-expanded.dot"))
            if "n%s -> n%s " % (ring, ring) not in expanded or 'label="co%s : cons"' % ring not in expanded:
                fail("line4-expanded.dot does not draw co%s as a cycle" % ring)
        # The cut: only the long normal form has one.
        for name in want:
            has = "-> cut " in read(os.path.join(out, name))
            if has != (name == "line6-normal.dot"):
                fail("%s: cut node %s" % (name, "present" if has else "missing"))

        if render(out) != len(want):
            fail("not every picture was rendered")


def goldens(kestrivo, folder):
    """Every golden program, with its own command line and --dot first."""
    with tempfile.TemporaryDirectory() as out:
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".lam"):
                continue
            base = os.path.join(folder, name[:-4])
            args = ["{lam}"]
            if os.path.exists(base + ".args"):
                with open(base + ".args") as f:
                    args = f.read().split()
            into = os.path.join(out, name[:-4])
            os.mkdir(into)
            stdin = subprocess.DEVNULL if "{lam}" in args else open(base + ".lam", "rb")
            argv = [kestrivo, "--dot=" + into] + [name if a == "{lam}" else a for a in args]
            subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           cwd=folder, timeout=600)
        if render(out) == 0:
            fail("the golden programs wrote no picture")


def main():
    if shutil.which("dot") is None:
        print("FAIL: Graphviz's dot is not installed (apt-get install graphviz)")
        return 1
    if sys.argv[1] == "--goldens":
        goldens(os.path.abspath(sys.argv[2]), sys.argv[3])
    else:
        pictures(sys.argv[1], sys.argv[2])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
