#!/usr/bin/python3
"""The example notebook, executed headless with nbclient, and its outputs.

  notebook_test.py KESTRIVO JUPYTER_DIR NOTEBOOK

Every cell must run without an error and without a word on standard error;
the results of the numeral arithmetic must be the integers they stand for;
every expression must have its picture, an SVG Graphviz drew; the %steps cell
must list the steps, beginning with the beta rule, each with its picture; the %readback cell must
show a plain lambda term where the cell before shows a closure.
"""
import os
import sys
import tempfile

import nbformat
from nbclient import NotebookClient

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kernel_test import kernelspec  # noqa: E402

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


def results(cell):
    return [o["data"]["text/plain"] for o in cell.outputs if o["output_type"] == "execute_result"]


def pictures(cell):
    return [o["data"]["image/svg+xml"] for o in cell.outputs
            if o["output_type"] == "display_data" and "image/svg+xml" in o["data"]]


def source(cell):
    return cell.source if isinstance(cell.source, str) else "".join(cell.source)


def main():
    kestrivo, folder, path = (os.path.abspath(a) for a in sys.argv[1:4])
    notebook = nbformat.read(path, as_version=4)
    with tempfile.TemporaryDirectory() as jupyter:
        kernelspec(kestrivo, folder, jupyter)
        os.environ["JUPYTER_PATH"] = jupyter
        os.environ["JUPYTER_PLATFORM_DIRS"] = "1"
        NotebookClient(notebook, timeout=120, kernel_name="kestrivo",
                       resources={"metadata": {"path": os.path.dirname(path)}}).execute()

    code = [c for c in notebook.cells if c.cell_type == "code"]
    for cell in code:
        errors = [o for o in cell.outputs if o["output_type"] == "error" or
                  (o["output_type"] == "stream" and o["name"] == "stderr")]
        check(not errors, "cell %r wrote errors: %r" % (source(cell)[:40], errors))
        expressions = sum(1 for line in source(cell).split("\n")
                          if line.endswith(";") and " = " not in line and not line.startswith("%"))
        check(len(results(cell)) == expressions,
              "cell %r: %d results for %d expressions" % (source(cell)[:40], len(results(cell)), expressions))
        check(len(pictures(cell)) == expressions and all(p.startswith("<svg") for p in pictures(cell)),
              "cell %r: pictures %d for %d expressions" % (source(cell)[:40], len(pictures(cell)), expressions))

    want = {"toint zero;": ["0", "2"], "%readback off": ["5", "6", "8"], "double =": ["6"],
            "%steps": ["2"]}
    for start, values in want.items():
        cell = next(c for c in code if source(c).startswith(start))
        check(results(cell) == values, "cell %r: results %r, want %r" % (start, results(cell), values))

    closure = results(next(c for c in code if source(c).startswith("two =")))
    check(closure and closure[0].startswith("sub "), "two alone is not shown as a closure: %r" % closure)
    readback = results(next(c for c in code if source(c).startswith("%readback on")))
    check(readback and readback[0].startswith("lambda f") and "sub" not in readback[0],
          "two read back is not a lambda term: %r" % readback)

    steps = next(c for c in code if source(c).startswith("%steps"))
    lists = [o["data"]["text/plain"] for o in steps.outputs
             if o["output_type"] == "display_data" and "image/svg+xml" not in o["data"]]
    check(len(lists) == 1, "the %%steps cell shows %d step lists" % len(lists))
    if lists:
        rows = lists[0].split("\n")
        check(rows[0] == "The steps of line 2: toint two;", "steps title %r" % rows[0])
        check(rows[1].startswith("1. beta co"), "the first step %r" % rows[1])
        check(sum(1 for r in rows if r.split()[1:2] == ["+"]) == 2, "two additions in %r" % rows)
        # The graph before the first step and after each: one picture a row.
        page = next(o["data"]["text/html"] for o in steps.outputs
                    if o["output_type"] == "display_data" and "image/svg+xml" not in o["data"])
        check(page.count("<svg") == len(rows), "%d pictures for %d steps" % (page.count("<svg"), len(rows) - 1))

    print("%d code cells, %d problems" % (len(code), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
