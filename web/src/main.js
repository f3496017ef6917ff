// The playground page: an editor for the program, Run and Stop, the
// transcript with each expression statement's lines grouped in a card, and
// for a chosen statement its graphs (and, as tabs are added beside the
// graph, other views of it).
//
// The interpreter runs in a worker (worker.js) and posts what the run
// writes as it is written, so the transcript fills in as the run goes and
// Stop (or the time limit) keeps all of it: stopping ends that worker and
// starts a fresh one from the module compiled once here.  The graphs are
// laid out in a second worker (graphworker.js).
//
// The program and the settings are kept in local storage, and Share puts
// them in a link (share.js).
import { EditorView, basicSetup } from "codemirror";
import { keymap } from "@codemirror/view";
import { Prec } from "@codemirror/state";
import { HighlightStyle, syntaxHighlighting } from "@codemirror/language";
import { setDiagnostics, lintGutter } from "@codemirror/lint";
import { tags } from "@lezer/highlight";

import { kestrivoLanguage } from "./lang.js";
import { readtranscript, collections, isreportline, sharinglabels } from "./transcript.js";
import { readerrors, picturesbystatement, textspan } from "./diagnostics.js";
import { outcome, stopnote, endedearly } from "./outcome.js";
import { Fields, Switches, normalize, options, counts, commandline } from "./settings.js";
import { linkfragment, readfragment, versionnote } from "./share.js";
import { drawprofile } from "./profile.js";
import { stepspane } from "./stepper.js";

const $ = (id) => document.getElementById(id);

// The module's build, a digest of kestrivo.wasm (build.mjs puts it here).
/* global KESTRIVO_BUILD */
const Build = typeof KESTRIVO_BUILD === "string" ? KESTRIVO_BUILD : "";
// Graphs with more nodes than this are drawn only when asked: Graphviz takes
// long over them and the picture says little.
const LargeGraph = 1500;
// While a run streams in, the page is redrawn at most this often (ms): a
// run that prints fast posts thousands of lines a second.
const RedrawEvery = 120;
// Where the program and settings are kept between visits.
const StorageKey = "kestrivo-playground";

// ---- the editor

const highlight = HighlightStyle.define([
  { tag: tags.comment, color: "#7a7f87", fontStyle: "italic" },
  { tag: tags.keyword, color: "#8a3ab9", fontWeight: "bold" },
  { tag: tags.operatorKeyword, color: "#1d5fb4" },
  { tag: tags.definitionOperator, color: "#c0392b", fontWeight: "bold" },
  { tag: tags.string, color: "#2e7d32" },
  { tag: [tags.number, tags.integer, tags.bool], color: "#b35c00" },
  { tag: tags.bracket, color: "#555" },
  { tag: tags.punctuation, color: "#c0392b" },
]);

const editor = new EditorView({
  parent: $("editor"),
  extensions: [
    Prec.highest(keymap.of([{ key: "Mod-Enter", run: () => (runprogram(), true) }])),
    basicSetup,
    lintGutter(),
    kestrivoLanguage,
    syntaxHighlighting(highlight),
    EditorView.lineWrapping,
    EditorView.theme({ "&": { height: "100%" }, ".cm-scroller": { fontFamily: "var(--mono)" } }),
    EditorView.updateListener.of((update) => {
      if (update.docChanged) programchanged();
    }),
  ],
});

function program() {
  return editor.state.doc.toString();
}

// Replaces the whole text as one change, which Ctrl-Z takes back.
function setprogram(text) {
  editor.dispatch({ changes: { from: 0, to: editor.state.doc.length, insert: text } });
}

// ---- what is kept: the program, its example, the settings

const kept = {
  example: null, // the example the program came from (its file), or null
  exampletext: null, // that example's text, once fetched
  origin: "", // where a program of no example came from: "link" or ""
  settings: normalize(null),
};

let savetimer = null;
function save() {
  clearTimeout(savetimer);
  savetimer = setTimeout(() => {
    try {
      localStorage.setItem(
        StorageKey,
        JSON.stringify({ program: program(), example: kept.example, origin: kept.origin, settings: kept.settings }),
      );
    } catch {
      // storage refused (private browsing, full): nothing is kept
    }
  }, 200);
}

function restore() {
  try {
    const value = JSON.parse(localStorage.getItem(StorageKey) ?? "null");
    if (value && typeof value.program === "string") return value;
  } catch {
    // unreadable: start afresh
  }
  return null;
}

