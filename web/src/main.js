// The playground page: an editor for the program, a Run button, the
// transcript with each expression statement's lines grouped, and the graphs
// of a chosen statement drawn by Graphviz.
//
// The interpreter runs in a worker (worker.js), so a long run never holds up
// the page; Stop terminates that worker and starts a fresh one.  The graphs
// are laid out in a second worker (graphworker.js).
import { EditorView, basicSetup } from "codemirror";
import { keymap } from "@codemirror/view";
import { Prec } from "@codemirror/state";
import { HighlightStyle, syntaxHighlighting } from "@codemirror/language";
import { tags } from "@lezer/highlight";

import { kestrivoLanguage } from "./lang.js";
import { readtranscript, readstats, graphsbystatement, sharinglabels } from "./transcript.js";

const $ = (id) => document.getElementById(id);

// Graphs with more nodes than this are drawn only when asked: Graphviz takes
// long over them and the picture says little.
const LargeGraph = 1500;

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
    kestrivoLanguage,
    syntaxHighlighting(highlight),
    EditorView.lineWrapping,
    EditorView.theme({ "&": { height: "100%" }, ".cm-scroller": { fontFamily: "var(--mono)" } }),
  ],
});

function setprogram(text) {
  editor.dispatch({ changes: { from: 0, to: editor.state.doc.length, insert: text } });
}

// ---- the interpreter's worker

let worker = null;
let caps = null; // what this build of the interpreter offers: { stats, dot, maxSteps }
let running = null; // { id, started } while a run is under way
let runid = 0;
let stopped = null; // how the last run was stopped, until the fresh worker is ready

function setstatus(text, kind = "") {
  $("status").textContent = text;
  $("status").title = text; // the whole of it, where the toolbar cuts it short
  $("status").className = kind;
}

function startworker() {
  worker = new Worker("worker.js");
  worker.onmessage = (event) => {
    const m = event.data;
    if (m.ready !== undefined) {
      if (!m.ready) return setstatus(`the interpreter failed to start: ${m.failed}`, "error");
      caps = m.caps;
      $("maxsteps").disabled = !caps.maxSteps;
      $("maxsteps-label").classList.toggle("unavailable", !caps.maxSteps);
      if (!caps.maxSteps) $("maxsteps-label").title = "This build of the interpreter has no --max-steps";
      $("run").disabled = false;
      if (running === null) setstatus(stopped ? `${stopped} · ready` : "ready", stopped ? "error" : "");
      stopped = null;
      return;
    }
    if (running === null || m.id !== running.id) return;
    const program = running.program;
    running = null;
    $("stop").disabled = true;
    showrun(m, program);
  };
  worker.onerror = (event) => {
    setstatus(`the interpreter's worker failed: ${event.message}`, "error");
  };
}

function runprogram() {
  if (caps === null) return;
  if (running !== null) stopprogram(false);
  const id = ++runid;
  running = { id, started: performance.now(), program: editor.state.doc.toString() };
  worker.postMessage({
    id,
    program: running.program,
    lastblock: Number($("lastblock").value) || 0,
    tokens: Number($("tokens").value) || 0,
    maxSteps: Number($("maxsteps").value) || 0,
  });
  $("stop").disabled = false;
  setstatus("running…", "busy");
}

// Terminates the worker in the middle of its run and starts a fresh one.
function stopprogram(report = true) {
  if (running === null) return;
  const seconds = ((performance.now() - running.started) / 1000).toFixed(1);
  running = null;
  worker.terminate();
  caps = null;
  $("run").disabled = true;
  $("stop").disabled = true;
  stopped = report ? `stopped after ${seconds} s` : null;
  if (report) setstatus(stopped, "error");
  startworker();
}

$("run").addEventListener("click", runprogram);
$("stop").addEventListener("click", () => stopprogram());

// ---- the transcript

let lastrun = null; // { items, graphs per statement, stats per statement }
let chosen = null; // index of the statement whose graphs are shown
let shownkind = "expanded";

