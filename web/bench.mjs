// The page's interpreter against the console binary, statement by statement:
//   node web/bench.mjs [--runs N] [--native BINARY] [NAME ...]
//
// Each program of bench/peers (or those named) runs N times (default 5) in
// the page's own interpreter worker, in Debian's Chromium, and N times in the
// console binary, the two interleaved; each side's figure is the median of
// the time_ms that --stats gives for the program's expression statements
// (the time of the statement itself, start-up and page loading left out).
// The page's worker runs with the options the page gives it.
//
//   --native BINARY   the console binary (default build/kestrivo)
//   --dist DIR        the built page (default web/dist)
//   CHROMIUM          the browser (default /usr/bin/chromium)
import { spawn, spawnSync } from "node:child_process";
import { readFileSync, readdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

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
  // The options the page gives by default.
  const inpage = (program, lastblock) =>
    page.evaluate(
      ({ program, lastblock }) =>
        new Promise((done) => {
          const w = window.benchworker;
          const id = Math.random();
          let stderr = "";
          w.onmessage = (e) => {
            if (e.data.id !== id) return;
            for (const b of e.data.batch ?? []) if (b.err !== undefined) stderr += b.err;
            if (e.data.done) done(stderr.split("\n"));
          };
          w.postMessage({ id, program, lastblock, tokens: 1000, options: ["--warn", "--stats"] });
        }),
      { program, lastblock },
    );

  console.log(`program   page ms   console ms   ratio   (median of ${runs}, time_ms of the statements; then the fastest of each)`);
  for (const name of programs) {
    const file = join(peers, `${name}.lam`);
    const program = readFileSync(file, "utf8");
    const lastblock = Pools[name] ?? 199;
    const page = [];
    const console_ = [];
    for (let r = 0; r < runs; r++) {
      page.push(statementms(await inpage(program, lastblock)));
      const err = spawnSync(native, ["--stats", file, String(lastblock)], { stdio: ["ignore", "ignore", "pipe"] }).stderr;
      console_.push(statementms(err.toString().split("\n")));
    }
    const p = median(page);
    const c = median(console_);
    const pmin = Math.min(...page);
    const cmin = Math.min(...console_);
    console.log(
      `${name.padEnd(8)} ${p.toFixed(1).padStart(8)} ${c.toFixed(1).padStart(12)} ${(p / c).toFixed(2).padStart(7)}` +
        `   ${pmin.toFixed(1).padStart(8)} ${cmin.toFixed(1).padStart(8)} ${(pmin / cmin).toFixed(2).padStart(6)}`,
    );
  }
} finally {
  await context.close();
  server.child.kill();
  rmSync(profile, { recursive: true, force: true });
}
