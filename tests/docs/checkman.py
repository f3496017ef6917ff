#!/usr/bin/env python3
"""Checks that the manual page renders cleanly and has its sections.

  checkman.py PAGE.1 [KESTRIVO]

The page is formatted with groff's man macros and every warning enabled
(groff -ww -z -man); any message on standard error, or a failing status,
fails the check, since a warning means a macro or escape that some viewer
will show wrongly.  The page must also hold each of the sections a reader
looks for.  Given the binary, every option that its --help lists must be
described in the page too, so the page cannot fall behind the program.
groff comes from Debian's groff-base package.
"""
import re
import shutil
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "THE LANGUAGE",
            "THE TRANSCRIPT", "EXIT STATUS", "LIMITS", "FILES", "EXAMPLES",
            "SEE ALSO"]
OPTION = re.compile(r"(?<![\w-])(--?[a-z][a-z-]*)")


def options_described(binary, source):
    """Every option on an option line of --help appears in the page, where a
    hyphen is written \\-."""
    helptext = subprocess.run([binary, "--help"], stdout=subprocess.PIPE).stdout.decode()
    listed = set()
    for line in helptext.split("\n"):
        if line.lstrip().startswith("-"):
            # the option column ends at the first run of two blanks
            listed.update(OPTION.findall(re.split(r"\s{2,}", line.strip(), 1)[0]))
    if not listed:
        print("--help lists no options")
        return False
    described = set(OPTION.findall(source.replace("\\-", "-")))
    absent = sorted(listed - described)
    if absent:
        print("options in --help but not in the page: " + ", ".join(absent))
        return False
    return True


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
        source = f.read()
    found = re.findall(r'^\.SH\s+"?([^"\n]*?)"?\s*$', source, re.M)
    missing = [s for s in SECTIONS if s not in found]
    if missing:
        print("sections missing: " + ", ".join(missing))
        ok = False
    if len(sys.argv) > 2:
        ok = options_described(sys.argv[2], source) and ok
    if ok:
        print(f"{page}: renders without warnings, {len(found)} sections")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
