#!/usr/bin/env python3
"""Writes the golden programs whose statements are too big to write by hand:
the collector's mark-stack pair, parentheses nested 20,000 deep and lines of
100 KB.  Run it from anywhere; it rewrites the .lam files beside it (their
.out files are kept by hand).
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
HEADS = {
    "gc-markstack-deepest": "% The collector's mark stack at its limit, in a pool of 13 blocks.  The\n  first statement builds a list of 999 nodes; the second leaves a stuck\n  chain of 12000 \"+\" nodes (11999 of them with two different fields, the\n  innermost has x in both) as the term under reduction, with 5 nodes to\n  spare.  The third runs out of them while it is parsed: the collection walks\n  the chain with 11999 stack entries, the deepest walk that succeeds, and\n  frees the first statement's list.  Catches: an overflow test one entry too\n  early, a node with equal fields counted as an entry, a print of more than\n  2000 items %",
    "gc-markstack-overflow": "% The collector's mark stack overflowing.  As gc-markstack-deepest, with\n  one \"+\" node more: the walk needs 12000 entries, so the collection ends the\n  run with \"Stack ga tarimsen!\" and status 1.  Catches: an overflow test one\n  entry too late, a crash or a wrong status instead of the report %",
    "hostile-deep-parens": "% Parentheses nested 20,000 deep.  Groups around one name are stripped\n  down to the name; opening brackets never closed are dropped, and so are\n  closing brackets that close nothing; an argument left open is closed by\n  brackets the parser adds (the token array has room for them); twenty\n  thousand nested one-operand operators build a term that is printed up to\n  the 2000-item cut, with its brackets closed, and reduced.  Catches: a\n  crash by stack overflow in the parser, printer, expansion or reduction,\n  quadratic bracket matching, a lost or extra bracket. %",
    "hostile-long-line": "% Lines of 100 KB are read and echoed whole.  The first holds a comment of\n  100 KB and then a statement; the second holds 20,000 statements (empty\n  ones, and \"space\" ones that each print one blank); the third is 100 KB of\n  blanks and tabs before the words of one statement; the fourth, 100 KB of\n  \"write\" statements, prints all their words on one line.  Catches: a line\n  cut at a fixed buffer size, text of a long line lost or repeated,\n  quadratic work on a line that holds many statements. %"
}


def write(name, statements):
    with open(os.path.join(HERE, name + ".lam"), "w") as f:
        f.write(HEADS[name] + "\n" + "\n".join(statements) + "\n")


def markstack(name, xs):
    # a list of 999 nodes, a stuck chain of xs - 1 "+" nodes, then a
    # statement that needs more nodes than are left
    write(name, ["cons " + " ".join(["1"] * 500) + ";",
                 "+ " + " ".join(["x"] * xs) + ";",
                 "cons 1 2 3 4;",
                 "exit;"])


def main():
    markstack("gc-markstack-deepest", 12001)
    markstack("gc-markstack-overflow", 12002)
    n = 20000
    write("hostile-deep-parens", [
        "(" * n + "x" + ")" * n + ";",
        "(" * n + "x;",
        "x" + ")" * n + ";",
        "f " + "(" * n + "x;",
        "abs (" * n + "x" + ")" * n + ";",
        "exit;"])
    write("hostile-long-line", [
        "% " + "abcdefghij" * 10240 + " % writeln first;",
        ";" * 10000 + "space;" * 10000 + "writeln second;",
        " \t" * 51200 + "+ 1 2;",
        "write ab;" * 11400 + "writeln ;",
        "exit;"])


if __name__ == "__main__":
    main()
