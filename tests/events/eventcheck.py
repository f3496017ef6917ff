#!/usr/bin/env python3
"""Checks the event stream (--events=FILE) against the run it describes.

  eventcheck.py [--stress] KESTRIVO GOLDEN_DIR [EXAMPLES_DIR...]
  eventcheck.py --selfcheck [--stress] KESTRIVO PROGRAM.lam

Every golden program (and every example) runs as its golden test runs it,
with --events=FILE put in front of its options.  Then:
  - standard output and the exit status are those the golden test expects
    (compared as the golden runner compares them): the events change
    nothing in the transcript;
  - the transcript rebuilt from the "out" events (their texts in order) is
    standard output byte for byte, and standard error rebuilt from the
    "diagnostic" events is standard error;
  - the stream is well formed: one JSON object a line, "start" first with
    the schema version, "end" last with the run's status, every event of a
    known type, every part of a known name, line numbers that exist;
  - each statement's text is what the program file holds at the statement's
    line and column, and ends with its ";";
  - the figures of the "stats" events add up to the "total" event, and the
    total row of each "profile" table has the figures of the "stats" or
    "total" event before it, its other rows adding up to the total.
The events are read by a program as a consumer would, so the test shows the
stream can stand in for the transcript.  --stress: the stress build, whose
collection reports are dropped before comparing with the golden's output, as
the golden runner drops them; the rebuilt transcript is compared whole.
"""
import base64
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden"))
import run as golden  # noqa: E402  the golden runner's reading of NAME.out, NAME.rc

SCHEMA = 5  # the version the stream's start event carries
PROFILED = ["entries", "steps", "beta", "ops", "newnodes"]  # a profile row's figures
EVENTS = {"start", "out", "statement", "result", "stats", "total", "warning", "diagnostic",
          "stop", "step", "picture", "wait", "end", "strategies", "profile", "frame", "frames"}
PARTS = {"startup", "echo", "parsed", "expanded", "normal", "newnodes", "collection",
         "output", "insatu", "report"}
KINDS = {"expression", "definition", "macro", "command"}
REASONS = {"exhausted", "depth", "reading", "limit", "interrupt", "dropped"}
FIGURES = ["newnodes", "steps", "beta", "ops", "gcs", "freed"]
READBACK = ["readback_steps", "readback_nodes"]  # with --readback, its cost


def arguments(lam):
    base = lam[: -len(".lam")]
    args = ["{lam}"]
    if os.path.exists(base + ".args"):
        with open(base + ".args") as f:
            args = f.read().split()
    return args


def run(binary, lam, args, extra):
    stdin = subprocess.DEVNULL
    if "{lam}" not in args:
        stdin = open(lam, "rb")
    argv = [binary] + extra + [os.path.basename(lam) if a == "{lam}" else a for a in args]
    try:
        return subprocess.run(argv, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=os.path.dirname(os.path.abspath(lam)), timeout=600)
    finally:
        if stdin is not subprocess.DEVNULL:
            stdin.close()


def text(event, name):
    """A text field as bytes: its exact bytes when it was not valid UTF-8."""
    if name + "_base64" in event:
        return base64.b64decode(event[name + "_base64"])
    return event[name].encode("utf-8")


class Source:
    """A program file as lines of bytes, with the byte where each character
    of a line begins (columns count characters from 1)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.lines = f.read().split(b"\n")
        self.starts = {}

    def offset(self, line, column):
        raw = self.lines[line - 1]
        if raw.isascii():
            return column - 1
        if line not in self.starts:
            self.starts[line] = [k for k, byte in enumerate(raw) if byte & 0xC0 != 0x80]
        starts = self.starts[line]
        return starts[column - 1] if column <= len(starts) else len(raw)

    def text(self, line, column, end_line, end_column):
        """The text from line:column through end_line:end_column, or None
        when those are not in the file."""
        if not (1 <= line <= end_line <= len(self.lines)):
            return None
        a = self.offset(line, column)
        b = self.offset(end_line, end_column) + 1
        if line == end_line:
            return self.lines[line - 1][a:b]
        middle = self.lines[line:end_line - 1]
        return b"\n".join([self.lines[line - 1][a:]] + middle + [self.lines[end_line - 1][:b]])


# What may come on standard error before the stream opens: the remarks on
# the command line's counts.
BEFORE = re.compile(rb"kestrivo: (LASTBLOCK|TOKENCAPACITY) '.*' is not a number; read as -?\d+\n"
                    rb"|kestrivo: extra arguments ignored, from '.*'\n")


def runwithevents(binary, lam):
    """Runs the program with the events on: the finished process and the
    stream's bytes (None when the run opened no stream)."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "events.jsonl")
        proc = run(binary, lam, arguments(lam), ["--events=" + path])
        if not os.path.exists(path):
            return proc, None
        with open(path, "rb") as f:
            return proc, f.read()


