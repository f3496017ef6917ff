// The playground in a real browser: Debian's Chromium, driven by
// playwright-core, opens web/dist served over loopback http and runs
// programs through the page as a person would.
//
//   KESTRIVO     the console binary whose transcript the page must match
//                (default ../build/kestrivo)
//   CHROMIUM     the browser (default /usr/bin/chromium)
//
// A missing browser or binary fails the test: this suite never skips.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, execFileSync } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync, existsSync, readFileSync, readdirSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const web = resolve(dirname(fileURLToPath(import.meta.url)), "..");
const root = resolve(web, "..");
const dist = join(web, "dist");
const kestrivo = resolve(web, process.env.KESTRIVO ?? "../build/kestrivo");
const browserpath = process.env.CHROMIUM ?? "/usr/bin/chromium";

let server = null;
let origin = null;
let context = null;
let profile = null;
let page = null;
const foreign = []; // requests that left the page's own origin
// Which opt-in options the interpreter carries out, as the page's worker
// finds them.  Where one is missing the page must say so instead.
let caps = null;

// python3's http.server on a port the system picks; its first line names it.
function serve() {
  return new Promise((resolveserve, reject) => {
    const child = spawn("python3", ["-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dist], {
      stdio: ["ignore", "pipe", "pipe"],
    });
    let seen = "";
    const timer = setTimeout(() => reject(new Error(`http.server did not start: ${seen}`)), 15000);
    child.stdout.on("data", (chunk) => {
      seen += chunk;
      const m = /port (\d+)/.exec(seen);
      if (m) {
        clearTimeout(timer);
        resolveserve({ child, port: Number(m[1]) });
      }
    });
    child.stderr.on("data", () => {}); // the request log
    child.on("exit", (code) => reject(new Error(`http.server exited with ${code}: ${seen}`)));
  });
}

before(async () => {
  assert.ok(existsSync(join(dist, "index.html")), "web/dist is missing: run make web");
  assert.ok(existsSync(browserpath), `no browser at ${browserpath}`);
  assert.ok(existsSync(kestrivo), `no console binary at ${kestrivo}`);
  const s = await serve();
  server = s.child;
  origin = `http://127.0.0.1:${s.port}`;
  profile = mkdtempSync(join(tmpdir(), "kestrivo-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: browserpath,
    headless: true,
    viewport: { width: 1500, height: 900 },
    args: [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
    ],
  });
  page = context.pages()[0] ?? (await context.newPage());
  context.on("request", (request) => {
    if (!request.url().startsWith(`${origin}/`)) foreign.push(request.url());
  });
  await page.goto(`${origin}/`);
  await page.waitForFunction(() => document.getElementById("status").textContent === "ready", null, { timeout: 60000 });
  caps = await page.evaluate(
    () =>
      new Promise((done) => {
        const w = new Worker("worker.js");
        w.onmessage = (e) => {
          w.terminate();
          done(e.data.caps);
        };
      }),
  );
});

after(async () => {
  await context?.close();
  server?.kill();
  if (profile) rmSync(profile, { recursive: true, force: true });
});

// Replaces the editor's text as a person would: select all, then type.
async function setprogram(text) {
  await page.click(".cm-content");
  await page.keyboard.press("Control+A");
  await page.keyboard.insertText(text);
  assert.equal(await page.evaluate(() => document.querySelector(".cm-content").innerText.replace(/\n*$/, "")), text.replace(/\n*$/, ""));
}

// Runs what the editor holds and waits for the run's status line.
async function run(timeout = 60000) {
  await page.click("#run");
  await page.waitForFunction(() => /exit status|ran out|stopped/.test(document.getElementById("status").textContent), null, { timeout });
  return page.textContent("#status");
}

test("the demo's transcript is the console binary's, byte for byte", async () => {
  assert.equal(await page.inputValue("#examples"), "demo.lam");
  const status = await run();
  assert.match(status, /^exit status 0/);
  const native = execFileSync(kestrivo, [join(root, "examples", "demo.lam")]).toString("utf8");
  const transcript = await page.evaluate(() => document.getElementById("raw-transcript").textContent);
  assert.equal(transcript, native);
  // Each expression is one group of its four lines.
  const groups = await page.$$eval("#transcript .statement", (cards) => cards.length);
  assert.equal(groups, native.split("\n").filter((l) => l.startsWith("newnodes = ")).length);
});

test("a statement with shared nodes draws its graph with the transcript's labels", async () => {
  // "fact 10": its expanded term shares the recursive definition's lambda.
  const card = page.locator("#transcript .statement", { hasText: "fact 10" });
  await card.click();
  await page.click("#graph-tabs button[data-graph=expanded]");
  const labels = await card.locator(".expanded .co").allTextContents();
  assert.ok(labels.length > 0, "the expanded term of fact 10 shows no sharing label");
  if (caps.dot) {
    await page.waitForSelector("#graph svg", { timeout: 60000 });
    const drawn = await page.$$eval("#graph svg g.node text", (texts) => texts.map((t) => t.textContent));
    for (const label of new Set(labels)) {
      assert.ok(drawn.some((t) => t.includes(label)), `no node of the graph is labelled ${label}`);
    }
  } else {
    assert.match(await page.textContent("#graph"), /Graphs need --dot/);
    assert.equal(await page.locator("#graph svg").count(), 0);
  }
  mkdirSync(join(web, "artifacts"), { recursive: true });
  await page.screenshot({ path: join(web, "artifacts", "playground.png") });
});

