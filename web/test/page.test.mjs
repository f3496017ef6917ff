// The page's reading of what a run wrote, without a browser: standard
// error's lines matched to statements, warnings placed in the text, the
// status of each way a run ends, the settings and the links that carry them.
import { test } from "node:test";
import assert from "node:assert/strict";

import { readtranscript } from "../src/transcript.js";
import { readerrors, picturesbystatement, textspan } from "../src/diagnostics.js";
import { outcome, stopnote } from "../src/outcome.js";
import { defaults, normalize, options, counts, commandline } from "../src/settings.js";
import { linkfragment, readfragment, versionnote } from "../src/share.js";

// A run of two expressions on lines 2 and 3 after a definition on line 1:
// the transcript, and standard error with the number of transcript lines
// complete when each line came.
const Program = "f = lambda x (+ x one);\nf 1;\nsqure 2;\n";
const Transcript = [
  "THIS IS KESTRIVO ************************* ",
  "SIZE OF node = 16 *** PLEASE WAIT A MOMENT.",
  "FreeNodes = 6006",
  "f = lambda x (+ x one);", // 3
  "f 1;", // 4
  "f 1 ", // 5
  "( lambda x ( + x one ) ) 1 ",
  "+ 1 one ",
  "newnodes = 3", // 8
  "squre 2;", // 9
  "squre 2 ", // 10
  "squre 2 ",
  "squre 2 ",
  "newnodes = 0", // 13
  "THE END...................",
  "",
].join("\n");
const Errs = [
  { text: "kestrivo: 1:19: warning: 'one' is neither defined nor bound by a lambda (in the definition of 'f')", at: 6 },
  { text: "kestrivo: 2: warning: '+' is left unreduced: its operands are an integer and a name", at: 8 },
  { text: "kestrivo: stats line=2 newnodes=3 steps=4 beta=1 ops=0 gcs=0 freed=0 highwater=20 time_ms=0.010", at: 9 },
  { text: "kestrivo: 3:1: warning: 'squre' is neither defined nor bound by a lambda", at: 11 },
  { text: "kestrivo: stats line=3 newnodes=0 steps=0 beta=0 ops=0 gcs=0 freed=0 highwater=20 time_ms=0.002", at: 14 },
  { text: "kestrivo: total statements=2 newnodes=3 steps=4 beta=1 ops=0 gcs=0 freed=0 highwater=20 time_ms=0.012", at: 16 },
];

test("standard error's lines go to the statements they concern", () => {
  const items = readtranscript(Transcript, Program);
  const read = readerrors(Errs, items);
  assert.deepEqual(read.notes.map((n) => n.stats.line), [2, 3]);
  // The definition's warning came while "f 1" was evaluated: its card shows
  // it, at the definition's place.
  assert.deepEqual(read.notes[0].warnings.map((w) => [w.line, w.column]), [[1, 19], [2, 0]]);
  assert.deepEqual(read.notes[1].warnings.map((w) => w.text), ["'squre' is neither defined nor bound by a lambda"]);
  assert.equal(read.total.statements, 2);
  assert.deepEqual(read.others, []);
  // A warning about a statement's text, given as it is read, goes to its
  // card; one about a definition's text has none.
  const read2 = readerrors([{ text: "kestrivo: 2:1: warning: 'f' runs on across a line end", at: 5 }], items);
  assert.equal(read2.warnings[0].statement, 0);
  const def = readerrors([{ text: "kestrivo: 1:9: warning: '(' is never closed; it is dropped", at: 4 }], items);
  assert.equal(def.warnings[0].statement, null);
  assert.deepEqual(def.notes[0].warnings, []);
  // The figures of a statement whose stop ended the run come after the end.
  const ended = readerrors([{ text: "kestrivo: stats line=3 newnodes=0 steps=9 beta=0 ops=0 gcs=1 freed=0 highwater=6006 time_ms=1", at: 99 }], items);
  assert.equal(ended.notes[1].stats.steps, 9);
});

