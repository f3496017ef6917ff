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
import { spawn, spawnSync } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync, existsSync, readFileSync, readdirSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

import { linkfragment } from "../src/share.js";
import { defaults } from "../src/settings.js";

const web = resolve(dirname(fileURLToPath(import.meta.url)), "..");
const root = resolve(web, "..");
const dist = join(web, "dist");
const kestrivo = resolve(web, process.env.KESTRIVO ?? "../build/kestrivo");
const browserpath = process.env.CHROMIUM ?? "/usr/bin/chromium";

let server = null;
let origin = null;
const contexts = []; // every browser context opened, each with its own profile
let page = null; // the page most tests use
const foreign = []; // requests that left the page's own origin

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

// A browser with a fresh profile (empty local storage) and one page at url,
// the interpreter ready.
async function openpage(url, viewport = { width: 1500, height: 900 }, flags = []) {
  const profile = mkdtempSync(join(tmpdir(), "kestrivo-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: browserpath,
    headless: true,
    viewport,
    args: [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync", ...flags,
    ],
  });
  contexts.push({ context, profile });
  await context.grantPermissions(["clipboard-read", "clipboard-write"], { origin });
  context.on("request", (request) => {
    if (!request.url().startsWith(`${origin}/`)) foreign.push(request.url());
  });
  const p = context.pages()[0] ?? (await context.newPage());
  await p.goto(url);
  await ready(p);
  return p;
}

function ready(p = page) {
  return p.waitForFunction(() => !document.getElementById("run").disabled, null, { timeout: 60000 });
}

before(async () => {
  assert.ok(existsSync(join(dist, "index.html")), "web/dist is missing: run make web");
  assert.ok(existsSync(browserpath), `no browser at ${browserpath}`);
  assert.ok(existsSync(kestrivo), `no console binary at ${kestrivo}`);
  const s = await serve();
  server = s.child;
  origin = `http://127.0.0.1:${s.port}`;
  page = await openpage(`${origin}/`);
});

after(async () => {
  for (const { context, profile } of contexts) {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  }
  server?.kill();
});

// Replaces the editor's text as a person would: select all, then type.
async function setprogram(text, p = page) {
  await p.click(".cm-content");
  await p.keyboard.press("Control+A");
  await p.keyboard.insertText(text);
  assert.equal(await editortext(p), text.replace(/\n*$/, ""));
}

function editortext(p = page) {
  return p.evaluate(() => document.querySelector(".cm-content").innerText.replace(/\n*$/, ""));
}

// Sets the settings named, through the settings panel.
async function setsettings(values, p = page) {
  await p.click("#settings-button");
  for (const [name, value] of Object.entries(values)) {
    if (typeof value === "boolean") await p.setChecked(`#setting-${name}`, value);
    else await p.fill(`#setting-${name}`, String(value));
  }
  await p.click("#settings-button");
}

// Runs what the editor holds and waits for the end: { text, tone } of the
// status line.
async function run(p = page, timeout = 60000) {
  await ready(p);
  await p.click("#run");
  await p.waitForFunction(() => !/busy/.test(document.getElementById("status").className), null, { timeout });
  return status(p);
}

async function status(p = page) {
  return { text: await p.textContent("#status"), tone: await p.getAttribute("#status", "class") };
}

// The transcript as the Raw tab shows it.
async function rawtranscript(p = page) {
  await p.click("#transcript-tabs button[data-view=raw]");
  const text = await p.evaluate(() => document.getElementById("raw-transcript").textContent);
  await p.click("#transcript-tabs button[data-view=statements]");
  return text;
}

// The console binary's transcript of a program with the page's options.
function consolerun(program, words, counts) {
  const dir = mkdtempSync(join(tmpdir(), "kestrivo-prog-"));
  const file = join(dir, "prog.lam");
  writeFileSync(file, program);
  const r = spawnSync(kestrivo, [...words, file, ...counts], { encoding: "utf8" });
  rmSync(dir, { recursive: true, force: true });
  return r;
}

function console_(program, words = ["--warn", "--stats"], counts = ["5", "1000"]) {
  return consolerun(program, words, counts).stdout;
}

