// What a run wrote to standard error, read for the page: the warnings of
// --warn (placed in the editor and in the cards of their statements), the
// figures of --stats, the tables of --profile and the step limit's reports,
// each matched to the expression statement it concerns.
//
// The page knows when each line came: at is how many lines of the transcript
// were complete when it did (both streams reach the page a line at a time, in
// the order they were written).  A statement's figures and its step-limit
// report come right after its "newnodes" line; the warnings about its names
// and its stuck operators come while it is evaluated, after its parsed line;
// the reader's warnings about its text come before that, while it is read.

const WarningLine = /^kestrivo: (\d+)(?::(\d+))?: warning: (.*)$/;
const StepStopLine = /^kestrivo: (\d+): statement stopped after (\d+) steps$/;
const StatsLine = /^kestrivo: (stats|total) (.*)$/;
// The head of a --profile table (a statement's, or the run's) and one of its
// rows: the centre, then entries, and steps, beta, ops and newnodes each
// with its share.  The header line matches neither.
const ProfileHead = /^kestrivo: profile (?:line=(\d+)|of the run, \d+ statements)$/;
const ProfileRow = /^kestrivo: {3}(.+?) +(\d+) +(\d+) +[\d.]+% +(\d+) +[\d.]+% +(\d+) +[\d.]+% +(\d+) +[\d.]+%$/;

// "kestrivo: L:C: warning: TEXT" as { line, column, text }; column 0 when the
// warning names only the line.  null for any other line.
export function readwarning(text) {
  const m = WarningLine.exec(text);
  return m ? { line: Number(m[1]), column: m[2] ? Number(m[2]) : 0, text: m[3] } : null;
}

function readfigures(rest) {
  const fields = {};
  for (const pair of rest.trim().split(/\s+/)) {
    const eq = pair.indexOf("=");
    if (eq > 0) fields[pair.slice(0, eq)] = Number(pair.slice(eq + 1));
  }
  return fields;
}

// For lines or files that came in order, each when at lines of the
// transcript were complete: a function giving the index of the statement
// each concerns, the first whose "newnodes" line (or its end, for one still
// running) came before it or right before it; null after the last.
function statementat(statements) {
  let k = 0;
  return (at) => {
    while (k < statements.length && statements[k].end !== null && statements[k].end + 1 < at) k++;
    return k < statements.length ? k : null;
  };
}

// The graph files of --dot by statement: pictures [{ stage, dot, at }] in the
// order written (a statement's parsed and expanded graphs come after its
// term's line, its normal form's after its "newnodes" line).  Returns, by
// statement index, { parsed, expanded, normal, name } (a stage not written is
// missing; name is the statement's picture name, line3 or line3.2, which
// --frames-for takes).
export function picturesbystatement(pictures, items) {
  const statements = items.filter((it) => it.kind === "statement");
  const sets = statements.map(() => ({}));
  const concerned = statementat(statements);
  for (const { stage, dot, at, name } of pictures) {
    const s = concerned(at);
    if (s === null) continue;
    sets[s][stage] = dot;
    if (name !== undefined) sets[s].name ??= name;
  }
  return sets;
}

