#!/usr/bin/env python3
"""Checks the frames that --frames writes.

  framecheck.py [--stress] KESTRIVO DIR

DIR/shared-argument.lam runs with --frames; its frames (every DOT file and
the JSON Lines file) must be DIR/shared-argument.frames, and its transcript
the one the run without --frames prints.  Pool positions are renamed, in the
order they first appear over the statement's frames, the same in every
frame, so a node must keep its name from frame to frame (as the goldens
rename sharing labels, but across files).  Every frame must render with
"dot -Tsvg" without a word from Graphviz.  Then the window: --frames-max
past which a line on standard error counts the steps not drawn,
--frames-from, --frames-for, a link where a frame goes, and a folder that
cannot be written.  And the
frames as events (--events), for a statement and for the "normal" that
reduces a stopped one on.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []
POSITION = re.compile(r"(?<=\bn)\d+|(?<=\bco)\d+|(?<=\bl)\d+(?=_)|(?<=node )\d+|(?<=\"node\":)\d+")


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def run(kestrivo, args, program):
    proc = subprocess.run([kestrivo] + args + [program], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)
    return proc.returncode, proc.stdout.decode(), proc.stderr.decode()


def frames(folder):
    """The statement's files, frames in step order then the JSON Lines file."""
    names = sorted(os.listdir(folder))
    return [n for n in names if n.endswith(".dot")] + [n for n in names if n.endswith(".jsonl")]


STRESS = False


def renamer():
    names = {}
    return lambda m: names.setdefault(m.group(0), str(len(names) + 1))


def pertext(text):
    """The text of normalised files, each renamed on its own."""
    parts = re.split(r"(?m)^(== .*\n)", text)
    return parts[0] + "".join(h + POSITION.sub(renamer(), b) for h, b in zip(parts[1::2], parts[2::2]))


def normalised(folder):
    rename = renamer()
    text = []
    for name in frames(folder):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            text.append("== %s\n%s" % (name, POSITION.sub(renamer() if STRESS else rename, f.read())))
    return "".join(text)


def render(folder):
    if shutil.which("dot") is None:
        fail("Graphviz's dot is not installed")
        return
    for name in frames(folder):
        if not name.endswith(".dot"):
            continue
        proc = subprocess.run(["dot", "-Tsvg", os.path.join(folder, name)], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=120)
        if proc.returncode != 0 or proc.stderr:
            fail("dot -Tsvg %s: %s" % (name, proc.stderr.decode(errors="replace")))


