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

// text: the transcript; program: the program text that produced it;
// partial: the transcript is of a run still under way, or one the page
// stopped, so that its last statement may lack its end.
// Returns a list of items:
//   { kind: "startup", lines }
//   { kind: "echo", line, lineno, joined }  a program line as read (1-based);
//                                           joined when it followed a write's
//                                           word on the same line
//   { kind: "output", lines }               other output (writeln, reports, the end)
//   { kind: "statement", index, lineno, parsed, expanded, normal, newnodes, between,
//     stopped, start, end, running }
//     index counts expression statements from 0; lineno is the last program
//     line read before it; normal is null when the run stopped inside it;
//     between holds the lines printed between the expanded term and the end;
//     start and end are the transcript's line numbers (from 0) of its first
//     line and of its "newnodes" line.  With partial, a last statement the
//     transcript holds no "newnodes" line of is running: true, with
//     newnodes and end null.
export function readtranscript(text, program, { partial = false } = {}) {
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
  let pendingat = i; // the transcript's line number of pending[0]

  // One expression statement from segment, the lines before its "newnodes"
  // line (null for a statement still running), at is the transcript's line
  // number of segment[0].
  const statement = (segment, at, newnodes) => {
    const terms = [];
    segment.forEach((line, k) => {
      if (isterm(line)) terms.push(k);
    });
    // A statement the run stopped in: the collector freed nothing (the
    // pool is exhausted; with insatu the term under reduction is printed
    // last), or the last line before "newnodes" is a report, not a term.
    const running = newnodes === null;
    const stopped =
      !running &&
      (segment.some((line) => ExhaustedLine.test(line)) || (segment.length > 0 && !isterm(segment[segment.length - 1])));
    // Output before the parsed term is not the statement's; a statement
    // that stopped before printing a term keeps all its lines.
    const first = terms.length > 0 ? terms[0] : 0;
    if (first > 0) items.push({ kind: "output", lines: segment.slice(0, first) });
    const parsed = terms.length > 0 ? segment[terms[0]] : null;
    const expanded = terms.length > 1 ? segment[terms[1]] : null;
    let rest = segment.slice(terms.length > 1 ? terms[1] + 1 : terms.length > 0 ? first + 1 : 0);
    let normal = null;
    if (!stopped && !running && terms.length > 2 && terms[terms.length - 1] === segment.length - 1) {
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
      newnodes: running ? null : Number(newnodes.slice("newnodes = ".length)),
      between: rest,
      stopped,
      start: at + first,
      end: running ? null : at + segment.length,
      running,
    });
  };

  const flushoutput = (upto) => {
    // Splits pending output lines into plain output and expression
    // statements, each ending at a "newnodes" line.
    let start = 0;
    for (let j = 0; j < upto; j++) {
      if (!NewnodesLine.test(pending[j])) continue;
      statement(pending.slice(start, j), pendingat + start, pending[j]);
      start = j + 1;
    }
    if (start < upto) items.push({ kind: "output", lines: pending.slice(start, upto) });
    pending = pending.slice(upto);
    pendingat += upto;
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
        pendingat = i + 1;
        next++;
        continue;
      }
      // "write" prints without a line end, so the next echo can follow its
      // word on the same line.
      if (want !== "" && line.endsWith(want) && !isterm(line)) {
        pending.push(line.slice(0, line.length - want.length));
        flushoutput(pending.length);
        items.push({ kind: "echo", line: want, lineno: ++lineno, joined: true });
        pendingat = i + 1;
        next++;
        continue;
      }
    }
    pending.push(line);
  }
  // A run cut short in a statement: its lines so far, from its first term
  // after the last statement that ended.
  if (partial) {
    let ended = pending.length - 1;
    while (ended >= 0 && !NewnodesLine.test(pending[ended])) ended--;
    const first = pending.findIndex((line, k) => k > ended && isterm(line));
    if (first >= 0) {
      flushoutput(first);
      statement(pending, pendingat, null);
      pendingat += pending.length;
      pending = [];
    }
  }
  flushoutput(pending.length);
  return items;
}

// The collector's reports among a statement's lines (between): how many
// collections, the nodes they freed and the fewest free after one; null
// when there were none.  Each report is a blank line, then
// "GARBAGE...  END OF MARKING... freenodes = N".
export function collections(lines) {
  let count = 0;
  let freed = 0;
  let fewest = Infinity;
  for (const line of lines) {
    const m = /^GARBAGE\.\.\. .*freenodes = (\d+)$/.exec(line);
    if (!m) continue;
    count++;
    freed += Number(m[1]);
    fewest = Math.min(fewest, Number(m[1]));
  }
  return count === 0 ? null : { count, freed, fewest };
}

// Whether a line of a statement is part of a collector's report.
export function isreportline(line, next) {
  return GcLine.test(line) || (line === "" && next !== undefined && GcLine.test(next));
}

// The sharing labels a line shows ("co12"), in order of first appearance.
export function sharinglabels(line) {
  return [...new Set(line.match(/\bco\d+\b/g) ?? [])];
}