// What the console binary writes on standard error for program.
function consolestderr(program, words, counts = ["5", "1000"]) {
  return consolerun(program, words, counts).stderr;
}

const Fib = "fib = lambda n ((< n 2) n (+ (fib (- n 1)) (fib (- n 2))));\n";

test("the demo's transcript is the console binary's, byte for byte", async () => {
  assert.equal(await page.inputValue("#examples"), "demo.lam");
  const { text, tone } = await run();
  assert.equal(tone, "ok");
  assert.match(text, /^Finished: 11 expressions in [\d.,]+ ms\.$/);
  const native = spawnSync(kestrivo, [join(root, "examples", "demo.lam")], { encoding: "utf8" }).stdout;
  assert.equal(await rawtranscript(), native);
  // Each expression is one card of its lines.
  const cards = await page.$$eval("#transcript .statement", (c) => c.length);
  assert.equal(cards, native.split("\n").filter((l) => l.startsWith("newnodes = ")).length);
});

test("a statement with shared nodes draws its graph with the transcript's labels", async () => {
  // "fact 10": its expanded term shares the recursive definition's lambda.
  const card = page.locator("#transcript .statement", { hasText: "fact 10" });
  await card.click();
  await page.click("#graph-tabs button[data-graph=expanded]");
  const labels = await card.locator(".expanded .co").allTextContents();
  assert.ok(labels.length > 0, "the expanded term of fact 10 shows no sharing label");
  await page.waitForSelector("#graph svg", { timeout: 60000 });
  const drawn = await page.$$eval("#graph svg g.node text", (texts) => texts.map((t) => t.textContent));
  for (const label of new Set(labels)) {
    assert.ok(drawn.some((t) => t.includes(label)), `no node of the graph is labelled ${label}`);
  }
  assert.match(await page.textContent("#statement-title"), /line 14/);
  mkdirSync(join(web, "artifacts"), { recursive: true });
  await page.screenshot({ path: join(web, "artifacts", "playground.png") });
});

// The rows of the console binary's --profile table for the statement on
// line, as [centre, entries, steps, beta, ops, newnodes] ("total" last).
function consoleprofile(program, line) {
  const dir = mkdtempSync(join(tmpdir(), "kestrivo-prog-"));
  const file = join(dir, "prog.lam");
  writeFileSync(file, program);
  const r = spawnSync(kestrivo, ["--profile", file], { encoding: "utf8" });
  rmSync(dir, { recursive: true, force: true });
  const lines = r.stderr.split("\n");
  const rows = [];
  for (let i = lines.indexOf(`kestrivo: profile line=${line}`) + 2; i > 1 && i < lines.length; i++) {
    const m = /^kestrivo: {3}(.+?) +(\d+) +(\d+) +\S+ +(\d+) +\S+ +(\d+) +\S+ +(\d+) +\S+$/.exec(lines[i]);
    if (!m) break;
    rows.push([m[1] === "(total)" ? "total" : m[1], ...m.slice(2).map(Number)]);
  }
  return rows;
}

test("the Profile tab shows where the chosen statement's steps went, as the console counts them", async () => {
  const program =
    "square = lambda x (* x x);\ninc = lambda n (+ n 1);\nsumsq = lambda a b (+ (square a) (square b));\n" +
    "sumsq (inc 2) 4;\n+ (inc 1) (* 2 3);\n";
  // Made without the profile (the default), the tab offers to run again
  // with it, and the same statement stays chosen.
  await setsettings(defaults());
  await setprogram(program);
  assert.equal((await run()).tone, "ok");
  await page.locator("#transcript .statement").nth(0).click();
  await page.click("#statement-tabs button[data-pane=profile]");
  assert.match(await page.textContent("#profile"), /made without the profile/);
  await page.click("#profile-again");
  await page.waitForFunction(() => document.getElementById("status").className === "ok" && document.querySelector("#profile table.profile") !== null);
  assert.equal(await page.isChecked("#setting-profile"), true);
  const table = async (n) =>
    page.$$eval(`#profile table.profile:nth-of-type(${n}) tbody tr`, (trs) =>
      trs.map((tr) => [...tr.cells].map((td, k) => (k === 0 ? td.textContent : Number(td.firstChild.textContent.replace(/,/g, ""))))),
    );
  const want = consoleprofile(program, 4);
  assert.equal(want.length, 4, JSON.stringify(want));
  assert.deepEqual(await table(1), want);
  assert.match(await page.textContent("#profile table.profile caption"), /Line 4/);
  // The whole run beneath: both statements' costs, inc's from each.
  const whole = await table(2);
  assert.deepEqual(whole[0].slice(0, 3), ["inc", 2, 10]);
  assert.deepEqual(whole[whole.length - 1].slice(0, 3), ["total", 5, 28]);
  // Another statement chosen, its own table: the statement's own "+" and "*".
  await page.locator("#transcript .statement").nth(1).click();
  assert.deepEqual(await table(1), consoleprofile(program, 5));
  await setsettings(defaults());
  await page.click("#statement-tabs button[data-pane=graph]");
});