// A line of terms with its sharing labels marked.
function termline(text, cls) {
  const el = document.createElement("div");
  el.className = `line ${cls}`;
  const parts = text.split(/(\bco\d+\b)/);
  for (const part of parts) {
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

function labelled(label, line) {
  const row = document.createElement("div");
  row.className = "row";
  const tag = document.createElement("span");
  tag.className = "tag";
  tag.textContent = label;
  row.append(tag, line);
  return row;
}

function statementcard(item, stats) {
  const card = document.createElement("div");
  card.className = "statement";
  card.dataset.index = item.index;
  card.tabIndex = 0;
  if (item.parsed !== null) card.append(labelled("parsed", termline(item.parsed, "parsed")));
  if (item.expanded !== null) card.append(labelled("expanded", termline(item.expanded, "expanded")));
  for (const line of item.between) {
    const gc = /^GARBAGE\.\.\. /.test(line) || line === "";
    card.append(labelled(gc ? "collector" : "", plainline(line, gc ? "gc" : "message")));
  }
  if (item.normal !== null) card.append(labelled("normal form", termline(item.normal, "normal")));
  const foot = document.createElement("div");
  foot.className = "foot";
  foot.textContent = `newnodes = ${item.newnodes}`;
  if (stats) {
    const extra = document.createElement("span");
    extra.className = "stats";
    extra.textContent = `steps ${stats.steps} · beta ${stats.beta} · ops ${stats.ops} · gcs ${stats.gcs} · ${stats.time_ms} ms`;
    foot.append(extra);
  }
  if (item.stopped) card.classList.add("stopped");
  card.append(foot);
  card.addEventListener("click", () => choose(item.index));
  card.addEventListener("keydown", (e) => {
    if (e.key === "Enter") choose(item.index);
  });
  // Hovering a sharing label shows every place the same node appears.
  // Hovering a sharing label shows every place the same node appears, in
  // the card and, when this statement's graph is drawn, in the graph.
  card.addEventListener("mouseover", (e) => {
    const co = e.target.dataset?.co;
    for (const el of card.querySelectorAll(".co")) el.classList.toggle("hot", co !== undefined && el.dataset.co === co);
    const drawn = item.index === chosen;
    for (const g of document.querySelectorAll("#graph svg g.node")) {
      const labelled = [...g.querySelectorAll("text")].some((t) => new RegExp(`\\b${co}\\b`).test(t.textContent));
      g.classList.toggle("hot", drawn && co !== undefined && labelled);
    }
  });
  card.addEventListener("mouseleave", () => {
    for (const el of document.querySelectorAll(".co.hot, #graph svg g.node.hot")) el.classList.remove("hot");
  });
  return card;
}

function showrun(m, program) {
  if (m.failed) {
    setstatus(`the run failed: ${m.failed}`, "error");
    return;
  }
  const items = readtranscript(m.transcript, program);
  const { statements: stats, total } = readstats(m.stderr);
  const graphs = m.caps.dot ? graphsbystatement(m.graphs, stats) : [];
  lastrun = { items, stats, graphs, caps: m.caps };

  $("raw-transcript").textContent = m.transcript;
  const box = $("transcript");
  box.replaceChildren();
  for (const item of items) {
    if (item.kind === "startup") for (const line of item.lines) box.append(plainline(line, "startup"));
    else if (item.kind === "echo") {
      const el = plainline(item.line, "echo");
      el.dataset.lineno = item.lineno;
      box.append(el);
    } else if (item.kind === "output") for (const line of item.lines) box.append(plainline(line, "output"));
    else box.append(statementcard(item, stats[item.index]));
  }

  const others = m.stderr.filter((line) => !/^kestrivo: (stats|total) /.test(line));
  $("stderr").textContent = m.stderr.join("\n");
  $("diagnostics").hidden = m.stderr.length === 0;
  if (others.length > 0 || m.trap) $("diagnostics").open = true;

  const count = items.filter((it) => it.kind === "statement").length;
  let text = `exit status ${m.status ?? "—"} · ${count} expression${count === 1 ? "" : "s"}`;
  if (total) text += ` · ${total.steps} steps · ${total.time_ms} ms`;
  else text += ` · ${Math.round(m.elapsed)} ms`;
  if (m.trap) {
    setstatus(`the browser's stack ran out (${m.trap}); the transcript ends where the run did`, "error");
    $("stderr").textContent += `${m.stderr.length ? "\n" : ""}stopped by the browser: ${m.trap}`;
    $("diagnostics").hidden = false;
  } else {
    if (m.status === 3) text += " · a statement was stopped (see standard error)";
    setstatus(text, m.status === 0 ? "ok" : m.status === 3 ? "busy" : "error");
  }

  // Keep the chosen statement across runs when it still exists; otherwise
  // the first one whose terms share nodes, or else the first.
  const cards = items.filter((it) => it.kind === "statement");
  if (chosen === null || chosen >= cards.length) {
    const sharing = cards.find((it) => sharinglabels(it.expanded ?? "").length > 0);
    chosen = sharing ? sharing.index : cards.length > 0 ? 0 : null;
  }
  choose(chosen);
}

// ---- the graphs

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

function note(text, cls = "note") {
  const p = document.createElement("p");
  p.className = cls;
  p.textContent = text;
  $("graph").replaceChildren(p);
}

function choose(index) {
  chosen = index;
  for (const card of document.querySelectorAll("#transcript .statement")) {
    card.classList.toggle("chosen", Number(card.dataset.index) === index);
  }
  drawgraph();
}

async function drawgraph(force = false) {
  for (const tab of document.querySelectorAll("#graph-tabs button")) {
    tab.setAttribute("aria-selected", String(tab.dataset.graph === shownkind));
  }
  if (lastrun === null || chosen === null) {
    $("graph-title").textContent = "";
    return note(lastrun === null ? "Run a program, then choose a statement to see its graphs." : "This program has no expression statements.");
  }
  const item = lastrun.items.find((it) => it.kind === "statement" && it.index === chosen);
  const line = lastrun.stats[chosen]?.line ?? item?.lineno;
  $("graph-title").textContent = line ? `· line ${line}` : "";
  if (!lastrun.caps.dot) {
    return note("Graphs need --dot: this build of the interpreter does not write graph files, so there is nothing to draw.", "note warn");
  }
  const set = lastrun.graphs[chosen];
  const dot = set?.[shownkind];
  if (!dot) return note(`The interpreter wrote no ${shownkind} graph for this statement.`);
  const nodes = (dot.match(/^\s*n?\w+\s*\[/gm) ?? []).length;
  if (nodes > LargeGraph && !force) {
    note(`This graph has about ${nodes} nodes. `);
    const button = document.createElement("button");
    button.textContent = "Draw it anyway";
    button.addEventListener("click", () => drawgraph(true));
    $("graph").firstChild.append(button);
    return;
  }
  const want = { chosen, shownkind };
  note("laying out…");
  const result = await layout(dot);
  if (want.chosen !== chosen || want.shownkind !== shownkind) return;
  if (result.error) return note(`Graphviz could not draw this graph: ${result.error}`, "note warn");
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

for (const tab of document.querySelectorAll("#transcript-panel .tabs button")) {
  tab.addEventListener("click", () => {
    const view = tab.dataset.view;
    for (const t of document.querySelectorAll("#transcript-panel .tabs button")) {
      t.setAttribute("aria-selected", String(t === tab));
    }
    $("transcript").hidden = view !== "statements";
    $("raw-transcript").hidden = view !== "raw";
  });
}

// ---- the examples

async function loadexamples() {
  const select = $("examples");
  try {
    const response = await fetch("examples/index.json");
    const list = await response.json();
    select.replaceChildren();
    const blank = new Option("choose…", "");
    select.append(blank);
    for (const example of list) select.append(new Option(example.title, example.file));
    select.addEventListener("change", async () => {
      if (!select.value) return;
      setprogram(await (await fetch(`examples/${select.value}`)).text());
    });
    if (list.some((e) => e.file === "demo.lam")) {
      select.value = "demo.lam";
      setprogram(await (await fetch("examples/demo.lam")).text());
    }
  } catch (err) {
    select.replaceChildren(new Option("no examples", ""));
  }
}

startworker();
loadexamples();
