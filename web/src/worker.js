// The interpreter's worker: it owns the WebAssembly module, runs one program
// per message and posts back what the run printed and drew.  The page can
// stop a run only by terminating this worker, so nothing here ever waits on
// the page.
//
// Message in:  { id, program, lastblock, tokens, maxSteps }
// Message out: { id, status, transcript, stderr, graphs, options, caps, trap }
//   transcript  the bytes of standard output, decoded as UTF-8
//   stderr      standard error's lines (statistics and diagnostics)
//   graphs      { "line3": { parsed, expanded, normal }, "line3.2": ... }, the
//               DOT files of --dot
//   trap        set when the module stopped abnormally (the browser's own
//               stack ran out); the transcript is then what was printed so far
//
// The module is the one the factory in kestrivo.js (built by Emscripten)
// makes; a fresh one is made after a trap.
/* global createKestrivo, importScripts */
import { readtranscript } from "./transcript.js";

importScripts("kestrivo.js");

const DotDir = "/dot";

let printed = []; // lines the C library wrote to the real standard streams during a call
let modulePromise = null;

function freshmodule() {
  modulePromise = createKestrivo({
    print: (line) => printed.push(line),
    printErr: (line) => printed.push(line),
  });
  return modulePromise;
}

// Runs the module once: the program text and the command-line words.
function call(M, program, words) {
  const text = new TextEncoder().encode(program);
  const textptr = M._malloc(text.length + 1);
  M.HEAPU8.set(text, textptr);
  const wordbytes = M.lengthBytesUTF8(words) + 1;
  const wordptr = M._malloc(wordbytes);
  M.stringToUTF8(words, wordptr, wordbytes);
  printed = [];
  let status = null;
  let trap = null;
  try {
    status = M._webrun(textptr, text.length, wordptr);
  } catch (err) {
    trap = String(err && err.message ? err.message : err);
  }
  const decode = (at, size) => (at ? new TextDecoder().decode(M.HEAPU8.slice(at, at + size)) : "");
  const transcript = decode(M._webtranscript(), M._webtranscriptsize());
  const errors = decode(M._webdiagnostics(), M._webdiagnosticssize());
  const stderr = errors === "" ? [] : errors.replace(/\n$/, "").split("\n");
  if (trap === null) {
    M._free(textptr);
    M._free(wordptr);
  }
  return { status, transcript, stderr: [...stderr, ...printed], trap };
}

// Which of the opt-in options this build of the interpreter carries out,
// found by trying them on a statement of two beta steps: --stats writes a
// line on standard error, --dot writes graph files, and --max-steps=1 leaves
// the statement short of its normal form 1.
const ProbeDir = "/probe";
let capsPromise = null;
async function capabilities() {
  if (capsPromise === null) {
    capsPromise = (async () => {
      const M = await modulePromise;
      const program = "(lambda x x) ((lambda y y) 1);\n";
      const r = call(M, program, ["--stats", `--dot=${ProbeDir}`, "--max-steps=1", "-"].join("\n"));
      // Status 2: a command line it cannot use.  (3 says a statement was
      // stopped, as --max-steps=1 should.)
      if (r.status === 2 || r.trap !== null) {
        throw new Error(`the interpreter refused its options: ${r.stderr.join(" ")}`);
      }
      const statement = readtranscript(r.transcript, program).find((it) => it.kind === "statement");
      let dots = [];
      try {
        dots = M.FS.readdir(ProbeDir).filter((name) => name.endsWith(".dot"));
      } catch {
        dots = [];
      }
      return {
        stats: r.stderr.some((line) => line.startsWith("kestrivo: stats ")),
        dot: dots.length > 0,
        maxSteps: statement !== undefined && statement.normal !== "1 ",
      };
    })();
  }
  return capsPromise;
}

function cleardots(M) {
  const FS = M.FS;
  try {
    for (const name of FS.readdir(DotDir)) {
      if (name !== "." && name !== "..") FS.unlink(`${DotDir}/${name}`);
    }
  } catch {
    FS.mkdir(DotDir);
  }
}

// The DOT files by statement: "line3-parsed.dot" gives graphs.line3.parsed.
function readdots(M) {
  const graphs = {};
  let names = [];
  try {
    names = M.FS.readdir(DotDir);
  } catch {
    return graphs;
  }
  for (const name of names) {
    const m = /^(line\d+(?:\.\d+)?)-(parsed|expanded|normal)\.dot$/.exec(name);
    if (!m) continue;
    (graphs[m[1]] ??= {})[m[2]] = M.FS.readFile(`${DotDir}/${name}`, { encoding: "utf8" });
  }
  return graphs;
}

async function run({ id, program, lastblock, tokens, maxSteps }) {
  const caps = await capabilities();
  const M = await modulePromise;
  const options = [];
  if (caps.stats) options.push("--stats");
  if (caps.dot) {
    cleardots(M);
    options.push(`--dot=${DotDir}`);
  }
  if (caps.maxSteps && maxSteps > 0) options.push(`--max-steps=${maxSteps}`);
  // "-" stands for the program text, which the module is handed directly.
  const words = [...options, "-", String(lastblock), String(tokens)].join("\n");
  const started = performance.now();
  const r = call(M, program, words);
  const elapsed = performance.now() - started;
  const graphs = caps.dot ? readdots(M) : {};
  if (r.trap !== null) {
    freshmodule();
    capsPromise = null;
  }
  return { id, ...r, graphs, options, caps, elapsed };
}

freshmodule();
capabilities().then(
  (caps) => self.postMessage({ ready: true, caps }),
  (err) => self.postMessage({ ready: false, failed: String(err) }),
);
self.onmessage = async (event) => {
  try {
    self.postMessage(await run(event.data));
  } catch (err) {
    self.postMessage({ id: event.data.id, failed: String(err && err.stack ? err.stack : err) });
  }
};