test("a misspelled name is marked at its line and column, in the editor and in its card", async () => {
  await setprogram("square = lambda x (* x x);\nsquare 3;\n  squre 4;\n");
  const { text, tone } = await run();
  assert.equal(tone, "ok");
  assert.match(text, /1 warning, marked in the editor/);
  // The mark covers the word, on the third line, from its third column.
  const marks = await page.$$eval(".cm-lintRange-warning", (spans) =>
    spans.map((s) => {
      const line = s.closest(".cm-line");
      const lines = [...document.querySelectorAll(".cm-content .cm-line")];
      const range = document.createRange();
      range.setStart(line, 0);
      range.setEnd(s, 0);
      return { text: s.textContent, line: lines.indexOf(line) + 1, column: range.toString().length + 1 };
    }),
  );
  assert.deepEqual(marks, [{ text: "squre", line: 3, column: 3 }]);
  const card = page.locator("#transcript .statement").nth(1);
  assert.match(await card.locator(".warning").textContent(), /^line 3:3: 'squre' is neither defined nor bound by a lambda/);
  assert.equal(await page.locator("#transcript .statement").nth(0).locator(".warning").count(), 0);
});

// Each way a run ends: the program, the settings, the tone and the status
// sentence, and what the card of the statement that stopped says.
const Endings = [
  { name: "finished", program: "+ 1 2;\n", tone: "ok", status: /^Finished: 1 expression in [\d.,]+ ms\.$/ },
  {
    name: "finished with a statement stopped at the step limit",
    program: `${Fib}fib 40;\n* 6 7;\n`,
    settings: { maxsteps: 20000 },
    tone: "warn",
    status: /^Finished, but 1 statement stopped at the step limit \(line 2\)\.$/,
    card: /^Stopped at the step limit, after 20,000 steps: .*normal; after it/,
  },
  {
    name: "ended by the pool's exhaustion",
    program: "ones = lambda n (cons n (ones n));\nlen = lambda l ((com l) (+ 1 (len (cdr l))) 0);\nlen (ones 1);\n+ 1 2;\n",
    settings: { blocks: 2 },
    tone: "error",
    status: /^Ended early at line 3: the pool ran out: all 2,002 nodes were in use .* bigger pool in Settings \(now 2 blocks\)\.$/,
    card: /^Stopped: the pool ran out/,
  },
  {
    // Without the collector's reports the transcript does not show it.
    name: "ended by the pool's exhaustion, the collection reports off",
    program: "ones = lambda n (cons n (ones n));\nlen = lambda l ((com l) (+ 1 (len (cdr l))) 0);\nlen (ones 1);\n+ 1 2;\n",
    settings: { blocks: 2, gcreports: false },
    tone: "error",
    status: /^Ended early at line 3: the pool ran out/,
    card: /^Stopped: the pool ran out/,
  },
  {
    name: "ended by a word of 9 characters",
    program: "+ 1 2;\nabcdefghi 3;\n+ 3 4;\n",
    tone: "error",
    status: /^Ended early at line 2: a word has more than 8 characters: abcdefghi\. .*shorten it\.$/,
  },
  {
    name: "ended by a full token array",
    program: "+ 1 2;\n+ 1 (+ 2 3);\n",
    settings: { tokens: 4 },
    tone: "error",
    status: /^Ended early at line 2: the statement holds more than 4 tokens\. Raise “Tokens per statement”/,
  },
  {
    name: "ended by nesting too deep for the page",
    program: "sum = lambda n ((= n 0) 0 (+ n (sum (- n 1))));\nsum 20000;\n",
    settings: { blocks: 200 },
    tone: "error",
    status: /^Ended early at line 2: (the term is nested too deeply \(depth is overflow in \w+\)|the browser's stack ran out)\./,
    card: /^Stopped: /,
  },
  {
    name: "stopped by the time limit",
    program: `${Fib}+ 1 2;\nfib 40;\n`,
    settings: { timelimit: 1 },
    tone: "warn",
    status: /^Stopped at the time limit \(1 s\) in the statement on line 3; what it printed is kept\./,
    card: /^Stopped at the time limit of 1 s, while it was being reduced\./,
  },
];

test("each way a run ends has its own status, and a stopped statement says why", async () => {
  for (const ending of Endings) {
    await setsettings({ ...defaults(), ...(ending.settings ?? {}) });
    await setprogram(ending.program);
    const { text, tone } = await run();
    assert.equal(tone, ending.tone, `${ending.name}: ${text}`);
    assert.match(text, ending.status, ending.name);
    const stops = await page.$$eval("#transcript .statement .stop", (boxes) => boxes.map((b) => b.textContent));
    if (ending.card) {
      assert.equal(stops.length, 1, `${ending.name}: ${stops.join(" | ")}`);
      assert.match(stops[0], ending.card, ending.name);
    } else {
      assert.deepEqual(stops, [], ending.name);
    }
    // Whatever the ending, the transcript is the console binary's (the time
    // limit is the page's, and the stack of a browser is smaller).
    if (!/time limit|nesting/.test(ending.name)) {
      const s = { ...defaults(), ...(ending.settings ?? {}) };
      const words = ["--warn", "--stats", ...(s.maxsteps ? [`--max-steps=${s.maxsteps}`] : []), ...(s.gcreports ? [] : ["--quiet-gc"])];
      assert.equal(await rawtranscript(), console_(ending.program, words, [String(s.blocks - 1), String(s.tokens)]), ending.name);
    }
  }
  await setsettings(defaults());
});

test("a pool larger than the browser gives says the run did not start", async () => {
  // A browser that gives a module at most 256 MB, as a small device may:
  // the largest pool of the settings does not fit.
  const p = await openpage(`${origin}/`, undefined, ["--js-flags=--wasm-max-mem-pages=4096"]);
  await setsettings({ blocks: 10000 }, p);
  await setprogram("+ 1 2;\n", p);
  const { text, tone } = await run(p);
  assert.equal(tone, "error");
  assert.match(text, /^Did not start: MEMORY OVER \d+: the pool is larger than this page can hold; choose fewer blocks in Settings\.$/);
  assert.equal(await p.locator("#transcript .statement").count(), 0);
});

test("Stop keeps what the run printed, marks the statement it stopped and shows nothing of an earlier run", async () => {
  await setprogram("writeln 'earlier;\n+ 40 2;\n");
  await run();
  assert.match(await rawtranscript(), /'earlier/);
  const program = `writeln 'before;\n${Fib}+ 1 2;\nfib 40;\n* 6 7;\n`;
  await setprogram(program);
  await page.click("#run");
  // The statement's expanded line arrives while it is still reduced.
  await page.locator("#transcript .statement").nth(1).locator(".expanded").waitFor({ timeout: 30000 });
  await page.waitForTimeout(500);
  assert.equal((await status()).tone, "busy");
  await page.click("#stop");
  const { text, tone } = await status();
  assert.equal(tone, "warn");
  assert.match(text, /^Stopped by you after [\d.]+ s in the statement on line 4; what it printed is kept\.$/);
  const raw = await rawtranscript();
  assert.doesNotMatch(raw, /earlier|40 2/);
  // Up to the statement stopped, the lines are the console binary's.
  const native = console_(`writeln 'before;\n${Fib}+ 1 2;\nfib 4;\n`).split("\n");
  const got = raw.split("\n");
  const upto = native.indexOf("fib 4;");
  assert.deepEqual(got.slice(0, upto), native.slice(0, upto));
  assert.equal(got[upto], "fib 40;");
  assert.equal(got[upto + 1], "fib 40 ");
  assert.match(got[upto + 2], /^\( co\d+ : lambda n .* \) 40 $/);
  const cards = page.locator("#transcript .statement");
  assert.equal(await cards.count(), 2);
  assert.equal(await cards.nth(0).locator(".normal").textContent(), "3 ");
  assert.match(await cards.nth(1).locator(".stop").textContent(), /^Stopped by you after [\d.]+ s, while it was being reduced\./);
  // A fresh interpreter takes the next run.
  await setprogram("* 6 7;\n");
  assert.equal((await run()).tone, "ok");
  assert.equal(await page.locator("#transcript .statement .normal").textContent(), "42 ");
});

test("fib 25 finishes under the default settings", async () => {
  const p = await openpage(`${origin}/`);
  await setprogram(`${Fib}fib 25;\n`, p);
  const { text, tone } = await run(p);
  assert.equal(tone, "ok", text);
  assert.equal(await p.locator("#transcript .statement .normal").textContent(), "75025 ");
});

test("a shared link opens the program and every setting in a fresh browser, and runs to the same transcript", async () => {
  const program = "k = lambda x (lambda y x);\nk 5;\ng = lambda n ((= n 0) 0 (g (- n 1)));\ng 300;\n";
  const settings = { blocks: 3, tokens: 500, timelimit: 20, maxsteps: 0, readback: true, gcreports: false };
  await setsettings(settings);
  await setprogram(program);
  await run();
  const transcript = await rawtranscript();
  assert.match(transcript, /^lambda y 5 $/m); // read back
  assert.doesNotMatch(transcript, /GARBAGE/);
  assert.equal(transcript, console_(program, ["--readback", "--quiet-gc"], ["2", "500"]));
  await page.click("#share");
  await page.waitForSelector("#notice:not([hidden])");
  assert.match(await page.textContent("#notice-text"), /^Link copied to the clipboard/);
  const link = await page.inputValue("#link");
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), link);
  assert.match(link, new RegExp(`^${origin}/#k1=[A-Za-z0-9+$-]+$`));

  const other = await openpage(link);
  assert.equal(await editortext(other), program.replace(/\n$/, ""));
  for (const [name, value] of Object.entries(settings)) {
    if (typeof value === "boolean") assert.equal(await other.isChecked(`#setting-${name}`), value, name);
    else assert.equal(await other.inputValue(`#setting-${name}`), String(value), name);
  }
  assert.equal(await other.textContent("#notice-text"), "Opened a shared program.");
  assert.equal((await run(other)).tone, "ok");
  assert.equal(await rawtranscript(other), transcript);
  await setsettings(defaults());
});

