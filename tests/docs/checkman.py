#!/usr/bin/env python3
"""Checks that the manual page renders cleanly and has its sections.

  checkman.py PAGE.1

The page is formatted with groff's man macros and every warning enabled
(groff -ww -z -man); any message on standard error, or a failing status,
fails the check, since a warning means a macro or escape that some viewer
will show wrongly.  The page must also hold each of the sections a reader
looks for.  groff comes from Debian's groff-base package.
"""
import re
import shutil
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "THE LANGUAGE",
            "THE TRANSCRIPT", "EXIT STATUS", "LIMITS", "FILES", "EXAMPLES",
            "SEE ALSO"]


def main():
    page = sys.argv[1]
    groff = shutil.which("groff")
    if groff is None:
        print("groff not found (Debian package groff-base)")
        return 1
    proc = subprocess.run([groff, "-ww", "-z", "-man", page],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    ok = True
    if proc.returncode != 0 or proc.stderr:
        print(f"groff status {proc.returncode}; its messages:")
        sys.stdout.write(proc.stderr.decode(errors="replace"))
        ok = False
    with open(page) as f:
        found = re.findall(r'^\.SH\s+"?([^"\n]*?)"?\s*$', f.read(), re.M)
    missing = [s for s in SECTIONS if s not in found]
    if missing:
        print("sections missing: " + ", ".join(missing))
        ok = False
    if ok:
        print(f"{page}: renders without warnings, {len(found)} sections")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