def check(binary, lam, stress):
    """The problems found with one program's events; empty when none."""
    withevents, raw = runwithevents(binary, lam)
    return analyse(lam, withevents, raw, stress)


def analyse(lam, withevents, raw, stress):
    """The problems of a run's stream raw against the run and the program."""
    name = os.path.basename(lam)
    problems = []
    args = arguments(lam)
    wantout, wantrc, _ = golden.expected(lam)
    if raw is None:
        # A command line that runs nothing (--help, a usage error) opens no stream.
        if withevents.returncode != wantrc:
            problems.append("no events, yet the run went on (status %d)" % withevents.returncode)
        return ["%s: %s" % (name, p) for p in problems]
    if withevents.returncode != wantrc:
        problems.append("status %d with the events, %d expected" % (withevents.returncode, wantrc))
    if golden.normalise(withevents.stdout, stress) != golden.normalise(wantout, stress):
        problems.append("standard output with the events is not the golden's")

    events = []
    for number, line in enumerate(raw.split(b"\n")[:-1], 1):
        try:
            event = json.loads(line.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as e:
            problems.append("line %d of the stream is not JSON: %s" % (number, e))
            return ["%s: %s" % (name, p) for p in problems]
        if not isinstance(event, dict) or event.get("event") not in EVENTS:
            problems.append("line %d: unknown event %r" % (number, line[:80]))
            return ["%s: %s" % (name, p) for p in problems]
        events.append(event)
    if not raw.endswith(b"\n"):
        problems.append("the stream does not end with a line end")
    if not events or events[0]["event"] != "start" or events[0].get("schema") != SCHEMA:
        problems.append("the stream does not begin with a start event of schema %d" % SCHEMA)
    if not events or events[-1]["event"] != "end" or events[-1].get("status") != withevents.returncode:
        problems.append("the stream does not end with the run's status %d" % withevents.returncode)
    if sum(e["event"] in ("start", "end") for e in events) != 2:
        problems.append("more than one start or end event")

    transcript = b"".join(text(e, "text") for e in events if e["event"] == "out")
    if transcript != withevents.stdout:
        problems.append("the transcript rebuilt from the events differs from standard output")
    # Lines written while the command line was read come before the stream.
    errors = b"".join(text(e, "text") + b"\n" for e in events if e["event"] == "diagnostic")
    before = withevents.stderr[: len(withevents.stderr) - len(errors)]
    if not withevents.stderr.endswith(errors) or BEFORE.sub(b"", before):
        problems.append("standard error rebuilt from the events differs from standard error")

    sources = events[0].get("sources", []) if events else []
    files = {}
    folder = os.path.dirname(os.path.abspath(lam))
    readback = bool(events[0].get("readback")) if events else False
    stats = {k: 0 for k in FIGURES + (READBACK if readback else [])}
    counted = 0
    figures = None  # the latest stats or total event
    rows = {k: 0 for k in PROFILED}  # the profile rows since the last total row
    for e in events:
        kind = e["event"]
        if kind == "out" and (e["part"] not in PARTS or not e["text"]):
            problems.append("an out event with part %r and text %r" % (e["part"], e["text"]))
        if kind == "statement":
            if e["kind"] not in KINDS or e["line"] < 1 or e["column"] < 1:
                problems.append("statement event %r" % e)
                continue
            body = text(e, "text")
            if not body.endswith(b";"):
                problems.append("statement text %r does not end with ';'" % body)
            source = sources[e["source"]] if e["source"] < len(sources) else None
            path = None
            if source not in (None, "-"):
                path = os.path.join(folder, source)
            elif "{lam}" not in args:
                path = lam  # the program came on standard input
            if path is not None and os.path.isfile(path):
                if path not in files:
                    files[path] = Source(path)
                want = files[path].text(e["line"], e["column"], e["end_line"], e["end_column"])
                if want != body:
                    problems.append("statement at %d:%d: text %r, the file holds %r"
                                    % (e["line"], e["column"], body, want))
        if kind == "stop" and e["reason"] not in REASONS:
            problems.append("stop event %r" % e)
        if kind in ("stats", "total"):
            figures = e
            if any(k in e for k in READBACK) != readback:
                problems.append("%s event %r: the read-back's figures with --readback and only then" % (kind, e))
        if kind == "profile":
            if e["centre"] is not None:
                for k in PROFILED:
                    rows[k] += e[k]
            else:
                want = {k: figures[k] for k in PROFILED if k != "entries"} if figures else None
                if want != {k: e[k] for k in PROFILED if k != "entries"}:
                    problems.append("the profile total %r is not the figures %r" % (e, figures))
                if any(rows[k] != e[k] for k in PROFILED):
                    problems.append("the profile rows %r do not add up to the total %r" % (rows, e))
                rows = {k: 0 for k in PROFILED}
        if kind == "stats":
            counted += 1
            for k in stats:
                stats[k] += e.get(k, 0)
        if kind == "total":
            if e["statements"] != counted or any(e.get(k) != stats[k] for k in stats):
                problems.append("the total event %r is not the sum of the stats events %r" % (e, stats))
    problems += parts(events, sources, folder, args, lam)
    return ["%s: %s" % (name, p) for p in problems]


def parts(events, sources, folder, args, lam):
    """Problems with the parts the transcript's lines are given."""
    problems = []
    # The echo is the program text, line by line, as far as the run read it.
    echoed = b"".join(text(e, "text") for e in events if e["event"] == "out" and e["part"] == "echo")
    if echoed:
        read = b""
        for source in sources:
            path = lam if source == "-" and "{lam}" not in args else os.path.join(folder, source)
            if source == "-" and "{lam}" in args or not os.path.isfile(path):
                break
            with open(path, "rb") as f:
                data = f.read()
            read += data if data.endswith(b"\n") or not data else data + b"\n"
        if not read.startswith(echoed):
            problems.append("the echoed lines are not the program text")
    # An expression that ran to its end: its parsed, expanded, normal-form and
    # newnodes lines in order, with collection reports and what print prints
    # between.
    within = None
    for e in events:
        if e["event"] == "statement":
            within = [] if e["kind"] == "expression" else None
        elif e["event"] == "out" and within is not None and e["part"] not in ("collection", "output"):
            within.append(e["part"])
        elif e["event"] == "out" and e["part"] == "collection":
            if e["text"] != "\n" and not e["text"].startswith("GARBAGE... "):
                problems.append("a collection line %r" % e["text"])
        elif e["event"] == "result" and within is not None:
            if within != ["parsed", "expanded", "normal", "newnodes"]:
                problems.append("an expression's lines are of the parts %s" % within)
            within = None
    return problems


def selfcheck(binary, lam, stress):
    """The check must notice a stream that lost a line, a line given to the
    wrong part, a statement's text cut short, a wrong total, an echo that
    is not the program."""
    proc, raw = runwithevents(binary, lam)
    problems = analyse(lam, proc, raw, stress)
    if problems:
        print("the program's own stream has problems: %s" % problems)
        return 1
    lines = raw.split(b"\n")
    out = [k for k, line in enumerate(lines) if b'"event":"out"' in line]
    statement = next(k for k, line in enumerate(lines) if b'"event":"statement"' in line)
    total = next(k for k, line in enumerate(lines) if b'"event":"total"' in line)
    parsed = next(k for k in out if b'"part":"parsed"' in lines[k])
    echo = next(k for k in out if b'"part":"echo"' in lines[k])

    def changed(k, old, new):
        copy = list(lines)
        copy[k] = copy[k].replace(old, new, 1)
        return b"\n".join(copy)

    wrong = {
        "a lost line": b"\n".join(lines[: out[-1]] + lines[out[-1] + 1:]),
        "a line of the wrong part": changed(out[-1], b'"part":"report"', b'"part":"nowhere"'),
        "a statement cut short": changed(statement, b';"', b'"'),
        "a wrong total": changed(total, b'"steps":', b'"steps":1'),
        "a parsed line given as expanded": changed(parsed, b'"part":"parsed"', b'"part":"expanded"'),
        "an echo that is not the program": changed(echo, b'"text":"', b'"text":"x'),
    }
    for what, text in wrong.items():
        if not analyse(lam, proc, text, stress):
            print("the check accepted a stream with " + what)
            return 1
    print("the check rejects every stream it was given with a fault: ok")
    return 0


def main():
    argv = sys.argv[1:]
    if argv and argv[0] == "--selfcheck":
        stress = argv[1] == "--stress"
        return selfcheck(argv[1 + stress], argv[2 + stress], stress)
    stress = bool(argv) and argv[0] == "--stress"
    if stress:
        argv = argv[1:]
    binary, folders = argv[0], argv[1:]
    programs = []
    for folder in folders:
        for entry in sorted(os.listdir(folder)):
            lam = os.path.join(folder, entry)
            if entry.endswith(".lam") and os.path.exists(lam[:-4] + ".out"):
                if stress and os.path.exists(lam[:-4] + ".nostress"):
                    continue
                programs.append(lam)
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda lam: check(binary, lam, stress), programs))
    problems = [p for r in results for p in r]
    for p in problems:
        print("FAIL: " + p)
    print("%d programs, %d problems" % (len(programs), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