function programchanged() {
  showexample();
  save();
}

// ---- the settings panel

function buildsettings() {
  const box = $("settings-fields");
  for (const [name, field] of Object.entries(Fields)) {
    const label = document.createElement("label");
    label.className = "setting";
    label.innerHTML = `<span class="name"></span><input type="number" id="setting-${name}" min="${field.min}" max="${field.max}" step="1"><span class="help"></span>`;
    label.querySelector(".name").textContent = field.label;
    label.querySelector(".help").textContent = field.help;
    box.append(label);
  }
  for (const [name, field] of Object.entries(Switches)) {
    const label = document.createElement("label");
    label.className = "setting switch";
    label.innerHTML = `<input type="checkbox" id="setting-${name}"><span class="name"></span><span class="help"></span>`;
    label.querySelector(".name").textContent = field.label;
    label.querySelector(".help").textContent = field.help;
    box.append(label);
  }
  box.addEventListener("change", readsettings);
  box.addEventListener("input", readsettings);
}

function showsettings() {
  for (const name of Object.keys(Fields)) $(`setting-${name}`).value = String(kept.settings[name]);
  for (const name of Object.keys(Switches)) $(`setting-${name}`).checked = kept.settings[name];
  $("command").textContent = commandline(kept.settings);
}

function readsettings() {
  const value = {};
  for (const name of Object.keys(Fields)) {
    const v = $(`setting-${name}`).value;
    value[name] = v === "" ? undefined : Number(v);
  }
  for (const name of Object.keys(Switches)) value[name] = $(`setting-${name}`).checked;
  kept.settings = normalize(value);
  $("command").textContent = commandline(kept.settings);
  save();
}

$("settings-button").addEventListener("click", () => {
  const open = $("settings").hidden;
  $("settings").hidden = !open;
  $("settings-button").setAttribute("aria-expanded", String(open));
});

// ---- notices: links opened and made

function notice(text, link = null) {
  $("notice-text").textContent = text;
  $("link").hidden = link === null;
  if (link !== null) {
    $("link").value = link;
    $("link").select();
  }
  $("notice").hidden = false;
}
$("notice-close").addEventListener("click", () => {
  $("notice").hidden = true;
});

// ---- the interpreter's worker

let compiled = null; // the module, compiled once for every worker
let worker = null;
let version = null; // what the interpreter says of itself, once ready
let runid = 0;
let run = null; // the run on the page (see newrun)
let timelimit = null;
// How long past its limit a run that does not look (a long print) is ended
// by the page's own timer.
const TimeGrace = 1000; // milliseconds

function setstatus(text, tone) {
  $("status").textContent = text;
  $("status").className = tone;
}

// A fresh worker; its first message is the module, so a run posted to it
// at once waits for it to be ready.
function startworker() {
  version = null;
  $("run").disabled = true;
  worker = new Worker("worker.js");
  worker.onmessage = (event) => onworker(event.data);
  worker.onerror = (event) => setstatus(`The interpreter's worker failed: ${event.message}`, "error");
  worker.postMessage({ start: { module: compiled } });
}

function onworker(m) {
  if (m.ready !== undefined) {
    if (!m.ready) return setstatus(`The interpreter failed to start: ${m.failed}`, "error");
    version = m.version;
    $("run").disabled = false;
    $("share").disabled = false;
    if (run === null) setstatus(`Ready: kestrivo ${version}. Ctrl-Enter runs the program.`, "ok");
    linknote();
    return;
  }
  if (run === null || m.id !== run.id || run.done) return;
  if (m.started) {
    // The time limit counts the run's own time, not the worker's start.
    run.started = performance.now();
    // The worker says when its time is up, after posting what it printed;
    // this timer ends a run that stops looking (a long print) a little later.
    if (run.settings.timelimit > 0) timelimit = setTimeout(() => interrupt("time"), run.settings.timelimit * 1000 + TimeGrace);
    return;
  }
  if (m.timeup) return interrupt("time");
  for (const w of m.batch ?? []) {
    if (w.out !== undefined) {
      run.transcript += w.out;
      for (let i = w.out.indexOf("\n"); i >= 0; i = w.out.indexOf("\n", i + 1)) run.lines++;
    } else if (w.err !== undefined) {
      run.stderr += w.err;
      for (const text of w.err.replace(/\n$/, "").split("\n")) run.errs.push({ text, at: run.lines });
    } else if (w.picture !== undefined) {
      run.pictures.push({ ...w.picture, at: run.lines });
    }
  }
  if (m.done) {
    Object.assign(run, { done: true, status: m.status, endingstop: m.endingstop, trap: m.trap, failed: m.failed ?? null });
    run.elapsed = performance.now() - run.started;
    endrun();
  }
  redraw();
}