test("a --profile table goes to its statement, the run's to the run, each row read whole", () => {
  const items = readtranscript(Transcript, Program);
  const table = (head, rows, at) => [
    { text: head, at },
    { text: "kestrivo:   centre       entries     steps  share      beta  share       ops  share  newnodes  share", at },
    ...rows.map((r) => ({ text: r, at })),
  ];
  const read = readerrors(
    [
      ...table("kestrivo: profile line=2", [
        "kestrivo:   f                  1         3  75.0%         1 100.0%         0   0.0%         3 100.0%",
        "kestrivo:   (statement)        0         1  25.0%         0   0.0%         0   0.0%         0   0.0%",
        "kestrivo:   (total)            1         4 100.0%         1 100.0%         0   0.0%         3 100.0%",
      ], 9),
      ...table("kestrivo: profile of the run, 2 statements", [
        "kestrivo:   (more names)       0        12 100.0%         2 100.0%         1 100.0%        30 100.0%",
        "kestrivo:   (total)            0        12 100.0%         2 100.0%         1 100.0%        30 100.0%",
      ], 16),
    ],
    items,
  );
  assert.deepEqual(read.notes[0].profile, [
    { centre: "f", entries: 1, steps: 3, beta: 1, ops: 0, newnodes: 3 },
    { centre: "(statement)", entries: 0, steps: 1, beta: 0, ops: 0, newnodes: 0 },
    { centre: null, entries: 1, steps: 4, beta: 1, ops: 0, newnodes: 3 },
  ]);
  assert.equal(read.notes[1].profile, null);
  assert.deepEqual(read.profile.map((r) => [r.centre, r.steps, r.newnodes]), [["(more names)", 12, 30], [null, 12, 30]]);
  assert.deepEqual(read.others, []);
});

test("graph files go to the statement they were written in", () => {
  const items = readtranscript(Transcript, Program);
  const sets = picturesbystatement(
    [
      { stage: "parsed", dot: "a", at: 6 },
      { stage: "expanded", dot: "b", at: 7 },
      { stage: "normal", dot: "c", at: 9 },
      { stage: "parsed", dot: "d", at: 11 },
    ],
    items,
  );
  assert.deepEqual(sets, [{ parsed: "a", expanded: "b", normal: "c" }, { parsed: "d" }]);
});

test("a warning's place is its word, counted in characters as the interpreter counts them", () => {
  const text = "x = 1;\n  (f 𝑥) squre+1;\n\tlast;";
  const at = (line, column) => {
    const s = textspan(text, line, column);
    return text.slice(s.from, s.to);
  };
  assert.equal(at(2, 3), "(");
  assert.equal(at(2, 4), "f");
  assert.equal(at(2, 9), "squre"); // "𝑥" is one character, two UTF-16 units
  assert.equal(at(2, 14), "+1");
  assert.equal(at(2, 0), "(f 𝑥) squre+1;"); // no column: the line without its blanks
  assert.equal(at(3, 2), "last");
  assert.equal(textspan(text, 4, 1), null);
});

// The status of a finished run of Program with the given changes.
function statusof(changes, transcript = Transcript, errs = Errs, program = Program) {
  const run = { settings: defaults(), done: true, status: 0, endingstop: -1, trap: null, interrupted: null, elapsed: 1234, ...changes };
  const items = readtranscript(transcript, program, { partial: run.interrupted !== null || run.trap !== null });
  const read = readerrors(errs, items);
  const lines = transcript.replace(/\n$/, "").split("\n");
  return { ...outcome(run, items, read, lines), items, read, run, lines };
}