// errs: [{ text, at }] in the order written; items: readtranscript's.
// Returns
//   notes     one record per expression statement, by its index:
//             { stats, warnings, steplimit, profile }  (stats null until its
//             line came; steplimit: the steps after which the step limit
//             stopped it; profile: the rows of its --profile table, null
//             until it came)
//   warnings  every warning, { line, column, text, statement } (statement:
//             the index of the card it is shown in, or null)
//   total     the figures of the run's total line, or null
//   profile   the rows of the run's --profile table, or null; a row is
//             { centre, entries, steps, beta, ops, newnodes }, the total
//             row last with centre null
//   others    every other line, as written
export function readerrors(errs, items) {
  const statements = items.filter((it) => it.kind === "statement");
  const notes = statements.map(() => ({ stats: null, warnings: [], steplimit: null, profile: null }));
  const warnings = [];
  let total = null;
  let profile = null;
  let table = null; // the rows of the profile table being read
  const others = [];
  const concerned = statementat(statements);
  const pending = []; // warnings with the statement they came during
  for (const { text, at } of errs) {
    const s = concerned(at);
    const head = ProfileHead.exec(text);
    if (head) {
      // As the figures, a statement's table comes after its "newnodes" line,
      // or at the very end when its stop ended the run.
      table = [];
      const last = notes.length - 1;
      if (head[1] === undefined) profile = table;
      else if (s !== null) notes[s].profile = table;
      else if (last >= 0 && notes[last].profile === null) notes[last].profile = table;
      continue;
    }
    const row = table !== null ? ProfileRow.exec(text) : null;
    if (row) {
      const istotal = row[1] === "(total)";
      table.push({ centre: istotal ? null : row[1], entries: Number(row[2]), steps: Number(row[3]),
        beta: Number(row[4]), ops: Number(row[5]), newnodes: Number(row[6]) });
      if (istotal) table = null;
      continue;
    }
    if (table !== null && /^kestrivo: {3}centre /.test(text)) continue;  // the table's header
    const stats = StatsLine.exec(text);
    if (stats) {
      // The figures of a statement whose stop ended the run come at the
      // very end, after "THE END...".
      const last = notes.length - 1;
      if (stats[1] === "total") total = readfigures(stats[2]);
      else if (s !== null) notes[s].stats = readfigures(stats[2]);
      else if (last >= 0 && notes[last].stats === null) notes[last].stats = readfigures(stats[2]);
      continue;
    }
    const stop = StepStopLine.exec(text);
    if (stop && s !== null) {
      notes[s].steplimit = Number(stop[2]);
      continue;
    }
    const warning = readwarning(text);
    if (warning) {
      pending.push({ warning, s, at });
      continue;
    }
    others.push(text);
  }
  // A warning belongs to the card of the statement it came during when it
  // came while the statement was evaluated, or when it is about the text of
  // that statement; a warning about a definition's text has no card.
  for (const { warning, s, at } of pending) {
    let statement = null;
    if (s !== null) {
      const item = statements[s];
      const first = notes[s].stats?.line ?? item.lineno;
      if (at > item.start || (warning.line >= first && warning.line <= item.lineno)) statement = s;
    }
    warning.statement = statement;
    warnings.push(warning);
    if (statement !== null) notes[statement].warnings.push(warning);
  }
  return { notes, warnings, total, profile, others };
}

// Characters that end a word, as the tokenizer has them.
const Terminators = new Set([" ", "\t", "%", "(", ")", "*", "+", "-", ";", "[", "]", "{", "}"]);

// Where a warning falls in the program's text: { from, to } in UTF-16 units
// of text.  Lines are counted from 1 and columns in characters from 1, as
// the interpreter counts them; a column of 0 gives the line's text without
// its blanks around it.  The span is the word the column begins (a bracket
// or ";" alone).  null when the line is not in the text.
export function textspan(text, line, column) {
  let from = 0;
  for (let l = 1; l < line; l++) {
    const nl = text.indexOf("\n", from);
    if (nl < 0) return null;
    from = nl + 1;
  }
  let end = text.indexOf("\n", from);
  if (end < 0) end = text.length;
  const linetext = text.slice(from, end);
  if (column <= 0) {
    const lead = linetext.length - linetext.trimStart().length;
    const trail = linetext.trimEnd().length;
    return trail > lead ? { from: from + lead, to: from + trail } : { from, to: end };
  }
  // Column c is the c-th character: step over c - 1 characters, each one or
  // two UTF-16 units.
  let at = 0;
  for (let c = 1; c < column && at < linetext.length; c++) at += linetext.codePointAt(at) > 0xffff ? 2 : 1;
  let to = at;
  const first = linetext[at];
  if (first !== undefined) {
    to = at + 1;
    if (!Terminators.has(first) || "*+-".includes(first)) {
      while (to < linetext.length && !Terminators.has(linetext[to])) to++;
    }
  }
  return { from: from + at, to: from + Math.max(to, at) };
}