test("the full normal forms switch reads closures back to the beta-normal form, as the console does", async () => {
  const program =
    "succ = lambda n f x (f (n f x));\ntwo = succ (succ (lambda f x x));\ntwo;\n" +
    "(lambda f (lambda x (f x))) (lambda x x);\n(lambda w (lambda y (w w))) (lambda x (x x));\n";
  const normals = page.locator("#transcript .statement .normal");
  await setsettings({ readback: false });
  await setprogram(program);
  assert.equal((await run()).tone, "ok");
  assert.match(await normals.nth(0).textContent(), /^sub \(/); // the closure, as the engine leaves it
  const figures = page.locator("#transcript .statement .stats");
  assert.doesNotMatch(await figures.nth(0).textContent(), /read-back/);
  await setsettings({ readback: true });
  assert.equal((await run()).tone, "ok");
  assert.equal(await normals.nth(0).textContent(), "lambda f x ( f ( f x ) ) ");
  // The card's figures end with the read-back's steps, as the console counts them.
  const said = /readback_steps=(\d+)/.exec(consolestderr(program, ["--stats", "--readback"]).split("\n")[0])[1];
  assert.match(await figures.nth(0).textContent(), new RegExp(` · read-back ${Number(said).toLocaleString("en")} steps$`));
  assert.equal(await normals.nth(1).textContent(), "lambda x x "); // no parameter renamed
  assert.equal(await normals.nth(2).textContent(), "lambda y ... "); // no normal form: cut, and the run goes on
  assert.equal(await rawtranscript(), console_(program, ["--warn", "--stats", "--readback"]));
  await setsettings(defaults());
});

test("a link made by another version of the interpreter says so and still opens", async () => {
  const fragment = linkfragment({ program: "* 6 7;\n", settings: { blocks: 4 }, version: "0.9.0", build: "0123456789ab" });
  const other = await openpage(`${origin}/#${fragment}`);
  assert.match(
    await other.textContent("#notice-text"),
    /^Opened a shared program\. This link was made with kestrivo 0\.9\.0; this page runs kestrivo 1\.0\.0, so the transcript may differ\.$/,
  );
  assert.equal(await editortext(other), "* 6 7;");
  assert.equal(await other.inputValue("#setting-blocks"), "4");
  assert.equal(await run(other).then((s) => s.tone), "ok");
  // A link cut short is said to be damaged, and the page opens as it was.
  await other.goto(`${origin}/#${fragment.slice(0, 20)}`);
  await ready(other);
  assert.match(await other.textContent("#notice-text"), /cannot be opened: the link is damaged/);
  assert.equal(await editortext(other), "* 6 7;");
});

test("the program and the settings survive a reload, and the menu says when an example was edited", async () => {
  const p = await openpage(`${origin}/`);
  const church = readFileSync(join(root, "examples", "church.lam"), "utf8");
  await p.selectOption("#examples", "church.lam");
  await p.waitForFunction((start) => document.querySelector(".cm-content").innerText.startsWith(start), church.slice(0, 20));
  assert.equal(await editortext(p), church.replace(/\n*$/, ""));
  const menu = () => p.$eval("#examples", (s) => s.options[s.selectedIndex].textContent);
  assert.doesNotMatch(await menu(), /edited/);
  await p.click(".cm-content");
  await p.keyboard.press("Control+End");
  await p.keyboard.insertText("+ 1 2;\n");
  assert.match(await menu(), /^church: .*\(edited\)$/);
  await setsettings({ blocks: 9, readback: true }, p);
  await p.waitForTimeout(400); // the page keeps what changed after 200 ms
  await p.reload();
  await ready(p);
  await p.waitForFunction(() => /edited/.test(document.getElementById("examples").selectedOptions[0]?.textContent ?? ""));
  assert.equal(await editortext(p), `${church}+ 1 2;`.replace(/\n*$/, ""));
  assert.equal(await p.inputValue("#setting-blocks"), "9");
  assert.equal(await p.isChecked("#setting-readback"), true);
});

test("the page is usable at 1024 pixels wide and on a narrow screen", async () => {
  for (const width of [1024, 420]) {
    const p = await openpage(`${origin}/`, { width, height: 800 });
    // Nothing runs off the side; every control is on the screen.
    assert.ok(await p.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), `${width}: the page scrolls sideways`);
    for (const id of ["run", "stop", "share", "settings-button", "examples"]) {
      const box = await p.locator(`#${id}`).boundingBox();
      assert.ok(box && box.x >= 0 && box.x + box.width <= width && box.y + box.height <= 800, `${width}: #${id} is off the screen`);
    }
    // The editor has room for a line of the demo's width, and a good part
    // of it is on the first screen, under the toolbar.
    const editor = await p.locator("#editor").boundingBox();
    assert.ok(editor.width >= Math.min(width - 40, 470), `${width}: the editor is ${editor.width} px wide`);
    assert.ok(editor.y + 300 <= 800, `${width}: the editor begins ${editor.y} px down the first screen`);
    // The settings panel opened on a narrow screen still fits across it.
    await p.click("#settings-button");
    assert.ok(await p.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), `${width}: the settings run off the side`);
    const field = await p.locator("#setting-blocks").boundingBox();
    assert.ok(field.x >= 0 && field.x + field.width <= width, `${width}: the pool's field is off the screen`);
    await p.click("#settings-button");
    assert.equal((await run(p)).tone, "ok");
    const card = await p.locator("#transcript .statement").first().boundingBox();
    assert.ok(card.x + card.width <= width, `${width}: a card runs off the screen`);
    if (width === 1024) {
      mkdirSync(join(web, "artifacts"), { recursive: true });
      await p.screenshot({ path: join(web, "artifacts", "playground-1024.png") });
    }
  }
});

