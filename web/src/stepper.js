// The steps pane: a statement's reduction, step by step.  For the chosen
// statement the page runs the program once more in a worker of its own, with
// --frames for that statement alone (--frames-for), and gets back one frame
// for each of its first StepWindow steps: the graph after the step as DOT,
// the step's trace line, and the whole term.  The pane shows a frame at a
// time (a slider, Previous, Next, Play), the node the step rewrote
// highlighted, the rule in words, the term with the transcript's labels, and
// a link to the statement's card; moving between two frames animates the
// nodes both have from where they were to where they are.  A statement of
// more steps says how many and offers a later window (--frames-from).  The
// frames worker never holds up the page or the runs: a recording that takes
// longer than RecordLimit ends its worker.

// Frames recorded at a time: the first 200 steps of a statement, or 200 from
// the step asked for.  A frame is a few kilobytes of DOT; 200 of the demo's
// are recorded in well under a second.
export const StepWindow = 200;
// A recording that takes longer than this (ms) is given up, its worker ended.
const RecordLimit = 10000;
// The time between two frames while playing, and the animation between
// them (ms).
const PlayEvery = 900;
const Move = 450;

// The rule of a step in words, by the trace's name.
const RuleWords = {
  beta: "the body of the lambda, with its variable bound to the argument, as a delayed substitution",
  closure: "a closure applied: its body, with its variable bound to the argument in front of the closure's environment",
  "sub-nil": "a substitution with nothing left to bind: an indirection to its term",
  "sub-literal": "nothing to substitute in a number or a string: an indirection to it",
  lookup: "the variable's value in the environment: an indirection to the one shared argument node",
  compose: "a substitution into a substitution: their environments joined into one",
  "sub-name": "a defined name under a substitution: the term the name stands for takes its place",
};

export function rulewords(rule) {
  if (rule === null) return "the term before its first step";
  if (RuleWords[rule]) return `${rule}: ${RuleWords[rule]}`;
  if (rule.startsWith("sub-")) {
    const k = rule.slice(4);
    return `${rule}: the substitution pushed into ${k === "app" ? "both sides of the application" : `the operands of ${k}`}, one environment shared by both`;
  }
  return `${rule}: the operator's own rule on its reduced operands, the result written over its node`;
}

const el = (tag, cls, text) => {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
};

