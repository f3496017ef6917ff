// How a run ended, in words: the sentence and the tone of the page's status
// line, and for a statement that stopped, why and what to do next.
//
// The ways a run ends:
//   finished         the end of the program or "exit"
//   stopped          finished, but statements stopped on the way (the step
//                    limit) and the run went on
//   ended            a stop ended the run early: the pool exhausted, nesting
//                    too deep, a statement that cannot be read, the
//                    collector's stack, the browser's own stack
//   interrupted      the page stopped it: Stop, or the time limit
//   failed           it did not start: settings the interpreter refuses (a
//                    pool larger than memory allows, ...)
// Tones: "ok", "warn" (something to look at), "error".

// The interpreter's own reports of a stop that ends a run, and what each
// means for the user.  A report may end its line or run into "THE END...".
const Reports = [
  { re: /^word is too long in yomikomi: (.*?)(THE END\.+)?$/, why: (m) => `a word has more than 8 characters: ${m[1]}`,
    next: () => "Names and numbers are at most 8 characters; shorten it." },
  { re: /^word is too long for memory in yomikomi/, why: () => "a word is too long for memory",
    next: () => "Names and numbers are at most 8 characters; look for a word that runs on." },
  { re: /^line is too long for memory in yomikomi/, why: () => "a line is too long for memory",
    next: () => "Break the line." },
  { re: /^starray is overflow in yomikomi/, why: (m, s) => `the statement holds more than ${s.tokens} tokens`,
    next: () => "Raise “Tokens per statement” in Settings, or split the statement." },
  { re: /^ ?atoms is overflow in fatom/, why: () => "the table of names is full (100 names)",
    next: () => "Use fewer names, or forget the definitions with new; before going on." },
  { re: /^macro is overflow in yomikomi: (.*)$/, why: (m) => `the macro ${m[1]} reaches its own name`,
    next: () => "A macro may not expand, directly or through others, to its own name." },
  { re: /^depth is overflow in (\w+)$/, why: (m) => `the term is nested too deeply (depth is overflow in ${m[1]})`,
    next: () => "The page's stack is far smaller than the console's; the console binary goes deeper." },
  { re: /^memory is exhausted in (.*)$/, why: () => "the browser gave the interpreter no more memory",
    next: (m, s) => `Try a smaller pool (now ${s.blocks} blocks).` },
  { re: /^Stack ga tarimsen!$/, why: () => "the collector's stack overflowed (Stack ga tarimsen!)",
    next: () => "The collector marks paths up to 12000 nodes deep; a shallower structure, or a pool under 12 blocks, avoids it." },
];

// The report of the stop that ended the run, searched for in the transcript's
// last lines: { why, next } or null.
function endingreport(lines, settings) {
  for (let i = lines.length - 1; i >= Math.max(0, lines.length - 6); i--) {
    for (const r of Reports) {
      const m = r.re.exec(lines[i]);
      if (m) return { why: r.why(m, settings), next: r.next(m, settings) };
    }
  }
  return null;
}

const plural = (n, word) => `${n.toLocaleString("en")} ${word}${n === 1 ? "" : "s"}`;
const seconds = (ms) => `${(ms / 1000).toFixed(1)} s`;

// The stop of the statement that ended the run, from what the interpreter
// recorded (endingstop: 0 the pool, 1 depth, 2 reading) and its report.
function poolnote(settings) {
  return {
    why: `the pool ran out: all ${plural(settings.blocks * 1001, "node")} were in use and a collection freed none`,
    next: `Give the program a bigger pool in Settings (now ${plural(settings.blocks, "block")}).`,
  };
}

// Why the run ended early, when it did: { why, next } or null.
export function endedearly(run, lines) {
  if (run.trap) {
    return {
      why: "the browser's stack ran out",
      next: "The page's stack is far smaller than the console's; the console binary goes deeper.",
    };
  }
  if (run.endingstop === 0) return poolnote(run.settings);
  const report = endingreport(lines, run.settings);
  if (run.endingstop !== null && run.endingstop >= 0) return report ?? { why: "a statement stopped the run", next: "" };
  if (run.status === 1 && report) return report; // the collector's stack
  if (run.status === 0 && report && /^memory is exhausted/.test(lines[lines.length - 2] ?? "")) return report;
  return null;
}

// The last program line the run read.
function lastline(items) {
  for (let i = items.length - 1; i >= 0; i--) if (items[i].kind === "echo") return items[i].lineno;
  return null;
}