// Runs a program in the page's interpreter worker directly, without the
// page: { transcript, status, endingstop, trap }.
async function runinworker(program, lastblock, tokens, options = []) {
  return page.evaluate(
    ({ program, lastblock, tokens, options }) =>
      new Promise((done) => {
        const w = new Worker("worker.js");
        let transcript = "";
        w.onmessage = (e) => {
          const m = e.data;
          if (m.ready !== undefined) w.postMessage({ id: 1, program, lastblock, tokens, options });
          for (const b of m.batch ?? []) if (b.out !== undefined) transcript += b.out;
          if (m.done) {
            w.terminate();
            done({ transcript, status: m.status, endingstop: m.endingstop, trap: m.trap });
          }
        };
        w.postMessage({ start: {} });
      }),
    { program, lastblock, tokens, options },
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
  // where the binary went on; up to that line the transcripts agree.  The
  // examples all finish under the page's defaults.
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
    const r = await runinworker(program, Number(lastblock), Number(tokens), ["--warn", "--stats"]);
    assert.equal(r.trap, null, `${name}: the browser's stack ran out`);
    const got = renamed(r.transcript);
    if (golden.endsWith("examples")) {
      assert.deepEqual(got, want, `${name}: the example does not finish in the page as in the console`);
      assert.equal(r.endingstop, -1, name);
    }
    let i = 0;
    while (i < got.length && got[i] === want[i]) i++;
    if (i === got.length && i === want.length) {
      compared++;
      continue;
    }
    assert.match(got[i] ?? "", /^depth is overflow in /, `${name}: line ${i + 1} differs`);
    assert.deepEqual(got.slice(i + 2), ["THE END...................", ""], `${name}: the run did not end after the depth report`);
    assert.equal(r.endingstop, 1, `${name}: the depth stop is not the one that ended the run`);
    deep++;
  }
  assert.ok(compared > 80, `only ${compared} programs compared`);
  assert.ok(deep < 10, `${deep} golden programs stopped for depth`);
});