// A run: what was asked and everything that has come back.
function newrun() {
  return {
    id: ++runid,
    program: program(),
    settings: kept.settings,
    started: performance.now(),
    elapsed: 0,
    transcript: "",
    lines: 0, // complete lines of the transcript so far
    stderr: "",
    errs: [], // standard error's lines, { text, at }
    pictures: [], // the graph files, { name, stage, dot, at }
    done: false,
    status: null,
    endingstop: null,
    trap: null,
    failed: null,
    interrupted: null, // "stop" or "time" when the page ended it
  };
}

function runprogram() {
  if (version === null) return;
  if (run !== null && !run.done) interrupt("stop", false);
  run = newrun();
  shown = [];
  keepchoice = chosen;
  chosen = null;
  $("transcript").replaceChildren();
  editor.dispatch(setDiagnostics(editor.state, []));
  worker.postMessage({
    id: run.id,
    program: run.program,
    lastblock: counts(run.settings)[0],
    tokens: counts(run.settings)[1],
    options: options(run.settings),
    timelimit: run.settings.timelimit,
  });
  $("stop").disabled = false;
  clearTimeout(timelimit);
  redraw(true);
}

function endrun() {
  clearTimeout(timelimit);
  $("stop").disabled = true;
}

// Ends the run under way by ending its worker; what it printed stays.
function interrupt(why, draw = true) {
  if (run === null || run.done) return;
  run.done = true;
  run.interrupted = why;
  run.elapsed = performance.now() - run.started;
  worker.terminate();
  endrun();
  if (draw) redraw(true);
  startworker();
}

$("run").addEventListener("click", runprogram);
$("stop").addEventListener("click", () => interrupt("stop"));

// ---- drawing a run

let redrawtimer = null;
let lastdraw = 0; // when the last drawing began
let drawtook = 0; // how long it took (ms)
// Redraws now (now, or at the end of a run), else after RedrawEvery, or
// four times as long as drawing took, so that a run printing a long
// transcript does not spend the page's time on drawing it again and again.
function redraw(now = false) {
  if (now || run?.done) {
    clearTimeout(redrawtimer);
    redrawtimer = null;
    draw();
    return;
  }
  if (redrawtimer !== null) return;
  const wait = Math.max(RedrawEvery, 4 * drawtook) - (performance.now() - lastdraw);
  redrawtimer = setTimeout(() => {
    redrawtimer = null;
    draw();
  }, Math.max(0, wait));
}

let view = null; // the run as the page reads it: items, notes, graphs ...
let shown = []; // what the transcript view shows: { key, nodes } per item
let chosen = null; // index of the statement the statement panel shows
let keepchoice = null; // the one chosen in the run before, chosen again if it is there

function draw() {
  lastdraw = performance.now();
  if (run === null) return;
  drawrun();
  drawtook = performance.now() - lastdraw;
}

function drawrun() {
  const partial = !run.done || run.interrupted !== null || run.trap !== null;
  const items = readtranscript(run.transcript, run.program, { partial });
  const read = readerrors(run.errs, items);
  const lines = run.transcript.replace(/\n$/, "").split("\n");
  const graphs = picturesbystatement(run.pictures, items);
  view = { items, read, lines, graphs };

  const status = run.failed ? { tone: "error", text: `The run failed: ${run.failed}` } : outcome(run, items, read, lines);
  setstatus(status.text, status.tone);
  drawtranscript(items, read, lines);
  drawraw();
  if (run.done) markeditor(items, read, lines);

  // Once the run is over: the statement chosen in the run before when it
  // is there, else the first whose terms share nodes, else the first.
  if (!run.done) {
    panes.steps.idle();
    return graphnote("The graphs of the statements come when the run is over.");
  }
  const cards = items.filter((it) => it.kind === "statement");
  if (chosen === null || chosen >= cards.length) {
    const sharing = cards.find((it) => sharinglabels(it.expanded ?? "").length > 0);
    chosen = keepchoice !== null && keepchoice < cards.length ? keepchoice : sharing ? sharing.index : cards.length > 0 ? 0 : null;
  }
  choose(chosen);
}

