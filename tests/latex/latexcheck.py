#!/usr/bin/env python3
"""Checks --latex: the typeset terms of known reductions, and that the
document compiles.

  latexcheck.py [--compile] KESTRIVO DIR

DIR holds reductions.lam, with the document it must give in
reductions.tex (from its \\section* on, sharing labels renamed in order of
appearance, as the golden runner renames them), and hostile.lam, whose names
and atoms mean something to TeX and whose longest term passes the writer's
cut, and stopped.lam, whose expression stops short of its normal form, and
steps.lam with --frames, whose reductions step by step must be steps.tex
(labels renamed row by row).  Each runs with --latex and --dot; the
transcript must be the one the run without them prints.  --compile also turns every normal-form picture
into TikZ with dot2tex and compiles both documents with pdflatex, which must
end without an error and take in every picture.
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


LABEL = re.compile(r"\\mathrm\{co\}_\{(\d+)\}")


def renamed(text):
    names = {}

    def rename(m):
        names.setdefault(m.group(1), str(len(names) + 1))
        return "\\mathrm{co}_{%s}" % names[m.group(1)]

    return "\n".join(LABEL.sub(rename, line) for line in text.split("\n"))


def body(tex):
    return tex[tex.index("\\section*"):]


def samebody(name, got, want):
    """Fails at the first line where the document's body differs from the
    expected one, both as lists of lines."""
    for k in range(max(len(got), len(want))):
        a = got[k] if k < len(got) else "<missing>"
        b = want[k] if k < len(want) else "<missing>"
        if a != b:
            fail("%s, line %d of the body:\n  want: %s\n  got:  %s" % (name, k + 1, b, a))
            return


def run(kestrivo, folder, program, out, options=(), lastblock=None, name=None):
    """Runs program with --latex and --dot into out (the document named
    name, else for the program), options before it and lastblock after;
    the document's text.  Without options, standard error must be empty."""
    after = [program] + ([str(lastblock)] if lastblock is not None else [])
    plain = subprocess.run([kestrivo] + list(options) + after, cwd=folder, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
    name = name or program[:-4]
    document = os.path.join(out, name + ".tex")
    pictures = os.path.join(out, name + "-fig")
    got = subprocess.run([kestrivo, "--latex=" + document, "--dot=" + pictures] + list(options) + after,
                         cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if got.returncode != plain.returncode or got.stdout != plain.stdout:
        fail("%s: the transcript with --latex is not the one without" % program)
    if got.stderr != plain.stderr or (got.stderr and not options):
        fail("%s: standard error %r" % (program, got.stderr))
    with open(document, encoding="utf-8") as f:
        return f.read(), pictures


def compile_document(tex, pictures):
    """dot2tex over the normal-form pictures, then pdflatex."""
    for name in sorted(os.listdir(pictures)):
        if name.endswith("-normal.dot"):
            path = os.path.join(pictures, name)
            with open(path[:-4] + ".tex", "w") as f:
                proc = subprocess.run(["dot2tex", "--figonly", "-ftikz", path], stdout=f,
                                      stderr=subprocess.PIPE, timeout=300)
            if proc.returncode != 0:
                fail("dot2tex %s: %s" % (name, proc.stderr.decode(errors="replace")))
    folder, name = os.path.split(tex)
    proc = subprocess.run(["pdflatex", "-interaction=nonstopmode", "-halt-on-error", name], cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    log = open(os.path.join(folder, name[:-4] + ".log"), encoding="latin-1").read()
    if proc.returncode != 0 or not os.path.exists(tex[:-4] + ".pdf"):
        fail("pdflatex %s: status %d\n%s" % (name, proc.returncode, proc.stdout.decode(errors="replace")[-2000:]))
        return
    if "mktexpk" in log or "mktexpk" in proc.stdout.decode(errors="replace"):
        fail("%s needs fonts made on the fly: the document should use the Type 1 fonts" % name)
    drawn = set(re.findall(r"\(\./[^()\s]*-fig/(line[^()\s]*-normal\.tex)", log.replace("\n", "")))
    with open(tex, encoding="utf-8") as f:
        asked = set(re.findall(r"\\kestrivopicture\{[^}]*/(line[^}]*-normal\.tex)\}", f.read()))
    if not asked or drawn != asked:
        fail("%s took in the pictures %s, not %s" % (name, sorted(drawn), sorted(asked)))


def rows(tex):
    """The rows of the document's displays that follow a term as read."""
    return [line for line in tex.split("\n") if line.startswith(("={}&", "\\rightarrow", "\\twoheadrightarrow"))]


def stopped(kestrivo, folder, out, compiling):
    """stopped.lam: an expression stopped at the step limit shows the term
    as it stands, not as a normal form, and the run goes on; one whose pool
    runs out shows that it did, with no term."""
    tex, pictures = run(kestrivo, folder, "stopped.lam", out, ["--keep-going", "--max-steps=6"])
    got = rows(tex)
    if not (len(got) == 4 and got[1].startswith("\\rightarrow^{*}{}&") and "\\mathtt{ident}" in got[1]
            and "stopped at the step limit after 6 steps" in got[1]
            and got[3] == "\\twoheadrightarrow{}&25 &&\\text{normal form: 4 steps, 3 new nodes}"):
        fail("stopped.lam at the step limit: %r" % got)
    if compiling:
        compile_document(os.path.join(out, "stopped.tex"), pictures)
    tex, _ = run(kestrivo, folder, "stopped.lam", out, ["--keep-going"], lastblock=0, name="exhausted")
    got = rows(tex)
    if not (len(got) == 4 and got[1].startswith("\\rightarrow^{*}{}&\\dots &&\\text{the pool ran out after ")
            and got[3].startswith("\\twoheadrightarrow{}&25 ")):
        fail("stopped.lam in a pool that runs out: %r" % got)


def sections(tex):
    """Each subsection's line and the rows of its step-by-step display."""
    found = {}
    line = None
    inside = False
    for row in tex.split("\n"):
        m = re.match(r"\\subsection\*\{Line (\d+)\}", row)
        if m:
            line = int(m.group(1))
            found[line] = []
        elif row == "\\paragraph{Step by step}":
            inside = True
        elif row == "\\end{align*}":
            inside = False
        elif inside and row != "\\begin{align*}":
            found[line].append(row)
    return found


TAG = re.compile(r"\\tag\{(\d+)\}")


def tags(rows):
    return [int(m.group(1)) for m in map(TAG.search, rows) if m]


def steps(kestrivo, folder, out, compiling):
    """steps.lam with --frames: the reduction step by step, each row's
    term exact (sharing labels renamed row by row, as a collection between
    two frames may give a freed position to another node); the frames'
    window; and a stop, where the "normal" that reduces the stopped term on
    adds nothing to the document."""
    tex, pictures = run(kestrivo, folder, "steps.lam", out, ["--frames=" + os.path.join(out, "steps-frames")])
    with open(os.path.join(folder, "steps.tex"), encoding="utf-8") as f:
        want = f.read()
    samebody("steps.tex", [renamed(line) for line in body(tex).split("\n")],
             [renamed(line) for line in want.split("\n")])
    if compiling:
        compile_document(os.path.join(out, "steps.tex"), pictures)

    # The first three steps of each, then the rest counted.
    tex, _ = run(kestrivo, folder, "steps.lam", out, ["--frames=" + os.path.join(out, "capped"), "--frames-max=2"],
                 name="capped")
    rows = sections(tex)
    if tags(rows[6]) != [0, 1, 2] or rows[6][-1] != "\\rightarrow^{*}{}&\\dots &&\\text{3 more steps, not drawn}":
        fail("steps.lam with --frames-max=2: %r" % rows[6])
    # A window later on, for one statement: reached in two steps.
    tex, _ = run(kestrivo, folder, "steps.lam", out,
                 ["--frames=" + os.path.join(out, "window"), "--frames-from=3", "--frames-max=1", "--frames-for=line6"],
                 name="window")
    rows = sections(tex)
    if (tags(rows[6]) != [2, 3] or not rows[6][0].startswith("\\rightarrow^{*}{}&")
            or not rows[6][1].startswith("\\rightarrow{}&") or "2 more steps, not drawn" not in rows[6][-1]
            or rows[9] or rows[10]):
        fail("steps.lam with --frames-from=3 --frames-max=1 --frames-for=line6: %r" % rows)
    # Stopped at the step limit: its steps through the limit, and nothing of
    # the "normal" after it, whose own frames are not the document's.
    tex, _ = run(kestrivo, folder, "steps.lam", out,
                 ["--frames=" + os.path.join(out, "limit"), "--keep-going", "--max-steps=4"], name="limit")
    rows = sections(tex)
    first = "&(\\lambda x\\,y.\\,x)\\;1\\;(\\mathtt{car}\\;0) &&\\text{before the first step} \\tag{0}\\\\"
    if (sorted(rows) != [6, 9, 10] or tags(rows[6]) != [0, 1, 2, 3, 4] or "not drawn" in rows[6][-1]
            or tags(rows[9]) != [0, 1, 2, 3] or rows[9][0] != first or tags(rows[10]) != [0, 1, 2, 3, 4]):
        fail("steps.lam stopped at --max-steps=4, then normal: %r" % rows)
    if "stopped at the step limit after 4 steps" not in tex.split("\\subsection*{Line 9}")[0]:
        fail("steps.lam at --max-steps=4: the first expression does not say it stopped")


def main():
    argv = sys.argv[1:]
    compiling = argv[0] == "--compile"
    kestrivo, folder = (os.path.abspath(a) for a in argv[compiling:])
    if compiling:
        for tool in ("dot2tex", "pdflatex"):
            if shutil.which(tool) is None:
                fail("%s is not installed (Debian: dot2tex, texlive-latex-base, texlive-pictures)" % tool)
                return 1
    with tempfile.TemporaryDirectory() as out:
        tex, pictures = run(kestrivo, folder, "reductions.lam", out)
        with open(os.path.join(folder, "reductions.tex"), encoding="utf-8") as f:
            want = f.read()
        samebody("reductions.tex", renamed(body(tex)).split("\n"), renamed(want).split("\n"))
        if compiling:
            compile_document(os.path.join(out, "reductions.tex"), pictures)
        tex, pictures = run(kestrivo, folder, "hostile.lam", out)
        if "\\dots" not in tex:
            fail("hostile.lam: the long term is not cut")
        if "not drawn)" not in tex:
            fail("hostile.lam: the graph of the long list is not left out")
        if compiling:
            compile_document(os.path.join(out, "hostile.tex"), pictures)
        stopped(kestrivo, folder, out, compiling)
        steps(kestrivo, folder, out, compiling)
    print("latex: %d problems" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