// Naive Fibonacci of 40 builds hundreds of millions of nodes in a pool that
// never fills: a run of minutes.
const Runaway = "fib = lambda n ((< n 2) n (+ (fib (- n 1)) (fib (- n 2))));\nfib 40;\n";

test("a runaway program stops at the step limit and the page still answers", async () => {
  if (!caps.maxSteps) {
    assert.equal(await page.isDisabled("#maxsteps"), true);
    assert.match(await page.getAttribute("#maxsteps-label", "title"), /has no --max-steps/);
    return;
  }
  await setprogram(`${Runaway}* 6 7;\n`);
  await page.fill("#maxsteps", "20000");
  const status = await run();
  assert.match(status, /^exit status 3/); // a statement was stopped; the run went on
  const cards = page.locator("#transcript .statement");
  assert.equal(await cards.count(), 2, "the run did not go on after the stopped statement");
  assert.equal(await cards.nth(1).locator(".normal").textContent(), "42 ");
  const partial = await cards.nth(0).locator(".normal").textContent();
  assert.match(partial, /fib|lambda|\+/);
  assert.match(await page.textContent("#stderr"), /kestrivo: 2: statement stopped after 20000 steps/);
});

test("Stop ends a run with no limit and a fresh interpreter takes the next", async () => {
  await setprogram(Runaway);
  if (caps.maxSteps) await page.fill("#maxsteps", "0");
  await page.click("#run");
  await page.waitForTimeout(1500);
  assert.equal(await page.textContent("#status"), "running…");
  // The page answers while the worker is busy.
  assert.equal(await page.evaluate(() => 6 * 7), 42);
  await page.click("#stop");
  assert.match(await page.textContent("#status"), /^stopped after/);
  await page.waitForFunction(() => /^stopped after .* · ready$/.test(document.getElementById("status").textContent));
  await setprogram("+ 1 2;\n");
  assert.match(await run(), /^exit status 0/);
  assert.equal(await page.locator("#transcript .statement .normal").textContent(), "3 ");
});

// Runs a program in the page's interpreter worker directly, without the UI.
async function runinworker(program, lastblock, tokens) {
  return page.evaluate(
    ({ program, lastblock, tokens }) =>
      new Promise((done) => {
        const w = new Worker("worker.js");
        w.onmessage = (e) => {
          if (e.data.ready === undefined) {
            w.terminate();
            done(e.data);
          } else w.postMessage({ id: 1, program, lastblock, tokens, maxSteps: 0 });
        };
      }),
    { program, lastblock, tokens },
  );
}

// The golden runner's renaming of sharing labels, line by line.
const renamed = (text) =>
  text.split("\n").map((line) => {
    const names = new Map();
    return line.replace(/co(\d+)/g, (_, n) => `co${names.get(n) ?? names.set(n, names.size + 1).get(n)}`);
  });

test("every golden program and example runs in the browser as in the console binary", async () => {
  // The browser's call stack is far smaller than the console binary's
  // thread, so a program nested deep enough may stop with the depth report
  // where the binary went on; up to that line the transcripts agree.
  let compared = 0;
  let deep = 0;
  const programs = [join(root, "tests", "golden"), join(root, "examples")].flatMap((dir) =>
    readdirSync(dir).filter((f) => f.endsWith(".lam")).sort().map((f) => [dir, f]),
  );
  for (const [golden, file] of programs) {
    const name = file.slice(0, -4);
    const argsfile = join(golden, `${name}.args`);
    const words = existsSync(argsfile) ? readFileSync(argsfile, "utf8").split(/\s+/).filter(Boolean) : ["{lam}"];
    // Options and other files are the console's business; the page gives
    // the program text and the two counts.
    if (words.some((w) => w.startsWith("-")) || (words.length > 0 && words[0] !== "{lam}")) continue;
    const [lastblock = "5", tokens = "1000"] = words.slice(1);
    const program = readFileSync(join(golden, file), "utf8");
    const want = renamed(readFileSync(join(golden, `${name}.out`), "utf8"));
    const r = await runinworker(program, Number(lastblock), Number(tokens));
    assert.equal(r.trap, null, `${name}: the browser's stack ran out`);
    const got = renamed(r.transcript);
    let i = 0;
    while (i < got.length && got[i] === want[i]) i++;
    if (i === got.length && i === want.length) {
      compared++;
      continue;
    }
    assert.match(got[i] ?? "", /^depth is overflow in /, `${name}: line ${i + 1} differs`);
    assert.deepEqual(got.slice(i + 2), ["THE END...................", ""], `${name}: the run did not end after the depth report`);
    deep++;
  }
  assert.ok(compared > 80, `only ${compared} programs compared`);
  assert.ok(deep < 10, `${deep} golden programs stopped for depth`);
});

test("no request left the page's own origin", () => {
  assert.deepEqual(foreign, []);
});
