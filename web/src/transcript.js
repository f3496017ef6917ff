// Reads a transcript back into what the page shows: the start-up lines, the
// echoed program lines, each expression statement's lines grouped together,
// and whatever else the run printed.
//
// The transcript is the interpreter's standard output, unchanged; this only
// finds its structure, from three facts about it:
//   - every program line is echoed, unchanged, when the tokenizer reads it;
//   - a printed term ends with a blank (every token is followed by one), and
//     nothing else the run prints does;
//   - an expression statement ends with "newnodes = N".
// So an expression is the run of output up to its "newnodes" line: its first
// term line is the parsed term, the second the expanded one, and the term
// line just before "newnodes" the normal form.  Lines between them are the
// collector's reports (or, when the run stopped inside the statement, its
// last words).  Output before the first term line came from commands such as
// writeln.

const NewnodesLine = /^newnodes = -?\d+$/;
const ExhaustedLine = /^GARBAGE\.\.\. .* freenodes = 0$/;
const GcLine = /^GARBAGE\.\.\. /;

function isterm(line) {
  return line.endsWith(" ");
}

// text: the transcript; program: the program text that produced it.
// Returns a list of items:
//   { kind: "startup", lines }
//   { kind: "echo", line, lineno, joined }  a program line as read (1-based);
//                                           joined when it followed a write's
//                                           word on the same line
//   { kind: "output", lines }               other output (writeln, reports, the end)
//   { kind: "statement", index, lineno, parsed, expanded, normal, newnodes, between, stopped }
//     index counts expression statements from 0; lineno is the last program
//     line read before it; normal is null when the run stopped inside it;
//     between holds the lines printed between the expanded term and the end.
export function readtranscript(text, program) {
  const lines = text.split("\n");
  if (lines.length > 0 && lines[lines.length - 1] === "") lines.pop();
  const source = program.split("\n");
  const items = [];

  let i = 0;
  const startup = [];
  while (i < lines.length && i < 3 && /^(THIS IS |SIZE OF node|FreeNodes = )/.test(lines[i])) {
    startup.push(lines[i++]);
  }
  if (startup.length > 0) items.push({ kind: "startup", lines: startup });

  let next = 0; // the next program line the tokenizer will echo
  let lineno = 0;
  let statements = 0;
  let pending = []; // output lines since the last echo or statement

  const flushoutput = (upto) => {
    // Splits pending output lines into plain output and expression
    // statements, each ending at a "newnodes" line.
    let start = 0;
    for (let j = 0; j < upto; j++) {
      if (!NewnodesLine.test(pending[j])) continue;
      const segment = pending.slice(start, j);
      const terms = [];
      segment.forEach((line, k) => {
        if (isterm(line)) terms.push(k);
      });
      // A statement the run stopped in: the collector freed nothing (the
      // pool is exhausted; with insatu the term under reduction is printed
      // last), or the last line before "newnodes" is a report, not a term.
      const stopped =
        segment.some((line) => ExhaustedLine.test(line)) ||
        (segment.length > 0 && !isterm(segment[segment.length - 1]));
      // Output before the parsed term is not the statement's; a statement
      // that stopped before printing a term keeps all its lines.
      const first = terms.length > 0 ? terms[0] : 0;
      if (first > 0) items.push({ kind: "output", lines: segment.slice(0, first) });
      const parsed = terms.length > 0 ? segment[terms[0]] : null;
      const expanded = terms.length > 1 ? segment[terms[1]] : null;
      let rest = segment.slice(terms.length > 1 ? terms[1] + 1 : terms.length > 0 ? first + 1 : 0);
      let normal = null;
      if (!stopped && terms.length > 2 && terms[terms.length - 1] === segment.length - 1) {
        normal = segment[segment.length - 1];
        rest = rest.slice(0, -1);
      }
      items.push({
        kind: "statement",
        index: statements++,
        lineno,
        parsed,
        expanded,
        normal,
        newnodes: Number(pending[j].slice("newnodes = ".length)),
        between: rest,
        stopped,
      });
      start = j + 1;
    }
    if (start < upto) items.push({ kind: "output", lines: pending.slice(start, upto) });
    pending = pending.slice(upto);
  };

  for (; i < lines.length; i++) {
    const line = lines[i];
    // The collector's report begins with a line end, which leaves an empty
    // line that must not pass for the echo of an empty program line.
    const gcblank = line === "" && i + 1 < lines.length && GcLine.test(lines[i + 1]);
    if (next < source.length && !gcblank) {
      const want = source[next];
      if (line === want) {
        flushoutput(pending.length);
        items.push({ kind: "echo", line, lineno: ++lineno });
        next++;
        continue;
      }
      // "write" prints without a line end, so the next echo can follow its
      // word on the same line.
      if (want !== "" && line.endsWith(want) && !isterm(line)) {
        pending.push(line.slice(0, line.length - want.length));
        flushoutput(pending.length);
        items.push({ kind: "echo", line: want, lineno: ++lineno, joined: true });
        next++;
        continue;
      }
    }
    pending.push(line);
  }
  flushoutput(pending.length);
  return items;
}

// The statistics lines of --stats, by statement: "kestrivo: stats line=3
// newnodes=..." gives { line: 3, newnodes: ..., ... }.  The total line is
// returned apart.
export function readstats(stderr) {
  const statements = [];
  let total = null;
  for (const line of stderr) {
    const m = /^kestrivo: (stats|total) (.*)$/.exec(line);
    if (!m) continue;
    const fields = {};
    for (const pair of m[2].trim().split(/\s+/)) {
      const eq = pair.indexOf("=");
      if (eq > 0) fields[pair.slice(0, eq)] = Number(pair.slice(eq + 1));
    }
    if (m[1] === "stats") statements.push(fields);
    else total = fields;
  }
  return { statements, total };
}

// The graph set of each expression statement, in order.  The graphs are
// named by the line the statement starts on, "line3", then "line3.2", ...
// for more statements starting on the same line.  With statistics, their
// line numbers name the sets exactly; without, the names are taken in order.
export function graphsbystatement(graphs, stats) {
  const names = Object.keys(graphs);
  if (stats.length > 0) {
    const seen = new Map();
    return stats.map((s) => {
      const n = (seen.get(s.line) ?? 0) + 1;
      seen.set(s.line, n);
      return graphs[n === 1 ? `line${s.line}` : `line${s.line}.${n}`] ?? null;
    });
  }
  const key = (name) => {
    const m = /^line(\d+)(?:\.(\d+))?$/.exec(name);
    return [Number(m[1]), m[2] ? Number(m[2]) : 1];
  };
  names.sort((a, b) => {
    const [la, na] = key(a);
    const [lb, nb] = key(b);
    return la - lb || na - nb;
  });
  return names.map((name) => graphs[name]);
}

// The sharing labels a line shows ("co12"), in order of first appearance.
export function sharinglabels(line) {
  return [...new Set(line.match(/\bco\d+\b/g) ?? [])];
}
