// The page's interpreter against the console binary, statement by statement:
//   node web/bench.mjs [--runs N] [--native BINARY] [NAME ...]
//
// Each program of bench/peers (or those named) runs N times (default 5) in
// the page's own interpreter worker, in Debian's Chromium, and N times in the
// console binary, the two interleaved, both with the options the page gives
// by default (settings.js).  Two figures for each side, each the median of
// the N runs, and the median of the N paired ratios page / console:
//   time_ms   the sum of what --stats gives for the program's expression
//             statements: the time of the statements themselves, start-up
//             and page loading left out.  It is time by the clock, and on
//             a machine shared with other work it counts their time too.
//   cpu ms    the processor time of the whole run: for the page, of the
//             worker's thread (its schedstat, from /proc), the transcript's
//             posting and the graph files included; for the console, of its
//             process (wait4's account of the child), start-up and the
//             first touch of the pool's pages included.  Other work on the
//             machine moves it far less than the clock, so it is the
//             steadier of the two.
// The page's transcript must be the console's, byte for byte: a program
// whose transcripts differ (one the browser's smaller stack stops with the
// depth report) is named and not compared.
//
//   --native BINARY   the console binary (default build/kestrivo)
//   --dist DIR        the built page (default web/dist)
//   CHROMIUM          the browser (default /usr/bin/chromium)
//   BENCH_WORDS       other options for both sides, in place of the page's
//                     defaults (e.g. "--warn --stats --profile")
//   BENCH_RAW         set: each program's runs, every figure, as JSON
import { spawn, spawnSync } from "node:child_process";
import { readFileSync, readdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

import { options, counts, normalize } from "./src/settings.js";

const web = dirname(fileURLToPath(import.meta.url));
const root = resolve(web, "..");
const args = process.argv.slice(2);
let runs = 5;
let native = join(root, "build", "kestrivo");
let dist = join(web, "dist");
const names = [];
for (let i = 0; i < args.length; i++) {
  if (args[i] === "--runs") runs = Number(args[++i]);
  else if (args[i] === "--native") native = resolve(args[++i]);
  else if (args[i] === "--dist") dist = resolve(args[++i]);
  else names.push(args[i]);
}
const peers = join(root, "bench", "peers");
const programs = (names.length ? names : readdirSync(peers).filter((f) => f.endsWith(".lam")).map((f) => f.slice(0, -4))).sort();
// The pool each program is compared in (bench/README.md's table).
const Pools = { live: 10, church: 99 };

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const statementms = (lines) =>
  lines.filter((l) => l.startsWith("kestrivo: stats ")).reduce((sum, l) => sum + Number(/time_ms=([\d.]+)/.exec(l)[1]), 0);

function serve() {
  return new Promise((done, fail) => {
    const child = spawn("python3", ["-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dist], {
      stdio: ["ignore", "pipe", "ignore"],
    });
    let seen = "";
    child.stdout.on("data", (chunk) => {
      seen += chunk;
      const m = /port (\d+)/.exec(seen);
      if (m) done({ child, port: Number(m[1]) });
    });
    child.on("exit", (code) => fail(new Error(`http.server exited with ${code}`)));
  });
}

// The threads of the dedicated workers of the browser started with this
// profile ("pid/task/tid" under /proc): the processes descended from the
// one whose command line names the profile.  Other browsers on the machine
// (another test run) are left out; in this one only the bench's own worker
// is at work while a program runs.
function workerthreads(profile) {
  const pids = readdirSync("/proc").filter((d) => /^\d+$/.test(d));
  const parent = new Map();
  let browser = null;
  for (const pid of pids) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, "utf8");
      parent.set(pid, stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]);
      const cmdline = readFileSync(`/proc/${pid}/cmdline`, "utf8").split("\0");
      if (cmdline.includes(`--user-data-dir=${profile}`) && !cmdline.some((w) => w.startsWith("--type="))) browser = pid;
    } catch {
      // gone
    }
  }
  const ours = (pid) => {
    for (let p = pid; p !== undefined && p !== "0" && p !== "1"; p = parent.get(p)) if (p === browser) return true;
    return false;
  };
  const found = [];
  for (const pid of pids.filter(ours)) {
    try {
      for (const tid of readdirSync(`/proc/${pid}/task`)) {
        if (readFileSync(`/proc/${pid}/task/${tid}/comm`, "utf8").startsWith("DedicatedWorker")) found.push(`${pid}/task/${tid}`);
      }
    } catch {
      // gone
    }
  }
  if (found.length === 0) throw new Error("no worker thread of the browser's found in /proc");
  return found;
}

// Nanoseconds the threads have run on a processor (the first figure of
// schedstat).
const cputime = (threads) => threads.reduce((sum, t) => sum + Number(readFileSync(`/proc/${t}/schedstat`, "utf8").split(" ")[0]), 0);

