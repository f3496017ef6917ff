// The page's reading of a transcript into echoed lines, output and
// expression statements.  Every golden program's expected output must come
// apart and go back together without losing, doubling or moving a line, and
// the statements must be found where the interpreter printed them.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync, readdirSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

import { readtranscript, collections } from "../src/transcript.js";

const golden = join(dirname(fileURLToPath(import.meta.url)), "..", "..", "tests", "golden");

// The transcript again, from the items in their order.
function rejoin(items) {
  const lines = [];
  let glue = null; // a write's word waiting for the echo that follows it
  const put = (line) => {
    if (glue !== null) {
      lines.push(glue + line);
      glue = null;
    } else lines.push(line);
  };
  items.forEach((item, k) => {
    if (item.kind === "startup") item.lines.forEach(put);
    else if (item.kind === "echo") put(item.line);
    else if (item.kind === "output") {
      const next = items[k + 1];
      const last = item.lines.length - 1;
      item.lines.forEach((line, j) => {
        if (j === last && next?.kind === "echo" && next.joined) glue = line;
        else put(line);
      });
    } else {
      for (const line of [item.parsed, item.expanded]) if (line !== null) put(line);
      item.between.forEach(put);
      if (item.normal !== null) put(item.normal);
      put(`newnodes = ${item.newnodes}`);
    }
  });
  return lines;
}

const statements = (items) => items.filter((it) => it.kind === "statement");

test("every golden transcript comes apart and goes back together", () => {
  const names = readdirSync(golden).filter((f) => f.endsWith(".lam"));
  assert.ok(names.length > 50);
  for (const name of names) {
    // latin1 keeps every byte one character, as the interpreter sees them.
    const program = readFileSync(join(golden, name), "latin1");
    const out = readFileSync(join(golden, name.replace(/\.lam$/, ".out")), "latin1");
    const items = readtranscript(out, program);
    const lines = out.split("\n");
    if (lines[lines.length - 1] === "") lines.pop();
    assert.deepEqual(rejoin(items), lines, name);
    const newnodes = lines.filter((l) => /^newnodes = -?\d+$/.test(l)).length;
    assert.equal(statements(items).length, newnodes, name);
    // Each statement knows where its lines are.
    for (const s of statements(items)) {
      assert.equal(lines[s.end], `newnodes = ${s.newnodes}`, name);
      if (s.parsed !== null) assert.equal(lines[s.start], s.parsed, name);
    }
  }
});

test("an expression's four lines, a collection inside it, and the output around it", () => {
  const program = "writeln 'go; 3;\nf 2;\nexit;\n";
  const out = [
    "THIS IS KESTRIVO ************************* ",
    "SIZE OF node = 16 *** PLEASE WAIT A MOMENT.",
    "FreeNodes = 6006",
    "writeln 'go; 3;",
    "'go",
    "3 ",
    "3 ",
    "3 ",
    "newnodes = 0",
    "f 2;",
    "f 2 ",
    "( co5 : lambda x ( x co5 ) ) 2 ",
    "",
    "GARBAGE...  END OF MARKING... freenodes = 12",
    "2 ",
    "newnodes = 7",
    "exit;",
    "THE END...................",
    "",
  ].join("\n");
  const items = readtranscript(out, program);
  assert.deepEqual(items.map((it) => it.kind), ["startup", "echo", "output", "statement", "echo", "statement", "echo", "output"]);
  const [first, second] = statements(items);
  assert.deepEqual([first.parsed, first.expanded, first.normal, first.newnodes, first.lineno], ["3 ", "3 ", "3 ", 0, 1]);
  assert.deepEqual(items[2].lines, ["'go"]);
  assert.equal(second.expanded, "( co5 : lambda x ( x co5 ) ) 2 ");
  assert.deepEqual(second.between, ["", "GARBAGE...  END OF MARKING... freenodes = 12"]);
  assert.equal(second.normal, "2 ");
  assert.equal(second.stopped, false);
});

test("a run that stops inside a statement has no normal form; one that ends after it has", () => {
  const program = "insatu;\nloop 1;\n";
  const out = "insatu;\nloop 1;\nloop 1 \n( lambda x x ) 1 \n\nGARBAGE...  END OF MARKING... freenodes = 0\nsub x 1 \nnewnodes = 40\nTHE END...................\n";
  const [s] = statements(readtranscript(out, program));
  assert.equal(s.stopped, true);
  assert.equal(s.normal, null);
  assert.deepEqual(s.between, ["", "GARBAGE...  END OF MARKING... freenodes = 0", "sub x 1 "]);
  const [deep] = statements(readtranscript("f 1;\nf 1 \nf 1 \ndepth is overflow in reduce\nnewnodes = 9\nTHE END...................\n", "f 1;\n"));
  assert.equal(deep.stopped, true);
  assert.deepEqual(deep.between, ["depth is overflow in reduce"]);
  // The end of the input right after a statement leaves it whole.
  const [last] = statements(readtranscript("+ 1 2;\n+ 1 2 \n+ 1 2 \n3 \nnewnodes = 0\nTHE END...................\n", "+ 1 2;\n"));
  assert.deepEqual([last.stopped, last.normal], [false, "3 "]);
});

test("a write's word and the next echoed line share a line", () => {
  const program = "write 'a;\nwriteln 'b;\n";
  const items = readtranscript("write 'a;\n'awriteln 'b;\n'b\n", program);
  assert.deepEqual(items.map((it) => [it.kind, it.line ?? it.lines]), [
    ["echo", "write 'a;"],
    ["output", ["'a"]],
    ["echo", "writeln 'b;"],
    ["output", ["'b"]],
  ]);
});

test("a run cut short leaves its last statement running, after those that ended", () => {
  const program = "+ 1 2; f 5;\nwriteln 'x;\n";
  const text = "+ 1 2; f 5;\n+ 1 2 \n+ 1 2 \n3 \nnewnodes = 0\nf 5 \n( lambda n n ) 5 \n\nGARBAGE...  END OF MARKING... freenodes = 12\n";
  const items = readtranscript(text, program, { partial: true });
  assert.deepEqual(items.map((it) => it.kind), ["echo", "statement", "statement"]);
  const [done, running] = statements(items);
  assert.deepEqual([done.running, done.start, done.end, done.normal], [false, 1, 4, "3 "]);
  assert.deepEqual([running.running, running.parsed, running.expanded, running.newnodes, running.end], [true, "f 5 ", "( lambda n n ) 5 ", null, null]);
  assert.equal(running.start, 5);
  assert.deepEqual(running.between, ["", "GARBAGE...  END OF MARKING... freenodes = 12"]);
  // Not cut short, the same lines are output after the statement that ended.
  assert.deepEqual(readtranscript(text, program).map((it) => it.kind), ["echo", "statement", "output"]);
  // Lines before the running statement's first term are output of their own.
  const written = readtranscript("writeln 'a; f 1;\n'a\nf 1 \n", "writeln 'a; f 1;\n", { partial: true });
  assert.deepEqual(written.map((it) => it.kind), ["echo", "output", "statement"]);
});

test("the collector's reports of a statement are counted", () => {
  const lines = ["", "GARBAGE...  END OF MARKING... freenodes = 12", "", "GARBAGE...  END OF MARKING... freenodes = 0", "sub x 1 "];
  assert.deepEqual(collections(lines), { count: 2, freed: 12, fewest: 0 });
  assert.equal(collections(["depth is overflow in reduce"]), null);
});