// The steps pane of the chosen statement: { step, rule, node, trace } of the
// frame shown, and the title of the graph node drawn as rewritten.
async function shownstep(p = page) {
  return p.evaluate(() => {
    const pane = document.getElementById("steps");
    const m = /^step (\d+) · (\d+) of (\d+)$/.exec(pane.querySelector(".steps-where").textContent);
    const trace = pane.querySelector(".steps-term").title;
    const t = /^trace (\d+) (\S+) co(\d+) /.exec(trace);
    const marked = [...pane.querySelectorAll(".steps-graph svg g.node.rewritten title")].map((e) => e.textContent);
    return { step: Number(m[1]), at: Number(m[2]), of: Number(m[3]), trace: t ? { step: Number(t[1]), rule: t[2], node: t[3] } : null,
      rule: pane.querySelector(".steps-rule").textContent, marked, term: pane.querySelector(".steps-term").textContent };
  });
}

// Waits until the steps pane shows frame `at` of its record, drawn.
function frameshown(at, p = page) {
  return p.waitForFunction((k) => {
    const pane = document.getElementById("steps");
    const where = pane.querySelector(".steps-where").textContent;
    return where.includes(` ${k} of `) && pane.querySelector(".steps-graph svg") !== null &&
      pane.querySelector(".steps-graph").dataset.shown === String(k - 1);
  }, at, { timeout: 30000 });
}