// The warnings, and the stop that ended the run, in the editor at their
// places, while the text is still the one that was run.
function markeditor(items, read, lines) {
  if (program() !== run.program) return;
  const text = run.program;
  const marks = [];
  for (const w of read.warnings) {
    const span = textspan(text, w.line, w.column);
    if (span) marks.push({ ...span, severity: "warning", source: "kestrivo --warn", message: w.text });
  }
  const ended = endedearly(run, lines);
  const last = [...items].reverse().find((it) => it.kind === "echo");
  if (ended && last) {
    const span = textspan(text, last.lineno, 0);
    if (span) marks.push({ ...span, severity: "error", source: "kestrivo", message: `The run ended here: ${ended.why}. ${ended.next}` });
  }
  marks.sort((a, b) => a.from - b.from);
  editor.dispatch(setDiagnostics(editor.state, marks));
}

// The key of an item as drawn: equal keys draw the same.
function itemkey(item, note, stop) {
  if (item.kind !== "statement") return `${item.kind}|${item.line ?? ""}|${item.lines?.length ?? 0}|${item.lineno ?? ""}`;
  return [
    "s", item.index, item.normal !== null, item.between.length, item.running, item.stopped, item.expanded !== null,
    note?.stats ? 1 : 0, note?.warnings.length ?? 0, note?.steplimit ?? "", stop?.why ?? "",
  ].join("|");
}

function drawtranscript(items, read, lines) {
  const box = $("transcript");
  const last = items.filter((it) => it.kind === "statement").length - 1;
  let i = 0;
  const keys = items.map((item) => {
    if (item.kind !== "statement") return itemkey(item);
    const note = read.notes[item.index];
    return itemkey(item, note, stopnote(item, note, run, lines, item.index === last));
  });
  while (i < shown.length && i < keys.length && shown[i].key === keys[i]) i++;
  for (const gone of shown.splice(i)) for (const node of gone.nodes) node.remove();
  for (; i < items.length; i++) {
    const item = items[i];
    let nodes;
    if (item.kind === "startup") nodes = item.lines.map((line) => plainline(line, "startup"));
    else if (item.kind === "echo") {
      const el = plainline(item.line, "echo");
      el.dataset.lineno = item.lineno;
      nodes = [el];
    } else if (item.kind === "output") nodes = outputlines(item.lines);
    else {
      const note = read.notes[item.index];
      nodes = [statementcard(item, note, stopnote(item, note, run, lines, item.index === last))];
    }
    box.append(...nodes);
    shown.push({ key: keys[i], nodes });
  }
}

// A line of terms with its sharing labels marked.
function termline(text, cls) {
  const el = document.createElement("div");
  el.className = `line ${cls}`;
  for (const part of text.split(/(\bco\d+\b)/)) {
    if (/^co\d+$/.test(part)) {
      const span = document.createElement("span");
      span.className = "co";
      span.dataset.co = part;
      span.textContent = part;
      el.append(span);
    } else if (part !== "") {
      el.append(part);
    }
  }
  return el;
}

function plainline(text, cls) {
  const el = document.createElement("div");
  el.className = `line ${cls}`;
  el.textContent = text === "" ? "\u00a0" : text;
  return el;
}

function outputlines(lines) {
  return lines.map((line) => plainline(line, /^THE END\.+$/.test(line) ? "end" : "output"));
}

function labelled(label, line) {
  const row = document.createElement("div");
  row.className = "row";
  const tag = document.createElement("span");
  tag.className = "tag";
  tag.textContent = label;
  row.append(tag, line);
  return row;
}

// The collector's reports of a statement, folded into one row that opens
// onto the reports as printed.
function collectorrow(lines) {
  const c = collections(lines);
  const details = document.createElement("details");
  details.className = "line gc";
  const summary = document.createElement("summary");
  summary.textContent = c
    ? `${c.count} collection${c.count === 1 ? "" : "s"} · ${c.freed.toLocaleString("en")} nodes freed · fewest free ${c.fewest.toLocaleString("en")}`
    : "collector";
  details.append(summary);
  // The reports as printed, made when first opened: a long statement has
  // thousands.
  details.addEventListener("toggle", () => {
    if (!details.open || details.querySelector("pre")) return;
    const raw = document.createElement("pre");
    raw.textContent = lines.join("\n");
    details.append(raw);
  });
  return labelled("collector", details);
}

