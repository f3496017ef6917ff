"""The kestrivo kernel for Jupyter: a wrapper kernel on ipykernel.

Each kernel drives one interpreter process (session.Interpreter), so
definitions persist from cell to cell, and a restart of the kernel is a
fresh interpreter with a fresh pool.  A cell's text goes to the interpreter
as it is, after its option lines; what comes back is read from the event
stream, never from the transcript:

  - each expression's normal form is the cell's result, with its figures
    (steps, nodes, collections, time) beside it in the notebook, and its
    graph as an SVG picture drawn by Graphviz from the DOT the interpreter
    writes;
  - what write, writeln, space and print print goes to the cell's output;
  - warnings, stops and the interpreter's reports go to the cell's standard
    error, with line and column counted in the cell;
  - an interrupt (the notebook's stop button) is Ctrl-C for the interpreter:
    the statement reducing stops, its term as it stands is shown, and the
    session goes on.

Option lines, at the top of a cell, in the notebook's own idiom (a "%" and a
word, with no second "%" on the line, which would make it a comment):

  %readback on|off     show normal forms with closures read back as lambda
                       terms (for the rest of the session)
  %graph normal|expanded|parsed|all|off
                       which graph of each expression is drawn (normal)
  %stats on|off        the figures beside each result (on)
  %transcript on|off   also show the transcript's own lines: parsed,
                       expanded, normal form, newnodes, collections (off)
  %steps [N]           this cell only: each expression's reduction step by
                       step, at most N steps (50), each step with the
                       picture of the graph after it (the interpreter's
                       frames)
"""
import html
import re
import signal
import threading

from ipykernel.kernelbase import Kernel

from . import __version__
from .session import Ended, Interpreter, has_option, interpreter_path, svg


def forward(interrupted):
    """Makes SIGINT call interrupted() until restore; returns the handler it
    replaced, or None where handlers cannot be set (not the main thread):
    there the wait for the next event still catches a KeyboardInterrupt."""
    if threading.current_thread() is not threading.main_thread():
        return None
    return signal.signal(signal.SIGINT, lambda signum, frame: interrupted())


def restore(before):
    if before is not None:
        signal.signal(signal.SIGINT, before)

# The words the language gives meaning to, for completion.
OPERATORS = ("app lambda sub cons print ident car cdr com intatom realatom stratom abs float "
             "arctan cos exp ln sin sqrt absr trunc + - * div mod = < <> <= +r -r *r / =r <r "
             "<>r <=r =s").split()
COMMANDS = "exit new garbage normal space write writeln insatu noinsatu macro".split()
CONSTANTS = ["true", "false"]
OPTIONS = {
    "readback": ("on", "off"),
    "graph": ("normal", "expanded", "parsed", "all", "off"),
    "stats": ("on", "off"),
    "transcript": ("on", "off"),
    "steps": (),
}
OPTION_LINE = re.compile(r"^%(readback|graph|stats|transcript|steps)\b([^%]*)$")
# A word ends at a blank, a bracket, ";" or "%".
WORD = re.compile(r"[^\s()\[\]{};%]*$")
DIAGNOSTIC_LINE = re.compile(r"^(kestrivo: )(\d+)(?=[: ])")
# How the stop events are told at the end of an expression's figures.
STOPS = {
    "exhausted": "stopped: the pool is exhausted",
    "depth": "stopped: nesting too deep",
    "reading": "stopped: the statement cannot be read",
    "limit": "stopped at the step limit",
    "interrupt": "interrupted",
    "dropped": "dropped",
}
DEFAULT_STEPS = 50
# The side run of %steps: a statement the session reduced may still run on
# there (the session was interrupted); this many steps end it.
STEPS_BUDGET = 200_000
# The most frames %steps draws in one cell, over all its expressions: each is
# a Graphviz run of some tens of milliseconds and some kilobytes of SVG, and
# a few hundred pictures are past what anyone looks through in a notebook.
STEPS_PICTURES = 200
# The pool of a session: 11 blocks of 1001 nodes, nearly twice the console's
# default, and the most whose collections can mark a graph of any depth
# (from 12 blocks on, the collector's mark stack can overflow, which ends
# the run).
LASTBLOCK = 10


