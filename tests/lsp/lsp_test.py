#!/usr/bin/env python3
"""The language server, driven over standard input and output by a script
that plays an editor: initialize, open a document, read the diagnostics,
hover, go to a definition, list the symbols, complete, change the document,
shut down and exit.

  lsp_test.py KESTRIVO_LSP
"""
import json
import subprocess
import sys

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


class Client:
    def __init__(self, binary):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.next_id = 0
        self.notes = []  # notifications read while waiting for a reply

    def send(self, message):
        body = json.dumps(message).encode()
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def read(self):
        length = None
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise EOFError("the server closed its output")
            line = line.strip()
            if not line:
                break
            name, _, value = line.partition(b":")
            if name.lower() == b"content-length":
                length = int(value)
        return json.loads(self.proc.stdout.read(length))

    def request(self, method, params):
        self.next_id += 1
        self.send({"jsonrpc": "2.0", "id": self.next_id, "method": method, "params": params})
        while True:
            message = self.read()
            if message.get("id") == self.next_id:
                return message
            self.notes.append(message)

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def diagnostics(self, uri):
        """The next diagnostics published for uri."""
        while True:
            for k, note in enumerate(self.notes):
                if note.get("method") == "textDocument/publishDiagnostics" and note["params"]["uri"] == uri:
                    del self.notes[k]
                    return note["params"]["diagnostics"]
            self.notes.append(self.read())


URI = "file:///tmp/church.lam"
DOCUMENT = """square = lambda x (* x x);
cube = lambda x (* x (square x));
cube 3;
squre 4;
factorial = 1;
+ (+ 1 2;
macro sq square;
sq 5;
omega = (lambda x (x x)) (lambda x (x x));
f = lambda y (g y);
% \U0001d706\U0001d706 % squre 2;
sq
uare 6;
omega;
"""


def position(line, character):
    return {"textDocument": {"uri": URI}, "position": {"line": line, "character": character}}


def find(diagnostics, line, text):
    return [d for d in diagnostics if d["range"]["start"]["line"] == line and text in d["message"]]