function statementcard(item, note, stop) {
  const card = document.createElement("div");
  card.className = "statement";
  card.dataset.index = item.index;
  card.tabIndex = 0;
  if (item.parsed !== null) card.append(labelled("parsed", termline(item.parsed, "parsed")));
  if (item.expanded !== null) card.append(labelled("expanded", termline(item.expanded, "expanded")));
  // The lines between: the collector's reports folded, anything else as
  // printed (the term under reduction with insatu, a stop's report).
  const reports = [];
  let folded = false;
  item.between.forEach((line, k) => {
    if (isreportline(line, item.between[k + 1])) {
      reports.push(line);
      if (!folded) {
        folded = true;
        card.append(document.createComment("collector"));
      }
      return;
    }
    card.append(labelled("", item.running ? termline(line, "message") : plainline(line, "message")));
  });
  if (reports.length > 0) {
    const at = [...card.childNodes].find((n) => n.nodeType === Node.COMMENT_NODE);
    at.replaceWith(collectorrow(reports));
  }
  if (item.normal !== null) card.append(labelled("normal form", termline(item.normal, "normal")));
  else if (item.running && run && !run.done) card.append(labelled("", plainline("reducing…", "running")));
  for (const w of note?.warnings ?? []) {
    const el = plainline(`line ${w.line}${w.column ? `:${w.column}` : ""}: ${w.text}`, "warning");
    card.append(labelled("warning", el));
  }
  if (stop) {
    card.classList.add("stopped");
    const box = document.createElement("div");
    box.className = "stop";
    const why = document.createElement("strong");
    why.textContent = stop.why;
    box.append(why);
    if (stop.next) box.append(` ${stop.next}`);
    card.append(box);
  }
  const foot = document.createElement("div");
  foot.className = "foot";
  foot.textContent = item.newnodes !== null ? `newnodes = ${item.newnodes}` : "";
  const stats = note?.stats;
  if (stats) {
    const extra = document.createElement("span");
    extra.className = "stats";
    extra.textContent = `line ${stats.line} · ${stats.steps.toLocaleString("en")} steps · beta ${stats.beta.toLocaleString("en")} · ops ${stats.ops.toLocaleString("en")} · ${stats.time_ms} ms`;
    // With the full normal forms, what reading the closures back took.
    if (stats.readback_steps !== undefined) extra.textContent += ` · read-back ${stats.readback_steps.toLocaleString("en")} steps`;
    foot.append(extra);
  }
  card.append(foot);
  card.addEventListener("click", (e) => {
    if (!e.target.closest("details")) choose(item.index);
  });
  card.addEventListener("keydown", (e) => {
    if (e.key === "Enter") choose(item.index);
  });
  // Hovering a sharing label shows every place the same node appears, in
  // the card and, when this statement's graph is drawn, in the graph.
  card.addEventListener("mouseover", (e) => {
    const co = e.target.dataset?.co;
    for (const el of card.querySelectorAll(".co")) el.classList.toggle("hot", co !== undefined && el.dataset.co === co);
    const drawn = item.index === chosen;
    for (const g of document.querySelectorAll("#graph svg g.node")) {
      const hit = [...g.querySelectorAll("text")].some((t) => new RegExp(`\\b${co}\\b`).test(t.textContent));
      g.classList.toggle("hot", drawn && co !== undefined && hit);
    }
  });
  card.addEventListener("mouseleave", () => {
    for (const el of document.querySelectorAll(".co.hot, #graph svg g.node.hot")) el.classList.remove("hot");
  });
  return card;
}

// ---- the chosen statement and its panes

// Each tab of the statement panel: show(item, view) fills its pane for the
// chosen statement (item null when there is none).  A new way of looking at
// a statement is a button in #statement-tabs, a .pane with the same
// data-pane, and an entry here.
const panes = {
  graph: { show: () => drawgraph() },
  profile: { show: (item) => drawprofile($("profile"), item, view, run, profileagain) },
  steps: null, // made below, once the graph worker is there
};
let pane = "graph";

// The Profile tab's answer to a run made without the profile: the switch
// goes on, kept as the settings panel keeps it, and the program runs again
// with the same statement chosen.
function profileagain() {
  kept.settings = { ...kept.settings, profile: true };
  showsettings();
  save();
  runprogram();
}