test("the steps pane steps forward and back through a shared argument, marking the node the trace names", async () => {
  const program = "(lambda x (+ x x)) (* 2 3);\n";
  await setprogram(program);
  assert.equal((await run()).tone, "ok");
  await page.click("#statement-tabs button[data-pane=steps]");
  await frameshown(1);
  // The console's trace of the same statement: the rules in order.
  const dir = mkdtempSync(join(tmpdir(), "kestrivo-prog-"));
  writeFileSync(join(dir, "prog.lam"), program);
  const traced = spawnSync(kestrivo, ["--trace", join(dir, "prog.lam")], { encoding: "utf8" }).stderr;
  rmSync(dir, { recursive: true, force: true });
  const rules = [...traced.matchAll(/^kestrivo: trace (\d+) (\S+) co\d+ /gm)].map((m) => m[2]);
  assert.deepEqual(rules, ["beta", "sub-+", "lookup", "*", "+"]);
  let s = await shownstep();
  assert.equal(s.step, 0);
  assert.equal(s.of, 6);
  assert.match(s.term, /^\( lambda x \( \+ x x \) \) \( \* 2 3 \)$/);
  assert.deepEqual(s.marked, []);
  for (let k = 1; k <= 5; k++) {
    await page.click("#steps button:has-text('Next')");
    await frameshown(k + 1);
    s = await shownstep();
    assert.equal(s.step, k);
    assert.equal(s.trace.step, k);
    assert.equal(s.trace.rule, rules[k - 1]);
    assert.ok(s.rule.includes(`co${s.trace.node}`) && s.rule.includes(`${rules[k - 1]}:`), `step ${k}: ${s.rule}`);
    assert.deepEqual(s.marked, [`n${s.trace.node}`], `step ${k}: the marked node is not co${s.trace.node}`);
  }
  assert.match(s.term, /^12$/);
  // The lookup step in words, and back to it.
  for (let k = 5; k > 3; k--) {
    await page.click("#steps button:has-text('Previous')");
    await frameshown(k);
  }
  s = await shownstep();
  assert.equal(s.trace.rule, "lookup");
  assert.match(s.rule, /indirection to the one shared argument node/);
  assert.match(s.term, /^\+ \( co(\d+) : ident \( co\d+ : \* 2 3 \) \) co\1$/);
  // Play runs on to the last frame and stops there.
  await page.click("#steps button:has-text('Play')");
  await page.waitForFunction(() => document.getElementById("steps").querySelector(".steps-where").textContent.endsWith("6 of 6"),
    null, { timeout: 30000 });
  await page.waitForFunction(() => [...document.querySelectorAll("#steps button")].some((b) => b.textContent === "Play"));
  // The card link finds the statement's card.
  await page.click("#steps .steps-card");
  await page.waitForSelector("#transcript .statement.flash");
  // The picture of the guide: the lookup that makes the shared argument.
  await page.waitForFunction(() => document.querySelector("#transcript .statement.flash") === null);
  await page.click("#steps button:has-text('Previous')");
  await frameshown(5);
  await page.click("#steps button:has-text('Previous')");
  await frameshown(4);
  mkdirSync(join(web, "artifacts"), { recursive: true });
  await page.evaluate(() => Promise.all(document.getAnimations().map((a) => a.finished))); // the move between the two frames
  await page.screenshot({ path: join(web, "artifacts", "stepper.png") });
});