def main():
    client = Client(sys.argv[1])
    early = client.request("textDocument/hover", position(0, 0))
    check(early.get("error", {}).get("code") == -32002, "a request before initialize: %r" % early)

    init = client.request("initialize", {"processId": None, "rootUri": None,
                                         "capabilities": {"general": {"positionEncodings": ["utf-16"]}}})
    caps = init["result"]["capabilities"]
    check(caps["positionEncoding"] == "utf-16", "position encoding %r" % caps.get("positionEncoding"))
    check(caps["hoverProvider"] and caps["definitionProvider"] and caps["documentSymbolProvider"],
          "capabilities %r" % caps)
    client.notify("initialized", {})

    client.notify("textDocument/didOpen", {"textDocument": {"uri": URI, "languageId": "kestrivo",
                                                            "version": 1, "text": DOCUMENT}})
    diags = client.diagnostics(URI)
    squre = find(diags, 3, "did you mean 'square'")
    check(len(squre) == 1 and squre[0]["range"]["start"]["character"] == 0
          and squre[0]["range"]["end"]["character"] == 5 and squre[0]["severity"] == 2,
          "the unknown name squre with its nearest name: %r" % diags)
    long = find(diags, 4, "'factorial' has 9 characters")
    check(len(long) == 1 and long[0]["severity"] == 1 and long[0]["range"]["end"]["character"] == 9,
          "the word of 9 characters: %r" % diags)
    bracket = [d for d in diags if d["range"]["start"]["line"] == 5 and "(" in d["message"]]
    check(len(bracket) == 1 and bracket[0]["range"]["start"]["character"] == 2
          and bracket[0]["range"]["end"]["character"] == 3, "the bracket never closed: %r" % diags)
    # Two characters beyond the first plane are two UTF-16 units each.
    wide = find(diags, 10, "squre")
    check(len(wide) == 1 and wide[0]["range"]["start"]["character"] == 9,
          "columns in UTF-16 code units after characters beyond the first plane: %r" % wide)
    # A word run on across a line end is marked from its first character to
    # its last, on the next line.
    joined = find(diags, 11, "'square' runs on across a line end")
    check(len(joined) == 1 and joined[0]["range"]["end"] == {"line": 12, "character": 4},
          "the word joined across a line end: %r" % joined)
    exhausted = find(diags, 13, "node pool ran out")
    check(len(exhausted) == 1 and exhausted[0]["range"]["end"]["character"] == 6,
          "the stop of a reduction that runs out of nodes: %r" % diags)
    check(not find(diags, 2, "") and not find(diags, 7, ""), "diagnostics on sound lines: %r" % diags)

    hover = client.request("textDocument/hover", position(2, 1))["result"]
    value = hover["contents"]["value"]
    check("cube = lambda x (* x (square x));" in value, "hover shows the definition: %r" % value)
    check("normal form: `lambda x" in value, "hover shows the normal form: %r" % value)
    check(hover["range"]["start"] == {"line": 2, "character": 0} and hover["range"]["end"]["character"] == 4,
          "hover range %r" % hover["range"])
    value = client.request("textDocument/hover", position(8, 2))["result"]["contents"]["value"]
    check("no normal form within" in value, "hover over a term without a normal form: %r" % value)
    value = client.request("textDocument/hover", position(9, 0))["result"]["contents"]["value"]
    check("f = lambda y (g y);" in value and "normal form" not in value,
          "hover over an open term shows no normal form: %r" % value)
    value = client.request("textDocument/hover", position(0, 19))["result"]["contents"]["value"]
    check(value.startswith("* M N: the product"), "hover over an operator: %r" % value)
    value = client.request("textDocument/hover", position(7, 0))["result"]["contents"]["value"]
    check("macro sq square;" in value, "hover over a macro: %r" % value)
    check(client.request("textDocument/hover", position(0, 16))["result"] is None, "hover over a parameter")

    where = client.request("textDocument/definition", position(1, 24))["result"]
    check(where == {"uri": URI, "range": {"start": {"line": 0, "character": 0},
                                          "end": {"line": 0, "character": 6}}},
          "go to the definition of square: %r" % where)
    where = client.request("textDocument/definition", position(7, 1))["result"]
    check(where and where["range"]["start"] == {"line": 6, "character": 6}, "go to the macro sq: %r" % where)

    symbols = client.request("textDocument/documentSymbol", {"textDocument": {"uri": URI}})["result"]
    check([s["name"] for s in symbols] == ["square", "cube", "sq", "omega", "f"],
          "symbols %r" % [s["name"] for s in symbols])
    check(symbols[0]["kind"] == 12 and symbols[2]["kind"] == 14, "symbol kinds %r" % symbols[:3])

    items = client.request("textDocument/completion", position(3, 3))["result"]["items"]
    labels = {i["label"] for i in items}
    check({"square", "cube", "sq", "intatom", "lambda", "writeln", "true"} <= labels,
          "completion offers names, macros, operators and words: %r" % sorted(labels))

    fixed = DOCUMENT.replace("squre 4;", "square 4;").replace("factorial", "fact")
    client.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2},
                                             "contentChanges": [{"text": fixed}]})
    diags = client.diagnostics(URI)
    check(not find(diags, 3, "") and not find(diags, 4, ""), "the mended lines keep no diagnostic: %r" % diags)

    client.notify("textDocument/didClose", {"textDocument": {"uri": URI}})
    check(client.diagnostics(URI) == [], "a closed document's diagnostics are cleared")

    unknown = client.request("workspace/symbol", {"query": ""})
    check(unknown.get("error", {}).get("code") == -32601, "an unknown method: %r" % unknown)
    check(client.request("shutdown", None).get("result", "absent") is None, "shutdown")
    client.notify("exit", None)
    status = client.proc.wait(timeout=10)
    check(status == 0, "exit after shutdown: status %d" % status)

    print("language server: %d problems" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