class KestrivoKernel(Kernel):
    implementation = "kestrivo_kernel"
    implementation_version = __version__
    language = "kestrivo"
    language_version = "1.0.0"
    language_info = {
        "name": "kestrivo",
        "mimetype": "text/x-kestrivo",
        "file_extension": ".lam",
        "codemirror_mode": "text",
        "pygments_lexer": "text",
    }
    banner = "kestrivo: an untyped lambda calculus, reduced as a graph, call by need"
    help_links = [{"text": "The kestrivo language guide", "url": "https://kestrivo.example/docs/guide.md"}]

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.interpreter = None
        self.readback = False
        self.graph = "normal"
        self.stats = True
        self.transcript = False
        # The statements that make the session's state (definitions, macros,
        # new, garbage, insatu), in order, for %steps to replay; and what each
        # name was last defined as, for completion and inspection.
        self.replay = []
        self.definitions = {}
        self.silent = False
        self.streamed = None  # the stream and its text not yet sent
        self.pictured = 0     # frames %steps has drawn in the cell under way

    # ---- the interpreter ---------------------------------------------------

    def started(self):
        if self.interpreter is None:
            # Every interrupt the user sends stops a statement: without
            # --steer-interrupts a second one would end the run (its input
            # is a pipe), and the session with it.
            steer = ["--steer-interrupts"] if has_option(interpreter_path(), "--steer-interrupts") else []
            self.interpreter = Interpreter(options=["--keep-going", "--warn", "--readback"] + steer,
                                           lastblock=LASTBLOCK)
        return self.interpreter

    def endsession(self):
        if self.interpreter is not None:
            self.interpreter.close()
            self.interpreter = None

    def do_shutdown(self, restart):
        self.endsession()
        return {"status": "ok", "restart": restart}

    # ---- output ------------------------------------------------------------

    def stream(self, name, text):
        """Text for the cell's standard output or error.  Pieces of one
        stream in a row go out as one message, so "write hello,; space;
        writeln world;" is one line of output."""
        if not text or self.silent:
            return
        if self.streamed and self.streamed[0] != name:
            self.flush()
        self.streamed = (name, (self.streamed[1] if self.streamed else "") + text)

    def flush(self):
        if self.streamed:
            name, text = self.streamed
            self.streamed = None
            self.send_response(self.iopub_socket, "stream", {"name": name, "text": text})

    def display(self, data, kind="display_data", metadata=None):
        if self.silent:
            return
        self.flush()
        content = {"data": data, "metadata": metadata or {}}
        if kind == "execute_result":
            content["execution_count"] = self.execution_count
        self.send_response(self.iopub_socket, kind, content)

    def figures(self, stats):
        """The figures of an expression, as words."""
        return "%d steps (%d beta, %d operator), %d new nodes, %d collections, highwater %d, %.3f ms" % (
            stats["steps"], stats["beta"], stats["ops"], stats["newnodes"], stats["gcs"],
            stats["highwater"], stats["time_ms"])

    def result(self, expression, stats):
        """Shows an expression's normal form with its figures, then its graph."""
        shown = expression["normal"].rstrip("\n").rstrip(" ")
        if not self.readback and expression["term"] is not None:
            shown = expression["term"]
        note = ""
        if self.stats and stats is not None:
            note = "line %d: %s" % (expression["line"], self.figures(stats))
        if expression["stop"] is not None:
            note += ("; " if note else "") + STOPS.get(expression["stop"]["reason"], "stopped")
        page = "<div class=\"kestrivo-result\"><code>%s</code>" % html.escape(shown)
        if note:
            page += "<div style=\"color:#666;font-size:smaller\">%s</div>" % html.escape(note)
        page += "</div>"
        self.display({"text/plain": shown, "text/html": page}, "execute_result")
        stages = {"all": ["parsed", "expanded", "normal"], "off": []}.get(self.graph, [self.graph])
        for stage in stages:
            path = expression["pictures"].get(stage)
            if path is None:
                continue
            picture, why = svg(path)
            if picture is None:
                self.stream("stderr", "kestrivo: line %d: no picture: %s\n" % (expression["line"], why))
                continue
            self.display({"image/svg+xml": picture,
                          "text/plain": "the %s graph of line %d" % (stage, expression["line"])})

    # ---- running a cell ----------------------------------------------------

    def options(self, code):
        """Reads the option lines at the top of a cell; returns the rest of
        the cell and the steps asked for (None when not)."""
        lines = code.split("\n")
        steps = None
        for k, line in enumerate(lines):
            option = OPTION_LINE.match(line.strip())
            if option is None:
                break
            name, value = option.groups()
            value = value.strip()
            lines[k] = ""  # the cell's lines keep their numbers
            if name == "steps":
                steps = int(value) if value.isdigit() and int(value) > 0 else DEFAULT_STEPS
                continue
            if value not in OPTIONS[name]:
                self.stream("stderr", "kestrivo: %%%s takes %s\n" % (name, " or ".join(OPTIONS[name])))
                continue
            if name == "graph":
                self.graph = value
            else:
                setattr(self, name, value == "on")
        return "\n".join(lines), steps

    def do_execute(self, code, silent, store_history=True, user_expressions=None, allow_stdin=False):
        self.silent = silent
        text, steps = self.options(code)
        if not text.strip():
            self.flush()
            return self.ok()
        try:
            session = self.started()
        except (OSError, Ended) as e:
            return self.failed("cannot start the interpreter %s: %s" % (interpreter_path(), e))
        replayed = list(self.replay)
        interrupts = []

        def interrupted():
            interrupts.append(True)
            session.interrupt()

        offset = session.lines
        # The stop button's SIGINT may come while the kernel is showing an
        # event rather than waiting for one: a handler of the cell's own
        # forwards it wherever it lands, so it never escapes as a
        # KeyboardInterrupt that would leave the cell without a reply.
        before = forward(interrupted)
        try:
            self.follow(session.run(text, interrupted), offset)
        except Ended as e:
            self.endsession()
            self.replay.clear()
            self.definitions.clear()
            if e.status not in (0, 3):
                self.stream("stderr", e.errors)
            self.stream("stderr", "kestrivo: the session ended (status %d); the next cell starts a new one\n"
                        % e.status)
        finally:
            restore(before)
        if steps is not None:
            self.showsteps(replayed, text, steps)
        self.flush()
        if interrupts:
            return {"status": "error", "execution_count": self.execution_count,
                    "ename": "Interrupted", "evalue": "the statement was interrupted", "traceback": []}
        return self.ok()

    def ok(self):
        return {"status": "ok", "execution_count": self.execution_count, "payload": [],
                "user_expressions": {}}

    def failed(self, why):
        self.stream("stderr", "kestrivo: %s\n" % why)
        self.flush()
        return {"status": "error", "execution_count": self.execution_count,
                "ename": "kestrivo", "evalue": why, "traceback": []}

    def follow(self, events, offset):
        """Shows a cell's events as they come.  offset: the lines written to
        the interpreter before the cell, so its lines count from 1."""
        expression = None
        for event in events:
            kind = event["event"]
            if kind == "kernel":
                self.stream("stderr", "kestrivo: %s\n" % event["text"])
            elif kind == "statement":
                self.remember(event)
                expression = None
                # "normal;" after an interrupted statement reduces its term
                # on, and shows its result as the statement would have.
                if event["kind"] == "expression" or (event["kind"] == "command" and event["name"] == "normal"):
                    expression = {"line": event["line"] - offset, "normal": "", "term": None,
                                  "pictures": {}, "stop": None}
            elif kind == "out":
                part = event["part"]
                if part == "normal" and expression is not None:
                    expression["normal"] += event["text"]
                if self.transcript and part not in ("echo", "output"):
                    self.stream("stdout", event["text"])
                elif part == "output":
                    self.stream("stdout", event["text"])
                elif part in ("report", "insatu") and not event["text"].startswith("THE END"):
                    self.stream("stderr", event["text"])
            elif kind == "result" and expression is not None:
                expression["term"] = event["term"]
            elif kind == "picture" and expression is not None:
                expression["pictures"][event["stage"]] = event["file"]
            elif kind == "stop" and expression is not None:
                expression["stop"] = event
            elif kind == "diagnostic":
                self.stream("stderr", self.renumber(event["text"], offset) + "\n")
            elif kind == "stats" and expression is not None:
                self.result(expression, event)
                expression = None

    @staticmethod
    def renumber(text, offset):
        """A diagnostic's line counted from the cell's first line."""
        m = DIAGNOSTIC_LINE.match(text)
        if m is None or int(m.group(2)) <= offset:
            return text
        return m.group(1) + str(int(m.group(2)) - offset) + text[m.end():]

    def remember(self, statement):
        """Keeps what a statement does to the session's state."""
        kind, name = statement["kind"], statement["name"]
        if kind in ("definition", "macro"):
            self.replay.append(statement["text"])
            if name is not None:
                self.definitions[name] = statement["text"]
        elif kind == "command" and name in ("new", "garbage", "insatu", "noinsatu"):
            self.replay.append(statement["text"])
            if name in ("new", "garbage"):
                self.definitions.clear()

    # ---- %steps ------------------------------------------------------------

    def showsteps(self, replayed, text, limit):
        """Runs the cell again in a fresh interpreter that has been given the
        session's definitions, with every step traced and, when the
        interpreter draws frames, the graph after each step drawn; shows
        each expression's steps in order, each with its picture."""
        frames = limit if has_option(interpreter_path(), "--frames") else None
        try:
            side = Interpreter(options=["--keep-going", "--quiet-gc", "--trace=%d" % limit,
                                        "--max-steps=%d" % STEPS_BUDGET], lastblock=LASTBLOCK, frames=frames)
        except (OSError, Ended) as e:
            self.stream("stderr", "kestrivo: %%steps: cannot start the interpreter: %s\n" % e)
            return
        self.pictured = 0
        try:
            if replayed:
                for _ in side.run("\n".join(replayed)):
                    pass
            offset = side.lines
            current, steps, drawn = None, [], {}
            for event in side.run(text):
                if event["event"] == "statement":
                    current = event if event["kind"] == "expression" else None
                    steps, drawn = [], {}
                elif event["event"] == "step" and current is not None:
                    steps.append(event)
                elif event["event"] == "frame" and current is not None:
                    drawn[event["step"]] = event
                elif event["event"] == "stats" and current is not None:
                    hidden = event["steps"] - len(steps)
                    self.steplist(current["line"] - offset, current["text"], steps, hidden, drawn)
                    current = None
        except Ended:
            pass
        finally:
            side.close()

    def framepicture(self, frame):
        """A frame's picture as SVG, or None (too large, Graphviz missing,
        past the cell's STEPS_PICTURES)."""
        if frame is None or self.pictured >= STEPS_PICTURES:
            return None
        self.pictured += 1
        picture, _ = svg(frame["file"])
        return picture

    def steplist(self, line, source, steps, hidden, drawn):
        """One expression's steps as a numbered list, each step with the
        picture of the graph after it when its frame was drawn (drawn: the
        frame events by step), and the graph before the first step above."""
        rows = ["%d. %s co%d: %s" % (k, s["rule"], s["node"], s["term"]) for k, s in enumerate(steps, 1)]
        if hidden > 0:
            rows.append("... and %d more steps" % hidden)
        title = "The steps of line %d: %s" % (line, source)
        pictures = 0
        start = self.framepicture(drawn.get(0))
        page = "<div class=\"kestrivo-steps\"><p>%s</p>" % html.escape(title)
        if start is not None:
            pictures += 1
            page += "<div><div style=\"color:#666\">before the first step</div>%s</div>" % start
        page += "<ol>"
        for k, s in enumerate(steps, 1):
            page += "<li><code>%s</code> <code>co%d</code>: <code>%s</code>" % (
                html.escape(s["rule"]), s["node"], html.escape(s["term"]))
            picture = self.framepicture(drawn.get(k))
            if picture is not None:
                pictures += 1
                page += "<div>%s</div>" % picture
            page += "</li>"
        page += "</ol>"
        if hidden > 0:
            page += "<p>... and %d more steps</p>" % hidden
        page += "</div>"
        if drawn and pictures < len(drawn):
            rows.append("(%d of the %d frames drawn)" % (pictures, len(drawn)))
        self.display({"text/plain": title + "\n" + "\n".join(rows), "text/html": page},
                     metadata={"kestrivo": {"line": line, "frames": pictures}})

    # ---- completion, inspection, completeness --------------------------------

    def do_complete(self, code, cursor_pos):
        before = code[:cursor_pos]
        word = WORD.search(before).group(0)
        start = cursor_pos - len(word)
        line_start = before.rfind("\n") + 1
        if before[line_start:start] == "%":  # an option line being typed
            start -= 1
            candidates = ["%" + name for name in OPTIONS]
            word = "%" + word
        else:
            candidates = list(self.definitions) + OPERATORS + COMMANDS + CONSTANTS
        matches = sorted(set(c for c in candidates if c.startswith(word) and c != word)) if word else []
        return {"status": "ok", "matches": matches, "cursor_start": start, "cursor_end": cursor_pos,
                "metadata": {}}

    def do_inspect(self, code, cursor_pos, detail_level=0, omit_sections=()):
        left = WORD.search(code[:cursor_pos]).group(0)
        right = re.match(r"[^\s()\[\]{};%]*", code[cursor_pos:]).group(0)
        name = left + right
        text = self.definitions.get(name)
        if text is None:
            return {"status": "ok", "found": False, "data": {}, "metadata": {}}
        return {"status": "ok", "found": True, "data": {"text/plain": text}, "metadata": {}}

    def do_is_complete(self, code):
        lines = [line for line in code.split("\n") if not OPTION_LINE.match(line.strip())]
        body = re.sub(r"%[^%]*%", " ", "\n".join(lines))
        if "%" in body:
            return {"status": "incomplete", "indent": ""}
        rest = body[body.rfind(";") + 1:] if ";" in body else body
        if rest.strip():
            return {"status": "incomplete", "indent": ""}
        return {"status": "complete"}