test("a long statement offers its first steps and a later window, and the page answers meanwhile", async () => {
  await setprogram(`${Fib}fib 15;\n`);
  assert.equal((await run()).tone, "ok");
  await page.click("#transcript .statement >> nth=0");
  await page.click("#statement-tabs button[data-pane=steps]");
  await frameshown(1);
  const s = await shownstep();
  assert.equal(s.of, 201);
  const foot = await page.textContent("#steps .steps-foot");
  const m = /takes ([\d,]+) steps; these frames show steps 0 to 200/.exec(foot);
  assert.ok(m, foot);
  const total = Number(m[1].replace(/,/g, ""));
  assert.ok(total > 10000, `fib 15 takes only ${total} steps`);
  // A later window: the graph step 5000 rewrites, then 200 steps.
  await page.fill("#steps .steps-foot input[type=number]", "5000");
  await page.click("#steps .steps-foot button:has-text('Show')");
  // While it records, the page still answers.
  assert.equal(await page.evaluate(() => 1 + 1), 2);
  await page.waitForFunction(() => /step 4999 · 1 of 201/.test(document.getElementById("steps").querySelector(".steps-where").textContent),
    null, { timeout: 30000 });
  await page.click("#steps button:has-text('Next')");
  await frameshown(2);
  const t = await shownstep();
  assert.equal(t.trace.step, 5000);
  assert.deepEqual(t.marked.length <= 1, true);
});

test("no request left the page's own origin", () => {
  assert.deepEqual(foreign, []);
});