// A run of the console binary: its transcript, standard error and processor
// time in ms (Python's wait4 of the child: Node gives none; spawned, not
// forked, so that the copy of a forked Python is not counted as the child's).
const Rusage = `import os, sys, tempfile
out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
pid = os.posix_spawn(sys.argv[1], sys.argv[1:], os.environ,
    file_actions=[(os.POSIX_SPAWN_DUP2, out.fileno(), 1), (os.POSIX_SPAWN_DUP2, err.fileno(), 2)])
u = os.wait4(pid, 0)[2]
out.seek(0)
err.seek(0)
sys.stdout.buffer.write(("%.3f\\n" % ((u.ru_utime + u.ru_stime) * 1000)).encode() + out.read())
sys.stderr.buffer.write(err.read())`;
function nativerun(file, lastblock, tokens, words) {
  const r = spawnSync("python3", ["-c", Rusage, native, ...words, file, String(lastblock), String(tokens)], { encoding: "utf8" });
  const nl = r.stdout.indexOf("\n");
  return { cpu: Number(r.stdout.slice(0, nl)), stdout: r.stdout.slice(nl + 1), stderr: r.stderr };
}

const server = await serve();
const profile = mkdtempSync(join(tmpdir(), "kestrivo-bench-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking"],
});
try {
  const page = context.pages()[0] ?? (await context.newPage());
  await page.goto(`http://127.0.0.1:${server.port}/`);
  // One worker for all the runs, as the page keeps one.
  await page.evaluate(
    () =>
      new Promise((ready) => {
        const w = new Worker("worker.js");
        window.benchworker = w;
        w.onmessage = (e) => {
          if (e.data.ready !== undefined) ready();
        };
        w.postMessage({ start: {} });
      }),
  );
  // The options and the token count the page gives by default; the pool is
  // the program's own.
  const settings = normalize(null);
  const words = process.env.BENCH_WORDS ? process.env.BENCH_WORDS.split(" ") : options(settings);
  const tokens = counts(settings)[1];
  const inpage = (program, lastblock) =>
    page.evaluate(
      ({ program, lastblock, tokens, words }) =>
        new Promise((done) => {
          const w = window.benchworker;
          const id = Math.random();
          let stdout = "";
          let stderr = "";
          w.onmessage = (e) => {
            if (e.data.id !== id) return;
            for (const b of e.data.batch ?? []) {
              if (b.out !== undefined) stdout += b.out;
              if (b.err !== undefined) stderr += b.err;
            }
            if (e.data.done) done({ stdout, stderr });
          };
          w.postMessage({ id, program, lastblock, tokens, options: words });
        }),
      { program, lastblock, tokens, words },
    );
  const workers = workerthreads(profile);

  console.log(`program   time_ms: page  console  ratio   cpu ms: page  console  ratio   (medians of ${runs})`);
  for (const name of programs) {
    const file = join(peers, `${name}.lam`);
    const program = readFileSync(file, "utf8");
    const lastblock = Pools[name] ?? 199;
    const page_ = { ms: [], cpu: [] };
    const console_ = { ms: [], cpu: [] };
    let differs = null;
    for (let r = 0; r < runs; r++) {
      const before = cputime(workers);
      const p = await inpage(program, lastblock);
      page_.cpu.push((cputime(workers) - before) / 1e6);
      page_.ms.push(statementms(p.stderr.split("\n")));
      const c = nativerun(file, lastblock, tokens, words);
      console_.cpu.push(c.cpu);
      console_.ms.push(statementms(c.stderr.split("\n")));
      if (p.stdout !== c.stdout) {
        differs = p.stdout;
        break;
      }
    }
    if (differs !== null) {
      // The browser's call stack is smaller than the console's thread: a
      // program nested deep enough stops with the depth report there.
      const said = differs.split("\n").find((l) => /overflow|stop/i.test(l)) ?? "another transcript";
      console.log(`${name.padEnd(8)}  not compared: the page's run says "${said}", the console's does not`);
      continue;
    }
    // The ratio is the median of the runs' own ratios, each page run over
    // the console run just after it: a pair runs within a second, so a
    // change in the machine's load moves both of its figures alike.
    const row = (a, b) => {
      const ratio = median(a.map((x, k) => x / b[k]));
      return `${median(a).toFixed(1).padStart(8)} ${median(b).toFixed(1).padStart(8)} ${ratio.toFixed(2).padStart(6)}`;
    };
    if (process.env.BENCH_RAW) console.log(JSON.stringify({ page: page_, console: console_ }));
    console.log(`${name.padEnd(8)}  ${row(page_.ms, console_.ms)}       ${row(page_.cpu, console_.cpu)}`);
  }
} finally {
  await context.close();
  server.child.kill();
  rmSync(profile, { recursive: true, force: true });
}