// ctx: { layout(dot) -> Promise<{svg}|{error}>, module() -> the compiled
// WebAssembly.Module, request() -> { id, program, lastblock, tokens, options }
// of the run shown, or null, card(index) -> the statement's card element }
export function stepspane(root, ctx) {
  const bar = el("div", "pane-bar steps-bar");
  const prev = el("button", "", "◀ Previous");
  const next = el("button", "", "Next ▶");
  const play = el("button", "", "Play");
  const slider = el("input");
  slider.type = "range";
  slider.min = "0";
  slider.value = "0";
  slider.setAttribute("aria-label", "Step");
  const where = el("span", "steps-where");
  bar.append(prev, next, play, slider, where);
  const rule = el("p", "steps-rule");
  const graph = el("div", "steps-graph");
  const term = el("div", "steps-term");
  const foot = el("div", "steps-foot");
  root.replaceChildren(bar, rule, graph, term, foot);

  let worker = null;
  let recording = null; // { key, id, timer }
  let recid = 0;
  let record = null; // { key, item, index, lines, end, from }
  let at = 0; // the frame shown
  let playing = null;
  let drawn = null; // the step whose SVG is in graph
  const svgs = new Map(); // step -> svg text

  function note(text) {
    stopplaying();
    record = null;
    for (const b of [prev, next, play, slider]) b.disabled = true;
    where.textContent = "";
    rule.textContent = "";
    term.replaceChildren();
    foot.replaceChildren();
    graph.replaceChildren(el("p", "note", text));
  }

  function startworker() {
    worker = new Worker("worker.js");
    worker.onmessage = (event) => received(event.data);
    worker.postMessage({ start: { module: ctx.module() } });
  }

  function giveup() {
    if (recording === null) return;
    clearTimeout(recording.timer);
    recording = null;
    worker.terminate();
    worker = null;
  }

  // Asks the worker for the frames of statement name from step from.
  function ask(item, index, name, from) {
    const r = ctx.request();
    const key = `${r.id}/${name}/${from}`;
    if (record?.key === key || recording?.key === key) return;
    giveup();
    if (worker === null) startworker();
    const id = ++recid;
    note(`Recording the steps of line ${item.lineno}…`);
    const timer = setTimeout(() => {
      giveup();
      note(`Recording the steps took longer than ${RecordLimit / 1000} s and was given up.`);
    }, RecordLimit);
    recording = { key, id, timer, item, index, name, from };
    worker.postMessage({
      id,
      program: r.program,
      lastblock: r.lastblock,
      tokens: r.tokens,
      options: r.options.filter((w) => w !== "--warn" && w !== "--stats").concat("--quiet-gc"),
      frames: { name, from, max: StepWindow },
    });
  }

  function received(m) {
    if (m.ready === false) return note(`The interpreter failed to start: ${m.failed}`);
    if (recording === null || m.id !== recording.id || !m.done) return;
    const r = recording;
    clearTimeout(r.timer);
    recording = null;
    const f = m.frames;
    if (!f || f.missing || f.lines.length === 0) {
      return note(m.trap ? `The run stopped before the steps could be recorded: ${m.trap}` : "The interpreter recorded no step for this statement.");
    }
    record = { key: r.key, item: r.item, index: r.index, name: r.name, from: r.from, lines: f.lines, end: f.end };
    svgs.clear();
    drawn = null;
    slider.max = String(f.lines.length - 1);
    for (const b of [prev, next, play, slider]) b.disabled = false;
    graph.replaceChildren();
    drawfoot();
    show(0);
  }

  function drawfoot() {
    foot.replaceChildren();
    const link = el("a", "steps-card", `line ${record.item.lineno}: its card in the transcript`);
    link.href = "#";
    link.addEventListener("click", (e) => {
      e.preventDefault();
      const card = ctx.card(record.index);
      if (!card) return;
      card.scrollIntoView({ block: "nearest" });
      card.classList.add("flash");
      setTimeout(() => card.classList.remove("flash"), 1200);
    });
    foot.append(link);
    const first = record.lines[0].step;
    const last = record.lines[record.lines.length - 1].step;
    const total = record.end?.steps ?? null;
    if (total !== null && (total > last || first > 0)) {
      const more = el("span", "steps-more", ` · This statement takes ${total.toLocaleString("en")} steps; these frames show steps ${first} to ${last}. From step `);
      const from = el("input");
      from.type = "number";
      from.min = "1";
      from.max = String(total);
      from.value = String(Math.min(total, last + 1));
      from.setAttribute("aria-label", "First step of the window");
      const go = el("button", "", "Show");
      go.addEventListener("click", () => {
        const k = Math.max(1, Math.min(total, Math.floor(Number(from.value) || 1)));
        ask(record.item, record.index, record.name, k);
      });
      more.append(from, " ", go);
      foot.append(more);
    } else if (total !== null) {
      foot.append(el("span", "steps-more", ` · ${total.toLocaleString("en")} steps`));
    }
  }

  function termtext(text) {
    const out = [];
    let last = 0;
    for (const m of text.matchAll(/co(\d+)/g)) {
      out.push(document.createTextNode(text.slice(last, m.index)));
      const span = el("span", "co", m[0]);
      span.dataset.co = m[0];
      out.push(span);
      last = m.index + m[0].length;
    }
    out.push(document.createTextNode(text.slice(last)));
    return out;
  }

  async function show(k) {
    if (record === null) return;
    at = Math.max(0, Math.min(record.lines.length - 1, k));
    const f = record.lines[at];
    slider.value = String(at);
    where.textContent = `step ${f.step} · ${at + 1} of ${record.lines.length}`;
    prev.disabled = at === 0;
    next.disabled = at === record.lines.length - 1;
    rule.textContent = f.step === 0 ? "Step 0: the term before its first step" : `Step ${f.step}, node co${f.node}: ${rulewords(f.rule)}`;
    rule.dataset.node = f.node ?? "";
    term.replaceChildren(...termtext(f.term));
    term.title = f.trace ?? "";
    const want = { record, at };
    let svg = svgs.get(at);
    if (svg === undefined) {
      const result = await ctx.layout(f.dot);
      if (want.record !== record) return;
      svg = result.error ? null : result.svg;
      svgs.set(want.at, svg);
      if (result.error) graph.replaceChildren(el("p", "note warn", `Graphviz could not draw this frame: ${result.error}`));
    }
    if (want.record !== record || want.at !== at || svg === null) return;
    place(svg, f);
  }

  // Puts the frame's SVG in, its rewritten node marked, and moves every node
  // the frame shown before also has from where it was.
  function place(svg, f) {
    const before = new Map();
    for (const g of graph.querySelectorAll("svg g.node")) before.set(g.querySelector("title")?.textContent, g.getBoundingClientRect());
    const animate = drawn !== null && before.size > 0 && !matchMedia("(prefers-reduced-motion: reduce)").matches;
    graph.innerHTML = svg;
    drawn = at;
    graph.dataset.shown = String(at);
    const shown = graph.querySelector("svg");
    if (!shown) return;
    shown.classList.add("fit");
    for (const g of shown.querySelectorAll("g.node")) {
      const name = g.querySelector("title")?.textContent;
      if (f.node !== null && name === `n${f.node}`) g.classList.add("rewritten");
      if (!animate) continue;
      const old = before.get(name);
      if (old === undefined) {
        g.animate([{ opacity: 0 }, { opacity: 1 }], { duration: Move, easing: "ease-out" });
        continue;
      }
      const now = g.getBoundingClientRect();
      const ctm = shown.getScreenCTM();
      const scale = ctm ? ctm.a : 1;
      const dx = (old.x + old.width / 2 - (now.x + now.width / 2)) / scale;
      const dy = (old.y + old.height / 2 - (now.y + now.height / 2)) / scale;
      if (Math.abs(dx) < 0.5 && Math.abs(dy) < 0.5) continue;
      g.animate([{ transform: `translate(${dx}px, ${dy}px)` }, { transform: "translate(0px, 0px)" }], { duration: Move, easing: "ease-in-out" });
    }
    if (animate) for (const g of shown.querySelectorAll("g.edge")) g.animate([{ opacity: 0 }, { opacity: 1 }], { duration: Move, easing: "ease-in" });
  }

  function stopplaying() {
    clearInterval(playing);
    playing = null;
    play.textContent = "Play";
  }

  prev.addEventListener("click", () => {
    stopplaying();
    show(at - 1);
  });
  next.addEventListener("click", () => {
    stopplaying();
    show(at + 1);
  });
  slider.addEventListener("input", () => {
    stopplaying();
    show(Number(slider.value));
  });
  play.addEventListener("click", () => {
    if (playing !== null) return stopplaying();
    if (record === null) return;
    if (at === record.lines.length - 1) show(0);
    play.textContent = "Pause";
    playing = setInterval(() => {
      if (record === null || at >= record.lines.length - 1) return stopplaying();
      show(at + 1);
    }, PlayEvery);
  });
  root.addEventListener("keydown", (e) => {
    if (e.target.tagName === "INPUT" && e.target.type === "number") return;
    if (e.key === "ArrowRight") next.click();
    else if (e.key === "ArrowLeft") prev.click();
  });

  note("Run a program, then choose a statement to step through its reduction.");

  return {
    // A run is under way: nothing of an earlier run is shown or recorded.
    idle() {
      giveup();
      note("The steps of a statement come when the run is over.");
    },
    // The pane is shown for item (null: none chosen) of the run's view.
    show(item, view) {
      if (item === null || view === null) {
        giveup();
        return note(view === null ? "Run a program, then choose a statement to step through its reduction." : "This program has no expression statements.");
      }
      const r = ctx.request();
      if (r === null || !r.done) return this.idle();
      const name = view.graphs[item.index]?.name;
      if (!name) return note("Only an expression statement has steps to show.");
      const from = record !== null && record.item.index === item.index && record.key.startsWith(`${r.id}/`) ? record.from : 1;
      ask(item, item.index, name, from);
    },
  };
}
