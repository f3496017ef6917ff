// The interpreter's worker: it owns an instance of the WebAssembly module,
// runs one program per message and posts back what the run writes as it
// writes it.  The page stops a run only by ending this worker, so nothing
// here ever waits on the page, and everything a run printed before that is
// on the page already.
//
// Messages in:
//   { start: { module } }   first: the compiled module the page shares with
//                           every worker it starts (optimized code and all),
//                           or none, to compile kestrivo.wasm here
//   { id, program, lastblock, tokens, options }
//                           a run: options are the command line's options,
//                           the counts its positional words
//   { id, program, lastblock, tokens, options, frames: { name, from, max } }
//                           a run for the frames of the statement name
//                           (--frames-for): max steps from step from; its
//                           transcript is not posted, no --dot is drawn
// Messages out:
//   { ready: true, version }  or  { ready: false, failed }
//   { id, started: true }   the run begins (the page's time limit counts from here)
//   { id, batch }           what the run wrote since the last batch, in order,
//                           each entry one of
//     { out: text }         transcript text, whole lines as written
//     { err: text }         standard error, likewise
//     { picture: { name, stage, dot } }  a graph file of --dot, as written
//   { id, done: true, status, endingstop, trap, elapsed, frames }
//     status    the exit status (null after a trap)
//     endingstop the stop that ended the run, when one did: 0 the pool
//               exhausted, 1 nesting too deep, 2 a statement that cannot be
//               read; -1 otherwise
//     trap      set when the module stopped abnormally (the browser's own
//               stack ran out); the run then ends where it was
//     frames    for a frames run: { lines, end }, lines the JSON Lines
//               file's frames, each with its DOT text as dot, end its end
//               line (null when the statement never ended: a trap)
//
// The module's factory is createKestrivo, from Emscripten's kestrivo.js.
/* global createKestrivo, importScripts */
importScripts("kestrivo.js");

const DotDir = "/dot";
const FramesDir = "/frames";

// Once the module is ready, a statement that exercises the reducer, the
// collector and the printer, so that the browser has optimized their code
// before the first run a person makes (it starts with quickly made code and
// optimizes what runs often).  The module is shared, so the optimized code
// serves every later worker too.
const WarmUp = "fib = lambda n ((< n 2) n (+ (fib (- n 1)) (fib (- n 2))));\nfib 17;\n";

// A message between two threads costs some 50 to 100 microseconds, and
// decoding text a few microseconds a call, more than a statement of a short
// program takes.  So what a run writes is kept as bytes and posted in
// batches, decoded a stream's run of writes at a time: at once when nothing
// was posted for PostEvery (a line after a pause), else with the first write
// or look from the reducer (onpoll, every few thousand steps) after that,
// and at the end of the run.  What the page has of a run it stops is then
// all but the last PostEvery of it.
const PostEvery = 25; // milliseconds

let compiled = null; // the WebAssembly.Module
let M = null; // the instance runs are made in
let current = null; // the id of the run under way: its writes are posted
const decoders = { 1: null, 2: null };
let bytes = new Uint8Array(1 << 16); // what the streams wrote since the last post
let used = 0; // bytes of it in use
let writes = []; // { stream, end } for each run of one stream's writes in bytes,
// or { picture } for a graph file, in the order written
let posted = 0; // when the last batch went

function flush() {
  if (current !== null && writes.length > 0) {
    const batch = [];
    let start = 0;
    for (const w of writes) {
      if (w.picture) {
        batch.push(w);
        continue;
      }
      const text = decoders[w.stream].decode(bytes.subarray(start, w.end), { stream: true });
      start = w.end;
      if (text !== "") batch.push(w.stream === 1 ? { out: text } : { err: text });
    }
    self.postMessage({ id: current, batch });
  }
  writes = [];
  used = 0;
  posted = performance.now();
}

// Each write of the run is whole lines (the streams are line-buffered), but
// a long line comes in pieces: the decoder keeps a character split between
// two pieces.
let captured = ""; // the transcript of a run of the worker's own
function onwrite(stream, written) {
  if (current === null) {
    if (stream === 1) captured += decoders[1].decode(written, { stream: true });
    return;
  }
  if (used + written.length > bytes.length) {
    const more = new Uint8Array(Math.max(bytes.length * 2, used + written.length));
    more.set(bytes.subarray(0, used));
    bytes = more;
  }
  bytes.set(written, used);
  used += written.length;
  const last = writes[writes.length - 1];
  if (last !== undefined && last.stream === stream) last.end = used;
  else writes.push({ stream, end: used });
  if (performance.now() - posted >= PostEvery) flush();
}

// A graph file, posted and removed as soon as the interpreter closes it, so
// that a run stopped later still has the graphs of what it did.
function onclose(path) {
  const m = /^\/dot\/(line\d+(?:\.\d+)?)-(parsed|expanded|normal)\.dot$/.exec(path);
  if (!m) return;
  const dot = M.FS.readFile(path, { encoding: "utf8" });
  M.FS.unlink(path);
  if (current === null) return;
  writes.push({ picture: { name: m[1], stage: m[2], dot } });
  if (performance.now() - posted >= PostEvery) flush();
}

// The reducer's look, every few thousand steps. Past the run's deadline the
// worker posts what it has and then says so: the page ends the worker on
// that word, and so has every line written before the limit (a timer of the
// page's own could fire before the lines already posted were read).
let deadline = Infinity; // performance.now() at which the page's time limit ends the run
function onpoll() {
  const now = performance.now();
  if (now >= deadline) {
    deadline = Infinity;
    flush();
    self.postMessage({ id: current, timeup: true });
    return;
  }
  if (writes.length > 0 && now - posted >= PostEvery) flush();
}