test("each way a run ends reads as its own sentence and tone", () => {
  assert.deepEqual(
    (({ tone, text }) => ({ tone, text }))(statusof({})),
    { tone: "ok", text: "Finished: 2 expressions in 0.012 ms. The program has 3 warnings, marked in the editor." },
  );
  const limit = statusof({ status: 3 }, Transcript, [...Errs.slice(0, 3), { text: "kestrivo: 2: statement stopped after 20 steps", at: 9 }]);
  assert.equal(limit.tone, "warn");
  assert.match(limit.text, /^Finished, but 1 statement stopped at the step limit \(line 2\)\./);
  assert.match(stopnote(limit.items[5], limit.read.notes[0], limit.run, limit.lines, false).next, /normal; after it to reduce it 20 steps further/);

  const pool = statusof({ endingstop: 0, settings: { ...defaults(), blocks: 2 } });
  assert.equal(pool.tone, "error");
  assert.match(pool.text, /^Ended early at line 3: the pool ran out: all 2,002 nodes were in use/);
  const last = pool.items.filter((it) => it.kind === "statement").at(-1);
  assert.match(stopnote(last, pool.read.notes[1], pool.run, pool.lines, true).why, /^Stopped: the pool ran out/);

  const word = statusof({ endingstop: 2 }, "+ 1 2;\nabcdefghi 1;\nword is too long in yomikomi: abcdefghi\nTHE END...................\n", [], "+ 1 2;\nabcdefghi 1;\n");
  assert.equal(word.text, "Ended early at line 2: a word has more than 8 characters: abcdefghi. Names and numbers are at most 8 characters; shorten it.");
  const tokens = statusof({ endingstop: 2 }, "+ 1 2;\nstarray is overflow in yomikomiTHE END...................\n", [], "+ 1 2;\n");
  assert.match(tokens.text, /^Ended early at line 1: the statement holds more than 1000 tokens/);
  const collector = statusof({ status: 1 }, `${Transcript.split("\n").slice(0, 9).join("\n")}\nStack ga tarimsen!\n`, []);
  assert.match(collector.text, /^Ended early at line 2: the collector's stack overflowed/);

  const startup = statusof({ status: 1 }, "THIS IS KESTRIVO ************************* \nMEMORY OVER 8123\n", []);
  assert.deepEqual([startup.tone, startup.text], ["error", "Did not start: MEMORY OVER 8123: the pool is larger than this page can hold; choose fewer blocks in Settings."]);
  const refused = statusof({ status: 2 }, "", [{ text: "kestrivo: unknown option '--bad'", at: 0 }]);
  assert.equal(refused.text, "Did not start: kestrivo: unknown option '--bad'.");

  const cut = Transcript.split("\n").slice(0, 12).join("\n") + "\n";
  const stopped = statusof({ done: true, interrupted: "stop", elapsed: 3210 }, cut, Errs.slice(0, 4));
  assert.equal(stopped.tone, "warn");
  assert.match(stopped.text, /^Stopped by you after 3\.2 s in the statement on line 3; what it printed is kept\./);
  const running = stopped.items.filter((it) => it.kind === "statement").at(-1);
  assert.equal(running.running, true);
  assert.match(stopnote(running, stopped.read.notes[1], stopped.run, stopped.lines, true).why, /^Stopped by you after 3\.2 s/);
  const timed = statusof({ interrupted: "time" }, cut, Errs.slice(0, 4));
  assert.match(timed.text, /^Stopped at the time limit \(10 s\) in the statement on line 3/);
  const trapped = statusof({ status: null, trap: "Maximum call stack size exceeded" }, cut, Errs.slice(0, 4));
  assert.match(trapped.text, /^Ended early at line 3: the browser's stack ran out\./);
  assert.deepEqual(statusof({ done: false }, cut, []).tone, "busy");
});

test("settings from anywhere are made whole, and make the console's command line", () => {
  assert.deepEqual(normalize(null), defaults());
  const s = normalize({ blocks: 1e9, tokens: "12", timelimit: -3, maxsteps: 2.7, readback: "yes", gcreports: false, other: 1 });
  assert.deepEqual(s, { ...defaults(), blocks: 10000, timelimit: 0, maxsteps: 2, gcreports: false });
  assert.deepEqual(options(s), ["--warn", "--stats", "--max-steps=2", "--quiet-gc"]);
  assert.deepEqual(counts(defaults()), [5, 1000]);
  assert.equal(commandline({ ...defaults(), readback: true }), "kestrivo --warn --stats --readback prog.lam 5 1000");
  assert.equal(commandline({ ...defaults(), readback: true, profile: true }), "kestrivo --warn --stats --readback --profile prog.lam 5 1000");
});

test("a link carries the program, the settings and the interpreter, and says when another made it", () => {
  const program = "% ünïcode and 'quotes' %\nsquare = lambda x (* x x);\nsquare 12;\n";
  const settings = { ...defaults(), blocks: 3, readback: true };
  const fragment = linkfragment({ program, settings, version: "1.0.0", build: "abc" });
  assert.match(fragment, /^k1=[A-Za-z0-9+$-]+$/);
  const link = readfragment(`#${fragment}`);
  assert.deepEqual(link, { program, settings, version: "1.0.0", build: "abc" });
  assert.equal(versionnote(link, "1.0.0", "abc"), null);
  assert.match(versionnote(link, "1.1.0", "abc"), /made with kestrivo 1\.0\.0; this page runs kestrivo 1\.1\.0/);
  assert.match(versionnote(link, "1.0.0", "def"), /another build of kestrivo 1\.0\.0 \(abc; this page's is def\)/);
  assert.equal(readfragment(""), null);
  assert.equal(readfragment("#section-2"), null);
  assert.match(readfragment("#k2=abc").error, /later format \(k2\)/);
  assert.match(readfragment(`#${fragment.slice(0, 12)}`).error, /damaged/);
});
