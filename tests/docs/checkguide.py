#!/usr/bin/env python3
"""Runs every example of the language guide through the real binary.

  checkguide.py [--stress] KESTRIVO GUIDE.md
  checkguide.py --selfcheck KESTRIVO GUIDE.md

The guide is Markdown.  Two kinds of example are checked:

1. A program and its transcript.  A fenced block opened by ```lam holds a
   program; the next fenced block, with nothing but blank lines between, must
   be opened by ```transcript and hold what the interpreter prints on standard
   output for that program.  The program is written to a file and run as
   `kestrivo [OPTION]... FILE [ARG]...`, where the OPTIONs and ARGs are the
   words after "lam" on the opening line (options begin with "--"; the ARGs
   are the pool's last block and the token capacity), e.g.
   ```lam 0
   The three start-up lines (banner, node size, FreeNodes) are checked to be
   there and then left out, unless the transcript's opening line says
   ```transcript startup
   The exit status must be 0, or N when the opening line has status=N.
   A third block may follow the transcript, opened by ```diagnostics: what
   the program writes on standard error, which must then match it (the
   figures that vary from run to run, time_ms=..., are left out of both).
   A lam block without its transcript, or a transcript without its program,
   is an error, so no example goes unchecked.

2. A table of expressions.  A Markdown table whose header has the columns
   "example" and "normal form": every row's example (in `backquotes`) is run
   as one expression statement, all rows of a table in one program, and the
   third line it prints, the normal form, must equal the row's normal form.

Comparisons ignore the blank that ends every printed term line (so the guide
need not keep trailing blanks), and rename sharing labels ("co" and a number)
per line in order of first appearance, with the golden runner's own
normalise; --stress also drops collection reports there, since a stress build
collects before every allocation.  A guide without any example fails.
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden"))
from run import differ, normalise  # noqa: E402  (the golden runner's label renaming and report)

FENCE = re.compile(r"^```(\S*)(.*)$")
STARTUP = [re.compile(rb"^THIS IS KESTRIVO \*+ $"),
           re.compile(rb"^SIZE OF node = \d+ \*\*\* PLEASE WAIT A MOMENT\.$"),
           re.compile(rb"^FreeNodes = \d+$")]


class Example:
    def __init__(self, line, program, args, expected, startup, status, errors=None):
        self.line = line          # line of the guide where the program starts
        self.program = program
        self.args = args
        self.expected = expected
        self.startup = startup
        self.status = status
        self.errors = errors      # expected standard error, or None: not checked


class Table:
    def __init__(self, line, rows):
        self.line = line
        self.rows = rows          # (guide line, expression, normal form)


def blocks(text):
    """Fenced blocks as (opening line number, info word, rest of info, body)."""
    lines = text.split("\n")
    out, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        start, body = i, []
        i += 1
        while i < len(lines) and not lines[i].startswith("```"):
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise ValueError(f"line {start + 1}: fenced block never closed")
        out.append((start + 1, m.group(1), m.group(2).split(), body, i + 1))
        i += 1
    return out, lines


def examples(text):
    """The guide's programs with their transcripts; raises on a broken pair."""
    found, lines = blocks(text)
    result, k = [], 0
    while k < len(found):
        line, word, info, body, end = found[k]
        if word == "transcript":
            raise ValueError(f"line {line}: transcript without a lam block before it")
        if word != "lam":
            k += 1
            continue
        nxt = found[k + 1] if k + 1 < len(found) else None
        between = lines[end:nxt[0] - 1] if nxt else []
        if nxt is None or nxt[1] != "transcript" or any(s.strip() for s in between):
            raise ValueError(f"line {line}: lam block not followed by a transcript block")
        tinfo = nxt[2]
        status = 0
        for w in tinfo:
            if w.startswith("status="):
                status = int(w[len("status="):])
            elif w != "startup":
                raise ValueError(f"line {nxt[0]}: unknown transcript option {w}")
        errors = None
        after = found[k + 2] if k + 2 < len(found) else None
        if after is not None and after[1] == "diagnostics" and \
                not any(s.strip() for s in lines[nxt[4]:after[0] - 1]):
            errors = "\n".join(after[3]) + "\n"
            k += 1
        result.append(Example(line, "\n".join(body) + "\n", info,
                              "\n".join(nxt[3]) + "\n", "startup" in tinfo, status, errors))
        k += 2
    return result


def cells(row):
    return [c.strip() for c in row.strip().strip("|").split("|")]


def code(cell):
    m = re.fullmatch(r"`([^`]*)`", cell)
    return m.group(1) if m else None


def tables(text):
    """Tables with "example" and "normal form" columns."""
    lines = text.split("\n")
    result, i = [], 0
    while i < len(lines):
        if not lines[i].lstrip().startswith("|") or i + 1 >= len(lines):
            i += 1
            continue
        head = [c.lower() for c in cells(lines[i])]
        if "example" not in head or "normal form" not in head:
            i += 1
            continue
        ex, nf = head.index("example"), head.index("normal form")
        start, rows = i + 1, []
        i += 2  # the header and its |---| line
        while i < len(lines) and lines[i].lstrip().startswith("|"):
            c = cells(lines[i])
            e, n = code(c[ex]), code(c[nf])
            if e is None or n is None:
                raise ValueError(f"line {i + 1}: example and normal form must be `code`")
            rows.append((i + 1, e, n))
            i += 1
        if not rows:
            raise ValueError(f"line {start}: table of examples without rows")
        result.append(Table(start, rows))
    return result


