"""One kestrivo interpreter driven through its event stream.

The interpreter reads program text on its standard input, a pipe, and writes
its events (--events, one JSON object a line) to a second pipe; its
transcript on standard output is not needed, since every line of it comes as
an "out" event.  After a cell's text has been written, the cell is done when
the interpreter says it waits for input ("wait") having read every byte
written so far.
"""
import json
import os
import re
import signal
import subprocess
import tempfile

# Bytes a picture's DOT file may hold to be drawn: Graphviz lays out a
# thousand-node graph in seconds and the picture helps nobody; the printer
# cuts a term long before that anyway.
PICTURE_BYTES = 200_000
# Seconds Graphviz may take over one picture.
PICTURE_SECONDS = 20


def interpreter_path():
    """The interpreter: $KESTRIVO, else kestrivo on the PATH."""
    return os.environ.get("KESTRIVO") or "kestrivo"


def has_option(binary, option):
    """True when the interpreter's --help lists option (a later build may
    offer what an earlier one lacks, such as --frames)."""
    try:
        out = subprocess.run([binary, "--help"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=10).stdout.decode(errors="replace")
    except (OSError, subprocess.SubprocessError):
        return False
    return re.search(r"(^|\s)" + re.escape(option) + r"\b", out) is not None


def svg(dotfile):
    """The picture of a DOT file as SVG text, or None when it is too large
    to draw or Graphviz cannot draw it; the second value says why."""
    try:
        size = os.path.getsize(dotfile)
    except OSError as e:
        return None, str(e)
    if size > PICTURE_BYTES:
        return None, "the graph is too large to draw (%d bytes of DOT)" % size
    try:
        proc = subprocess.run(["dot", "-Tsvg", dotfile], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=PICTURE_SECONDS)
    except FileNotFoundError:
        return None, "Graphviz (dot) is not installed"
    except subprocess.TimeoutExpired:
        return None, "Graphviz took too long over the graph"
    if proc.returncode != 0:
        return None, proc.stderr.decode(errors="replace").strip()
    text = proc.stdout.decode("utf-8", errors="replace")
    start = text.find("<svg")  # without the XML prologue, so it can sit inside HTML too
    return (text[start:] if start >= 0 else text), None


class Ended(Exception):
    """The interpreter's run ended (the exit statement, or it failed)."""

    def __init__(self, status, errors):
        super().__init__("the interpreter ended with status %s" % status)
        self.status = status
        self.errors = errors


class Interpreter:
    """An interpreter process and its event stream.

    options: command-line options put before the program ("-" for standard
    input) and lastblock, the pool's highest block number.  frames, when
    not None, asks for the frames of each expression's first frames steps
    (--frames, in a folder of the interpreter's own), each a "frame" event."""

    def __init__(self, binary=None, options=(), lastblock=99, frames=None):
        self.binary = binary or interpreter_path()
        self.folder = tempfile.TemporaryDirectory(prefix="kestrivo-")
        self.dotdir = os.path.join(self.folder.name, "dot")
        os.mkdir(self.dotdir)
        self.errors = open(os.path.join(self.folder.name, "stderr"), "w+b")
        readfd, writefd = os.pipe()
        argv = [self.binary, "--events=/dev/fd/%d" % writefd, "--dot=" + self.dotdir] + list(options)
        if frames is not None:
            argv += ["--frames=" + os.path.join(self.folder.name, "frames"), "--frames-max=%d" % frames]
        argv += ["-", str(lastblock)]
        # A session of its own: an interrupt sent to the kernel's process
        # group does not reach the interpreter, which gets exactly the one
        # the kernel forwards.
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     stderr=self.errors, pass_fds=(writefd,), start_new_session=True)
        os.close(writefd)
        self.events = readfd
        self.pending = b""     # bytes of the stream not yet a whole line
        self.written = 0       # bytes of program text written to the interpreter
        self.lines = 0         # lines written, so a cell's own lines can be counted from 1
        self.ended = None      # the status, once the run has ended
        self.start = self.next_event()
        if self.start is None or self.start.get("event") != "start":
            raise Ended(self.proc.wait(), self.stderr())

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")

    def next_event(self, interrupted=None):
        """The next event, waiting for it; None when the stream has ended.
        A KeyboardInterrupt while waiting calls interrupted() (when given) and
        the wait goes on."""
        while b"\n" not in self.pending:
            try:
                chunk = os.read(self.events, 65536)
            except KeyboardInterrupt:
                if interrupted is None:
                    raise
                interrupted()
                continue
            if not chunk:
                return None
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return json.loads(line.decode("utf-8"))

    def interrupt(self):
        """Ctrl-C for the interpreter: the statement reducing stops, the run goes on."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)

    def write(self, text):
        data = text.encode("utf-8")
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            return
        self.written += len(data)
        self.lines += text.count("\n")

    def run(self, text, interrupted=None):
        """Writes a cell's text and yields its events until the interpreter
        has carried out all of it and waits for more.  A cell that ends
        inside a comment or a statement is ended with "%" or ";", and a
        "kernel" event says so.  Raises Ended once the run ends."""
        if self.ended is not None:
            raise Ended(self.ended, self.stderr())
        if not text.endswith("\n"):
            text += "\n"
        # Every "%" opens or closes a comment: an odd count leaves one open,
        # which would swallow the next cell.
        if text.count("%") % 2 == 1:
            text += "%\n"
            yield {"event": "kernel", "text": "the cell ends inside a comment: '%' added"}
        self.write(text)
        closed = False
        while True:
            event = self.next_event(interrupted or self.interrupt)
            if event is None:
                self.ended = self.proc.wait()
                raise Ended(self.ended, self.stderr())
            if event["event"] == "end":
                self.ended = event["status"]
                self.proc.wait()
                yield event
                raise Ended(self.ended, self.stderr())
            if event["event"] == "wait" and event["bytes"] >= self.written:
                if event["statement"] and not closed:
                    closed = True
                    yield {"event": "kernel", "text": "the cell ends inside a statement: ';' added"}
                    self.write(";\n")
                    continue
                return
            yield event

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        os.close(self.events)
        self.errors.close()
        self.folder.cleanup()
