#!/usr/bin/env python3
"""Where --dot's pictures cannot all be written.

  dotwrites.py KESTRIVO

  full     the folder's disk fills (a limit on the size of a file stands in
           for it): every picture left is whole, byte for byte the one a run
           without the limit writes; every other is gone and named on
           standard error; the transcript is the same; status 1
  link     a symbolic link put where a picture goes is not followed: the file
           it names keeps its text, the link stays, the other pictures are
           written; status 1
  many     a line of 1100 statements: 3000 pictures and no more, one line on
           standard error saying so; status 0
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


# Pictures of a few hundred bytes, and on line 3 two of a few thousand: under
# a limit of 1500 bytes a file the early ones fit and the big ones do not.
PROGRAM = b"""(+ 1 2);
ones = cons 1 ones; com (cons ones ones);
(lambda x (x x x x x x x x x x x x x x x x x x x x x x x x x x x x x)) (lambda y y);
"""
FILE_LIMIT = 1500


def run(kestrivo, folder, program, limit=None):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "prog.lam")
    with open(path, "wb") as f:
        f.write(program)
    out = os.path.join(folder, "out")
    os.makedirs(out, exist_ok=True)

    def limited():
        # The write past the limit fails with EFBIG, as one on a full disk
        # fails with ENOSPC, instead of a signal ending the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    proc = subprocess.run([kestrivo, "--dot=" + out, path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120,
                          preexec_fn=limited if limit is not None else None)
    return proc, out


def pictures(out):
    found = {}
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), "rb") as f:
            found[name] = f.read()
    return found


def full(kestrivo, work):
    whole, out = run(kestrivo, os.path.join(work, "whole"), PROGRAM)
    expected = pictures(out)
    if whole.returncode != 0 or whole.stderr:
        fail("full: the run without a limit: status %d, %r" % (whole.returncode, whole.stderr))
    cut, out = run(kestrivo, os.path.join(work, "cut"), PROGRAM, FILE_LIMIT)
    left = pictures(out)
    err = cut.stderr.decode(errors="replace")
    if cut.returncode != 1:
        fail("full: status %d, expected 1" % cut.returncode)
    if cut.stdout != whole.stdout:
        fail("full: the transcript changed")
    if not left or len(left) == len(expected):
        fail("full: the limit should stop some pictures and not all: %s" % sorted(left))
    for name, text in left.items():
        if expected.get(name) != text:
            fail("full: %s is left cut or changed (%d bytes)" % (name, len(text)))
    for name in expected:
        if name not in left and "'%s/%s': File too large" % (out, name) not in err:
            fail("full: %s is missing without a word: %r" % (name, err))


def link(kestrivo, work):
    folder = os.path.join(work, "link")
    os.makedirs(os.path.join(folder, "out"))
    target = os.path.join(work, "precious")
    with open(target, "wb") as f:
        f.write(b"not a picture\n")
    os.symlink(target, os.path.join(folder, "out", "line1-parsed.dot"))
    proc, out = run(kestrivo, folder, PROGRAM)
    with open(target, "rb") as f:
        if f.read() != b"not a picture\n":
            fail("link: a picture was written through the link")
    if not os.path.islink(os.path.join(out, "line1-parsed.dot")):
        fail("link: the link was replaced")
    if b"line1-parsed.dot': it is a symbolic link" not in proc.stderr:
        fail("link: no word of the link: %r" % proc.stderr)
    if proc.returncode != 1:
        fail("link: status %d, expected 1" % proc.returncode)
    if "line1-normal.dot" not in os.listdir(out):
        fail("link: the other pictures were not written")


def many(kestrivo, work):
    proc, out = run(kestrivo, os.path.join(work, "many"), b"1;" * 1100 + b"\n")
    count = len(os.listdir(out))
    if count != 3000:
        fail("many: %d pictures, expected 3000" % count)
    lines = proc.stderr.decode(errors="replace").splitlines()
    if len(lines) != 1 or "3000 pictures is the most a run writes" not in lines[0]:
        fail("many: standard error %r" % lines)
    if proc.returncode != 0:
        fail("many: status %d, expected 0" % proc.returncode)


def main():
    kestrivo = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    try:
        full(kestrivo, work)
        link(kestrivo, work)
        many(kestrivo, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        return 1
    print("pictures: whole or gone on a full disk, never through a link, at most 3000 a run")
    return 0


if __name__ == "__main__":
    sys.exit(main())