function choose(index) {
  chosen = index;
  for (const card of document.querySelectorAll("#transcript .statement")) {
    card.classList.toggle("chosen", Number(card.dataset.index) === index);
  }
  const item = view?.items.find((it) => it.kind === "statement" && it.index === index) ?? null;
  const line = item ? (view.read.notes[index]?.stats?.line ?? item.lineno) : null;
  $("statement-title").textContent = line ? `· line ${line}` : "";
  panes[pane].show(item, view);
}

for (const tab of document.querySelectorAll("#statement-tabs button")) {
  tab.addEventListener("click", () => {
    pane = tab.dataset.pane;
    for (const t of document.querySelectorAll("#statement-tabs button")) t.setAttribute("aria-selected", String(t === tab));
    for (const p of document.querySelectorAll("#statement-panel .pane")) p.hidden = p.dataset.pane !== pane;
    choose(chosen);
  });
}

// ---- the graph pane

const graphworker = new Worker("graphworker.js");
let graphid = 0;
const graphwaiting = new Map();
graphworker.onmessage = (event) => {
  const done = graphwaiting.get(event.data.id);
  if (done) {
    graphwaiting.delete(event.data.id);
    done(event.data);
  }
};
function layout(dot) {
  const id = ++graphid;
  return new Promise((resolve) => {
    graphwaiting.set(id, resolve);
    graphworker.postMessage({ id, dot });
  });
}

let shownkind = "expanded";

panes.steps = stepspane(document.querySelector('#statement-panel .pane[data-pane="steps"]'), {
  layout,
  module: () => compiled,
  request: () =>
    run === null
      ? null
      : { id: run.id, done: run.done, program: run.program, lastblock: counts(run.settings)[0], tokens: counts(run.settings)[1], options: options(run.settings) },
  card: (index) => document.querySelector(`#transcript .statement[data-index="${index}"]`),
});

function graphnote(text, cls = "note") {
  const p = document.createElement("p");
  p.className = cls;
  p.textContent = text;
  $("graph").replaceChildren(p);
}