async function instantiate() {
  M = await createKestrivo({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled));
      return {};
    },
    onwrite,
    onpoll,
    // The C library's own standard streams: nothing of a run goes there.
    print: (line) => onwrite(2, new TextEncoder().encode(`${line}\n`)),
    printErr: (line) => onwrite(2, new TextEncoder().encode(`${line}\n`)),
  });
  // A file the interpreter wrote (opened for writing: reading it back
  // closes it too) is picked up as it is closed.
  const close = M.FS.close;
  M.FS.close = (stream) => {
    const r = close(stream);
    const written = (stream.flags & 3) !== 0; // O_WRONLY or O_RDWR
    if (written && stream.path && stream.path.startsWith(`${DotDir}/`)) onclose(stream.path);
    return r;
  };
  for (const dir of [DotDir, FramesDir]) {
    try {
      M.FS.mkdir(dir);
    } catch {
      // there already
    }
  }
}

function emptydir(dir) {
  for (const name of M.FS.readdir(dir)) if (name !== "." && name !== "..") M.FS.unlink(`${dir}/${name}`);
}

// The frames a run wrote for the statement name: every frame line of its
// JSON Lines file with the DOT text of its file, and the end line.
function readframes(name) {
  const path = `${FramesDir}/${name}-steps.jsonl`;
  let text = "";
  try {
    text = M.FS.readFile(path, { encoding: "utf8" });
  } catch {
    return { lines: [], end: null, missing: true };
  }
  const lines = [];
  let end = null;
  for (const line of text.split("\n")) {
    if (line === "") continue;
    const record = JSON.parse(line);
    if (record.end) {
      end = record;
      continue;
    }
    record.dot = M.FS.readFile(`${FramesDir}/${record.file}`, { encoding: "utf8" });
    lines.push(record);
  }
  emptydir(FramesDir);
  return { lines, end, missing: false };
}

// Runs the module once: the program text and the command-line words.
// Returns { status, trap, captured }, captured the transcript of a run made
// while no run of the page's is current.
function call(program, words) {
  const text = new TextEncoder().encode(program);
  const textptr = M._malloc(text.length + 1);
  M.HEAPU8.set(text, textptr);
  const wordbytes = M.lengthBytesUTF8(words) + 1;
  const wordptr = M._malloc(wordbytes);
  M.stringToUTF8(words, wordptr, wordbytes);
  decoders[1] = new TextDecoder();
  decoders[2] = new TextDecoder();
  captured = "";
  try {
    const status = M._webrun(textptr, text.length, wordptr);
    M._free(textptr);
    M._free(wordptr);
    return { status, trap: null, captured };
  } catch (err) {
    return { status: null, trap: String(err && err.message ? err.message : err), captured };
  }
}

// The version the module reports ("kestrivo VERSION" on the transcript of
// --version), then the warm-up; neither run is posted.
function start() {
  const r = call("", "--version");
  const said = r.captured;
  const m = /^kestrivo (\S+)/.exec(said);
  if (!m) throw new Error(`the interpreter did not say its version: ${JSON.stringify(said)}`);
  call(WarmUp, ["--quiet-gc", "-", "1", "1000"].join("\n"));
  return m[1];
}

async function run({ id, program, lastblock, tokens, options, frames, timelimit }) {
  if (M === null) await instantiate();
  emptydir(DotDir);
  emptydir(FramesDir);
  // "-" stands for the program text, which the module is handed directly.
  const drawing = frames
    ? [`--frames=${FramesDir}`, `--frames-for=${frames.name}`, `--frames-from=${frames.from}`, `--frames-max=${frames.max}`]
    : [`--dot=${DotDir}`];
  const words = [...options, ...drawing, "-", String(lastblock), String(tokens)].join("\n");
  current = frames ? null : id;
  self.postMessage({ id, started: true });
  posted = performance.now();
  const started = posted;
  deadline = !frames && timelimit > 0 ? started + timelimit * 1000 : Infinity;
  const r = call(program, words);
  deadline = Infinity;
  const elapsed = performance.now() - started;
  const endingstop = r.trap === null ? M._webendingstop() : -1;
  flush();
  const made = frames ? readframes(frames.name) : undefined;
  self.postMessage({ id, done: true, status: r.status, endingstop, trap: r.trap, elapsed, frames: made });
  current = null;
  // A trap leaves the instance's stack and streams as they were: the next
  // run takes a fresh instance of the same module.
  if (r.trap !== null) M = null;
}

let queue = Promise.resolve();
self.onmessage = (event) => {
  const m = event.data;
  if (m.start !== undefined) {
    queue = queue.then(async () => {
      try {
        compiled = m.start.module ?? (await WebAssembly.compileStreaming(fetch("kestrivo.wasm")));
        await instantiate();
        self.postMessage({ ready: true, version: start() });
      } catch (err) {
        self.postMessage({ ready: false, failed: String(err && err.message ? err.message : err) });
      }
    });
    return;
  }
  queue = queue.then(() =>
    run(m).catch((err) => {
      flush();
      current = null;
      self.postMessage({ id: m.id, done: true, status: null, endingstop: -1, trap: null, failed: String(err && err.stack ? err.stack : err) });
    }),
  );
};