def lines(folder, name):
    with open(os.path.join(folder, name), encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def golden(kestrivo, here, out):
    program = os.path.join(here, "shared-argument.lam")
    status, transcript, errors = run(kestrivo, ["--frames=" + out], program)
    _, plain, _ = run(kestrivo, [], program)
    if status != 0 or errors:
        fail("shared-argument: status %d, standard error %r" % (status, errors))
    if transcript != plain:
        fail("shared-argument: the transcript differs from the one without --frames")
    with open(os.path.join(here, "shared-argument.frames"), encoding="utf-8") as f:
        want = f.read()
    if STRESS:
        want = pertext(want)
    got = normalised(out)
    if got != want:
        for i, (a, b) in enumerate(zip(got.splitlines(), want.splitlines())):
            if a != b:
                fail("shared-argument.frames, line %d:\n  got  %s\n  want %s" % (i + 1, a, b))
                break
        else:
            fail("shared-argument.frames: %d lines, want %d" % (len(got.splitlines()), len(want.splitlines())))
    # The trace line of each frame is the one --trace prints.
    _, _, trace = run(kestrivo, ["--trace"], program)
    traced = [l[len("kestrivo: "):] for l in trace.splitlines()]
    recorded = [l["trace"] for l in lines(out, "line6-steps.jsonl") if l.get("trace")]
    if recorded != traced:
        fail("the frames' trace lines %r differ from --trace's %r" % (recorded, traced))
    render(out)


def window(kestrivo, here, out):
    program = os.path.join(out, "two.lam")
    with open(program, "w") as f:
        f.write("(lambda x (+ x x)) (* 2 3);\n(lambda x x) 7;\n")
    # The cap: 3 steps of the first statement's 5 drawn, then a line.
    folder = os.path.join(out, "cap")
    status, _, errors = run(kestrivo, ["--frames=" + folder, "--frames-max=3"], program)
    want = "kestrivo: 1: frames: 2 more steps not drawn, past the cap of 3 (--frames-max)\n"
    if status != 0 or errors != want:
        fail("--frames-max=3: status %d, standard error %r, want %r" % (status, errors, want))
    got = sorted(n for n in os.listdir(folder) if n.startswith("line1-"))
    if got != ["line1-step%04d.dot" % k for k in range(4)] + ["line1-steps.jsonl"]:
        fail("--frames-max=3: files %s" % got)
    end = lines(folder, "line1-steps.jsonl")[-1]
    if end != {"end": True, "steps": 5, "frames": 4}:
        fail("--frames-max=3: end line %r" % end)
    # The same with every step traced, or profiled: the window's end takes
    # the frames' look away while the trace still looks at every step, and
    # the count of steps goes on as it was.
    for extra in ("--trace", "--profile"):
        folder = os.path.join(out, "cap" + extra[2:])
        status, _, errors = run(kestrivo, ["--frames=" + folder, "--frames-max=3", extra], program)
        end = lines(folder, "line1-steps.jsonl")[-1]
        if end != {"end": True, "steps": 5, "frames": 4} or want not in errors:
            fail("--frames-max=3 %s: end line %r, standard error %r" % (extra, end, errors))
        if extra == "--trace" and "kestrivo: trace 5 + " not in errors:
            fail("--frames-max=3 --trace: the trace has not its five steps: %r" % errors)
    # A window later on: steps 3 and 4, and the graph step 3 rewrites.
    folder = os.path.join(out, "from")
    run(kestrivo, ["--frames=" + folder, "--frames-from=3", "--frames-max=2", "--frames-for=line1"], program)
    got = sorted(os.listdir(folder))
    if got != ["line1-step0002.dot", "line1-step0003.dot", "line1-step0004.dot", "line1-steps.jsonl"]:
        fail("--frames-from=3 --frames-max=2 --frames-for=line1: files %s" % got)
    steps = [l.get("step") for l in lines(folder, "line1-steps.jsonl")]
    if steps != [2, 3, 4, None]:
        fail("--frames-from=3: steps %r" % steps)
    # A symbolic link where a frame goes is refused, not followed: the file
    # it names keeps its text, that statement's frames end there, the next
    # statement's are written, and the run ends with status 1.
    folder = os.path.join(out, "link")
    os.makedirs(folder)
    precious = os.path.join(out, "precious")
    with open(precious, "w") as f:
        f.write("not a frame\n")
    os.symlink(precious, os.path.join(folder, "line1-step0001.dot"))
    status, transcript, errors = run(kestrivo, ["--frames=" + folder], program)
    with open(precious) as f:
        if f.read() != "not a frame\n":
            fail("--frames through a link: the file it names was written")
    if "line1-step0001.dot': it is a symbolic link" not in errors or status != 1:
        fail("--frames through a link: status %d, %r" % (status, errors))
    got = sorted(os.listdir(folder))
    if "line1-step0002.dot" in got or "line2-step0001.dot" not in got:
        fail("--frames through a link: files %s" % got)
    if transcript != run(kestrivo, [], program)[1]:
        fail("--frames through a link: the transcript changed")
    # A folder that cannot be made: a usage error, nothing run.
    blocker = os.path.join(out, "file")
    open(blocker, "w").close()
    status, transcript, errors = run(kestrivo, ["--frames=" + os.path.join(blocker, "sub")], program)
    if status != 2 or transcript or "cannot write frames in" not in errors:
        fail("--frames into a file's path: status %d, %r" % (status, errors))
    status, _, errors = run(kestrivo, ["--frames-max=0"], program)
    if status != 2 or "invalid value for --frames-max" not in errors:
        fail("--frames-max=0: status %d, %r" % (status, errors))


def readevents(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def events(kestrivo, here, out):
    """--events with --frames: a "frame" event for each frame, saying what
    its line in NAME-steps.jsonl says, and a "frames" event for the end line.
    Then a statement stopped at the step limit and two "normal" that reduce
    it on: each has its own frames, the first beginning with the stopped
    term; only the one that reaches the normal form has a "result", and the
    transcript is the one without the events and the frames."""
    folder = os.path.join(out, "events")
    path = os.path.join(out, "events.jsonl")
    program = os.path.join(here, "shared-argument.lam")
    run(kestrivo, ["--frames=" + folder, "--events=" + path], program)
    stream = readevents(path)
    got = [{k: e[k] for k in ("step", "rule", "node", "term")} for e in stream if e["event"] == "frame"]
    recorded = lines(folder, "line6-steps.jsonl")
    want = [{k: l[k] for k in ("step", "rule", "node", "term")} for l in recorded[:-1]]
    if got != want or not got:
        fail("the frame events %r are not the frames' lines %r" % (got, want))
    files = [e["file"] for e in stream if e["event"] == "frame"]
    if files != [os.path.join(folder, l["file"]) for l in recorded[:-1]]:
        fail("the frame events' files %r" % files)
    ends = [e for e in stream if e["event"] == "frames"]
    if ends != [{"event": "frames", "line": 6, "name": "line6", "steps": 5, "frames": 6,
                 "file": os.path.join(folder, "line6-steps.jsonl")}]:
        fail("the frames events %r" % ends)

    program = os.path.join(out, "resumed.lam")
    with open(program, "w") as f:
        f.write("sq = lambda x (* x x);\nsq (sq 3);\nnormal;\nnormal;\n")
    limit = ["--keep-going", "--max-steps=3"]
    _, plain, _ = run(kestrivo, limit, program)
    folder = os.path.join(out, "resumed")
    status, transcript, _ = run(kestrivo, limit + ["--frames=" + folder, "--events=" + path], program)
    if transcript != plain:
        fail("stopped and resumed: the transcript with --events and --frames differs")
    stream = readevents(path)
    frames = {}
    for e in stream:
        if e["event"] == "frame":
            frames.setdefault(e["line"], []).append(e)
    steps = {line: [e["step"] for e in f] for line, f in frames.items()}
    if steps != {2: [0, 1, 2, 3], 3: [0, 1, 2, 3], 4: [0, 1, 2]}:
        fail("stopped and resumed: frames of steps %r" % steps)
    elif frames[3][0]["term"] != frames[2][-1]["term"] or frames[4][0]["term"] != frames[3][-1]["term"]:
        fail("stopped and resumed: a normal's first frame is not the stopped term")
    elif any(e["name"] != "line%d" % line for line, f in frames.items() for e in f):
        fail("stopped and resumed: frames named %r" % [e["name"] for f in frames.values() for e in f])
    results = [(e["line"], e["term"]) for e in stream if e["event"] == "result"]
    if results != [(4, "81")]:
        fail("stopped and resumed: results %r, want the last normal's 81 alone" % results)
    stops = [(e["line"], e["reason"], e["steps"]) for e in stream if e["event"] == "stop"]
    if stops != [(2, "limit", 3), (3, "limit", 3)]:
        fail("stopped and resumed: stops %r" % stops)
    ends = [(e["line"], e["steps"], e["frames"]) for e in stream if e["event"] == "frames"]
    stats = [(e["line"], e["steps"]) for e in stream if e["event"] == "stats"]
    if ends != [(2, 3, 4), (3, 3, 4), (4, 2, 3)] or stats != [(2, 3), (3, 3), (4, 2)]:
        fail("stopped and resumed: frames ends %r, stats %r" % (ends, stats))


def main():
    global STRESS
    args = sys.argv[1:]
    if args[:1] == ["--stress"]:
        STRESS = True
        args = args[1:]
    if len(args) != 2:
        sys.exit(__doc__)
    kestrivo, here = os.path.abspath(args[0]), os.path.abspath(args[1])
    with tempfile.TemporaryDirectory() as out:
        os.mkdir(os.path.join(out, "golden"))
        golden(kestrivo, here, os.path.join(out, "golden"))
        window(kestrivo, here, out)
        events(kestrivo, here, out)
    print("frames: %d failures" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