async function drawgraph(force = false) {
  for (const tab of document.querySelectorAll("#graph-tabs button")) {
    tab.setAttribute("aria-selected", String(tab.dataset.graph === shownkind));
  }
  if (view === null || chosen === null) {
    return graphnote(view === null ? "Run a program, then choose a statement to see its graphs." : "This program has no expression statements.");
  }
  const dot = view.graphs[chosen]?.[shownkind];
  if (!dot) {
    const item = view.items.find((it) => it.kind === "statement" && it.index === chosen);
    return graphnote(
      item?.running && !run.done
        ? "The statement is being reduced; its graphs come as it goes."
        : `The interpreter wrote no ${shownkind === "normal" ? "normal-form" : shownkind} graph for this statement.`,
    );
  }
  const nodes = (dot.match(/^\s*n?\w+\s*\[/gm) ?? []).length;
  if (nodes > LargeGraph && !force) {
    graphnote(`This graph has about ${nodes} nodes. `);
    const button = document.createElement("button");
    button.textContent = "Draw it anyway";
    button.addEventListener("click", () => drawgraph(true));
    $("graph").firstChild.append(button);
    return;
  }
  const want = { chosen, shownkind, run };
  graphnote("laying out…");
  const result = await layout(dot);
  if (want.chosen !== chosen || want.shownkind !== shownkind || want.run !== run) return;
  if (result.error) return graphnote(`Graphviz could not draw this graph: ${result.error}`, "note warn");
  $("graph").innerHTML = result.svg;
  const svg = $("graph").querySelector("svg");
  if (svg) {
    // Fitted to the panel at first; a click shows it at its natural size.
    svg.classList.add("fit");
    svg.addEventListener("click", () => svg.classList.toggle("fit"));
  }
}

for (const tab of document.querySelectorAll("#graph-tabs button")) {
  tab.addEventListener("click", () => {
    shownkind = tab.dataset.graph;
    drawgraph();
  });
}

// ---- transcript views

// The raw views, as printed: filled when shown (a long run's text is
// megabytes, and most of the time neither is shown).
function drawraw() {
  if (run === null) return;
  if (!$("raw-transcript").hidden) $("raw-transcript").textContent = run.transcript;
  if (!$("raw-stderr").hidden) $("raw-stderr").textContent = run.stderr;
}

for (const tab of document.querySelectorAll("#transcript-tabs button")) {
  tab.addEventListener("click", () => {
    const which = tab.dataset.view;
    for (const t of document.querySelectorAll("#transcript-tabs button")) t.setAttribute("aria-selected", String(t === tab));
    $("transcript").hidden = which !== "statements";
    $("raw-transcript").hidden = which !== "raw";
    $("raw-stderr").hidden = which !== "stderr";
    drawraw();
  });
}

// ---- the examples

let examples = []; // { file, title } from examples/index.json

async function exampletext(file) {
  return (await fetch(`examples/${file}`)).text();
}

// The menu names the program's example, "(edited)" once it differs from
// it; a program of no example shows as shared or as the user's own.
function showexample() {
  const select = $("examples");
  const edited = kept.example !== null && kept.exampletext !== null && program() !== kept.exampletext;
  for (const option of select.options) {
    const example = examples.find((e) => e.file === option.value);
    if (example) option.textContent = option.value === kept.example && edited ? `${example.title} (edited)` : example.title;
  }
  const own = select.querySelector("option[data-own]");
  if (own === null) return; // the menu is not built yet
  if (kept.example === null) {
    own.textContent = kept.origin === "link" ? "a shared program" : "your program";
    own.hidden = false;
    select.value = "";
  } else {
    own.hidden = true;
    select.value = kept.example;
  }
  $("program-note").textContent = edited ? "· edited" : "";
}

async function loadexamples() {
  const select = $("examples");
  try {
    examples = await (await fetch("examples/index.json")).json();
  } catch {
    examples = [];
  }
  const own = new Option("your program", "");
  own.dataset.own = "";
  select.replaceChildren(own, ...examples.map((e) => new Option(e.title, e.file)));
  select.addEventListener("change", async () => {
    if (!select.value) return;
    const file = select.value;
    const text = await exampletext(file);
    kept.example = file;
    kept.exampletext = text;
    kept.origin = "";
    setprogram(text); // Ctrl-Z in the editor brings the previous text back
  });
  if (kept.example !== null && examples.some((e) => e.file === kept.example)) {
    kept.exampletext = await exampletext(kept.example);
  } else {
    kept.example = null;
  }
  showexample();
}

// ---- sharing

$("share").addEventListener("click", async () => {
  const link = `${location.origin}${location.pathname}#${linkfragment({
    program: program(),
    settings: kept.settings,
    version,
    build: Build,
  })}`;
  let copied = false;
  try {
    await navigator.clipboard.writeText(link);
    copied = true;
  } catch {
    copied = false;
  }
  notice(copied ? "Link copied to the clipboard: it opens this program with these settings." : "Copy this link: it opens this program with these settings.", link);
});

// A link opened: its program and settings replace the page's (the kept ones
// are overwritten, as they would be by typing).  The note about its version
// waits for the interpreter to say its own.
let pendinglink = null;
function openlink() {
  const link = readfragment(location.hash);
  if (link === null) return false;
  history.replaceState(null, "", location.pathname + location.search);
  if (link.error) {
    notice(`This link cannot be opened: ${link.error}.`);
    return false;
  }
  kept.example = null;
  kept.exampletext = null;
  kept.origin = "link";
  kept.settings = link.settings;
  setprogram(link.program);
  notice("Opened a shared program.");
  pendinglink = link;
  if (version !== null) linknote();
  return true;
}

function linknote() {
  if (pendinglink === null) return;
  const note = versionnote(pendinglink, version, Build);
  if (note) notice(`Opened a shared program. ${note}`);
  pendinglink = null;
}
window.addEventListener("hashchange", () => {
  if (openlink()) {
    showsettings();
    showexample();
    save();
  }
});

// ---- start

async function begin() {
  buildsettings();
  const stored = restore();
  if (stored) {
    kept.example = typeof stored.example === "string" ? stored.example : null;
    kept.origin = stored.origin === "link" ? "link" : "";
    kept.settings = normalize(stored.settings);
    setprogram(stored.program);
  }
  const linked = openlink();
  if (!stored && !linked) kept.example = "demo.lam";
  try {
    compiled = await WebAssembly.compileStreaming(fetch("kestrivo.wasm"));
    startworker();
  } catch (err) {
    setstatus(`The interpreter could not be loaded: ${err.message}`, "error");
  }
  await loadexamples();
  if (!stored && !linked && kept.exampletext !== null) setprogram(kept.exampletext);
  showsettings();
  showexample();
  save();
}

begin();
