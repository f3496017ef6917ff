#!/usr/bin/env python3
"""Checks the graph pictures that --dot writes.

  dotcheck.py KESTRIVO DIR           the pictures of DIR/pictures.lam
  dotcheck.py --sample KESTRIVO DIR  the pictures of a few golden programs in DIR
  dotcheck.py --goldens KESTRIVO DIR the pictures of every golden program in DIR

The first runs DIR/pictures.lam (with DIR/pictures-load.lam loaded first) and
checks the file names, that the transcript's sharing label names the same
node in the picture, that a cycle is drawn as an edge back, and that a
normal form over the printer's cut ends in a "cut" node.  The other two run
golden programs with --dot added to their command lines, check that each
ends with the status it ends with without --dot, and render what they write.
Every mode renders its files with "dot -Tsvg" and fails on anything dot
writes to standard error: a picture Graphviz complains about is a picture
nobody can trust.

--sample is the one in the quick test loop: the goldens of SAMPLE, chosen so
that together they draw every shape the picture writer draws, rendered in a
few seconds.  --goldens renders all of them (some 1900 pictures, a minute and
a half of Graphviz on two processors) and is the slow suite .ci/run runs.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []

# The sample: a golden program and the pictures of it to render (a pattern
# on the file names), with the shape each stands for.
SAMPLE = [
    ("reduce-shared-parts", r"line\d+-normal\.dot", "shared nodes: labelled boxes, several edges into one node"),
    ("norm-cycle", r".*", "a cycle: a field that leads back to its own node"),
    ("readback-closures", r"line7-normal\.dot", "a closure: a sub node over a lambda and an environment chain"),
    ("hostile-bytes", r"line(7\.2|8|10|11|12|13|14)-parsed\.dot",
     "names of odd bytes: carriage returns, control characters, UTF-8, bytes that are not UTF-8"),
    ("print-cut", r"line2-normal\.dot", "a long chain (1500 cons links) cut at the picture's node limit"),
    ("hostile-deep-parens", r"line13-normal\.dot", "a deep term cut where the printer's 2000 items end"),
]


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


def drawgolden(kestrivo, folder, name, into):
    """Runs golden program NAME with its own command line and --dot=into first;
    fails when the run ends with another status than the golden's."""
    base = os.path.join(folder, name)
    args = ["{lam}"]
    if os.path.exists(base + ".args"):
        with open(base + ".args") as f:
            args = f.read().split()
    want = 0
    if os.path.exists(base + ".rc"):
        with open(base + ".rc") as f:
            want = int(f.read().strip())
    os.mkdir(into)
    argv = [kestrivo, "--dot=" + into] + [name + ".lam" if a == "{lam}" else a for a in args]
    with open(base + ".lam", "rb") as program:
        stdin = subprocess.DEVNULL if "{lam}" in args else program
        proc = subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              cwd=folder, timeout=600)
    if proc.returncode != want:
        fail("%s with --dot: status %d, want %d" % (name, proc.returncode, want))


def goldens(kestrivo, folder):
    """Every golden program, every picture rendered."""
    with tempfile.TemporaryDirectory() as out:
        for name in sorted(os.listdir(folder)):
            if name.endswith(".lam"):
                drawgolden(kestrivo, folder, name[:-4], os.path.join(out, name[:-4]))
        if render(out) == 0:
            fail("the golden programs wrote no picture")


def sample(kestrivo, folder):
    """The goldens of SAMPLE, the chosen pictures of each rendered."""
    with tempfile.TemporaryDirectory() as out:
        for name, pattern, shape in SAMPLE:
            into = os.path.join(out, name)
            drawgolden(kestrivo, folder, name, into)
            chosen = [f for f in sorted(os.listdir(into)) if re.fullmatch(pattern, f)]
            if not chosen:
                fail("%s wrote no picture matching %s (%s)" % (name, pattern, shape))
            for f in os.listdir(into):
                if f not in chosen:
                    os.remove(os.path.join(into, f))
        render(out)


def main():
    if shutil.which("dot") is None:
        print("FAIL: Graphviz's dot is not installed (apt-get install graphviz)")
        return 1
    if sys.argv[1] == "--goldens":
        goldens(os.path.abspath(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "--sample":
        sample(os.path.abspath(sys.argv[2]), sys.argv[3])
    else:
        pictures(sys.argv[1], sys.argv[2])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