def run(binary, program, args):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "example.lam")
        with open(path, "w") as f:
            f.write(program)
        options = [a for a in args if a.startswith("--")]
        counts = [a for a in args if not a.startswith("--")]
        proc = subprocess.run([binary] + options + [path] + counts, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return proc.stdout, proc.returncode, proc.stderr.replace(path.encode(), b"example.lam")


def unblanked(data):
    return b"\n".join(line.rstrip(b" ") for line in data.split(b"\n"))


def strip_startup(out):
    lines = out.split(b"\n")
    for i, pattern in enumerate(STARTUP):
        if i >= len(lines) or not pattern.match(lines[i]):
            return None
    return b"\n".join(lines[3:])


TIME = re.compile(rb"time_ms=[0-9.]+")


def check_example(binary, ex, stress):
    out, rc, err = run(binary, ex.program, ex.args)
    where = f"guide line {ex.line}"
    ok = True
    if rc != ex.status:
        print(f"{where}: exit status {rc}, expected {ex.status}")
        ok = False
    if not ex.startup:
        rest = strip_startup(out)
        if rest is None:
            print(f"{where}: output does not begin with the three start-up lines")
            return False
        out = rest
    got = unblanked(normalise(out, stress))
    want = unblanked(normalise(ex.expected.encode(), stress))
    if differ(where, "transcript", got, want):
        ok = False
    if ex.errors is not None and differ(where, "standard error", TIME.sub(b"time_ms=", err),
                                         TIME.sub(b"time_ms=", ex.errors.encode())):
        ok = False
    return ok


def check_table(binary, table, stress):
    program = "".join(e + ";\n" for _, e, _ in table.rows)
    out, _, _ = run(binary, program, [])
    rest = strip_startup(out)
    if rest is None:
        print(f"guide line {table.line}: output does not begin with the start-up lines")
        return False
    lines = unblanked(normalise(rest, stress)).split(b"\n")
    ok, i = True, 0
    for line, e, n in table.rows:
        echo = (e + ";").encode()
        if lines[i:i + 1] != [echo] or i + 4 >= len(lines) or not lines[i + 4].startswith(b"newnodes = "):
            print(f"guide line {line}: {e} did not print the four lines of an expression")
            return False
        got = lines[i + 3]
        want = unblanked(normalise(n.encode(), stress))
        if got != want:
            print(f"guide line {line}: {e}")
            print(f"  expected normal form: {want!r}")
            print(f"  got:                  {got!r}")
            ok = False
        i += 5
    return ok


def check(binary, text, stress):
    """Every example of the guide text; False when one fails or none exists."""
    try:
        progs, tabs = examples(text), tables(text)
    except ValueError as e:
        print(f"guide: {e}")
        return False
    if not progs and not tabs:
        print("guide: no examples found")
        return False
    ok = True
    for ex in progs:
        ok = check_example(binary, ex, stress) and ok
    for t in tabs:
        ok = check_table(binary, t, stress) and ok
    if ok:
        print(f"{len(progs)} programs and {sum(len(t.rows) for t in tabs)} table rows: ok")
    return ok


def selfcheck(binary, text):
    """The checker must reject a wrong transcript, a wrong line of standard
    error, a wrong normal form in a table, a wrong exit status, a program without transcript and a guide
    without examples."""
    if not check(binary, text, True):
        return 1
    found, lines = blocks(text)
    first_transcript = next(b for b in found if b[1] == "transcript")
    tline = first_transcript[4] - 2  # index of its last body line
    wrong = lines[:tline] + [lines[tline] + "x"] + lines[tline + 1:]
    opening = lines[first_transcript[0] - 1] + " status=7"
    status = lines[:first_transcript[0] - 1] + [opening] + lines[first_transcript[0]:]
    row = tables(text)[0].rows[0]
    head, _, tail = lines[row[0] - 1].rpartition(f"`{row[2]}`")
    bad_row = lines[:row[0] - 1] + [f"{head}`{row[2]}0`{tail}"] + lines[row[0]:]
    first_errors = next(b for b in found if b[1] == "diagnostics")
    eline = first_errors[4] - 2  # index of its last body line
    wrong_errors = lines[:eline] + [lines[eline] + "x"] + lines[eline + 1:]
    orphan = "```lam\n1;\n```\n\ntext\n"
    cases = [("a wrong transcript line", "\n".join(wrong)),
             ("a wrong line of standard error", "\n".join(wrong_errors)),
             ("a wrong exit status", "\n".join(status)),
             ("a wrong normal form in a table", "\n".join(bad_row)),
             ("a program without its transcript", orphan),
             ("a guide without examples", "# nothing to run\n")]
    for what, bad in cases:
        print(f"--- expecting a failure for {what}:")
        if check(binary, bad, True):
            print(f"checker accepted {what}")
            return 1
    print("checker rejects every wrong guide: ok")
    return 0


def main():
    argv = sys.argv[1:]
    mode = argv.pop(0) if argv and argv[0].startswith("--") else ""
    binary, guide = argv
    with open(guide) as f:
        text = f.read()
    if mode == "--selfcheck":
        return selfcheck(binary, text)
    return 0 if check(binary, text, mode == "--stress") else 1


if __name__ == "__main__":
    sys.exit(main())