// The status of a run, done or under way: { tone, text }.
//   run      { settings, done, status, endingstop, trap, interrupted
//              ("stop" | "time" | null), elapsed (ms) }
//   items    readtranscript's items; read: readerrors' result
export function outcome(run, items, read, lines) {
  const statements = items.filter((it) => it.kind === "statement");
  const warned = read.warnings.length;
  const tail = warned > 0 ? ` The program has ${plural(warned, "warning")}, marked in the editor.` : "";
  if (!run.done && !run.interrupted) return { tone: "busy", text: `Running… ${plural(statements.length, "expression")} so far.` };
  const running = statements.find((s) => s.running);
  const where = running ? ` in the statement on line ${read.notes[running.index]?.stats?.line ?? running.lineno}` : "";
  if (run.interrupted === "stop") {
    return { tone: "warn", text: `Stopped by you after ${seconds(run.elapsed)}${where}; what it printed is kept.${tail}` };
  }
  if (run.interrupted === "time") {
    return {
      tone: "warn",
      text: `Stopped at the time limit (${run.settings.timelimit} s)${where}; what it printed is kept. Raise the limit in Settings.${tail}`,
    };
  }
  if (run.status === 2 || (run.status === 1 && statements.length === 0 && !lines.some((l) => /^Stack ga tarimsen!$/.test(l)))) {
    const said = lines.filter((l) => !/^(THIS IS|SIZE OF node)/.test(l)).join(" ") || read.others.join(" ");
    const hint = /^MEMORY OVER/.test(said) ? ": the pool is larger than this page can hold; choose fewer blocks in Settings" : "";
    return { tone: "error", text: `Did not start: ${said.trim() || `exit status ${run.status}`}${hint}.` };
  }
  const ended = endedearly(run, lines);
  const time = read.total ? ` in ${read.total.time_ms.toLocaleString("en")} ms` : "";
  if (ended) {
    const at = lastline(items);
    return {
      tone: "error",
      text: `Ended early${at ? ` at line ${at}` : ""}: ${ended.why}. ${ended.next}${tail}`.replace(/\s+$/, ""),
    };
  }
  const limited = statements.filter((s) => read.notes[s.index]?.steplimit !== null);
  if (run.status === 3 || limited.length > 0) {
    const which = limited.map((s) => read.notes[s.index].stats?.line ?? s.lineno);
    const on = which.length > 0 ? ` (line${which.length === 1 ? "" : "s"} ${which.join(", ")})` : "";
    return {
      tone: "warn",
      text: `Finished, but ${plural(Math.max(limited.length, 1), "statement")} stopped at the step limit${on}.${tail}`,
    };
  }
  return { tone: "ok", text: `Finished: ${plural(statements.length, "expression")}${time}.${tail}` };
}

// Why a statement's card shows a stop, and the next move: { why, next } or
// null for a statement that ran to its normal form.
//   last  the statement is the run's last one
export function stopnote(item, note, run, lines, last) {
  if (note?.steplimit !== null && note?.steplimit !== undefined) {
    const n = note.steplimit.toLocaleString("en");
    return {
      why: `Stopped at the step limit, after ${n} steps: the line above is the term as it stood.`,
      next: `Write normal; after it to reduce it ${n} steps further, or raise the step limit in Settings.`,
    };
  }
  if (item.running) {
    if (run.interrupted === "stop") {
      return { why: `Stopped by you after ${seconds(run.elapsed)}, while it was being reduced.`, next: "Set a step limit in Settings to see the term as it stands after so many steps." };
    }
    if (run.interrupted === "time") {
      return {
        why: `Stopped at the time limit of ${run.settings.timelimit} s, while it was being reduced.`,
        next: "Raise the time limit in Settings, or set a step limit to see the term as it stands after so many steps.",
      };
    }
    if (run.trap && last) return { why: "Stopped: the browser's stack ran out.", next: "The console binary, with its far larger stack, may go on." };
    return null;
  }
  // The stops that end a run inside an expression (the pool, depth) leave
  // its card; a statement that cannot be read has none.
  const endedhere = last && (run.endingstop === 0 || run.endingstop === 1);
  if (!item.stopped && !endedhere) return null;
  if (endedhere) {
    const ended = endedearly(run, lines);
    if (ended) return { why: `Stopped: ${ended.why}; the run ended here.`, next: ended.next };
  }
  return { why: "Stopped before its normal form.", next: "" };
}
