// What the page's Steps tab costs: the demo runs in the page, then each of
// its expression statements is chosen with the Steps tab open, and the time
// from the choice to its first frame drawn (the program run again in the
// frames worker with --frames for that statement, its first 200 frames read
// back, the first laid out by Graphviz) is measured, in Debian's Chromium.
//   node web/stepbench.mjs [--dist DIR] [PROGRAM]
// PROGRAM defaults to examples/demo.lam.  CHROMIUM: the browser.
import { spawn } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const web = dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
let dist = join(web, "dist");
let file = join(web, "..", "examples", "demo.lam");
for (let i = 0; i < args.length; i++) {
  if (args[i] === "--dist") dist = resolve(args[++i]);
  else file = resolve(args[i]);
}

const server = spawn("python3", ["-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dist], {
  stdio: ["ignore", "pipe", "ignore"],
});
const port = await new Promise((ok) => {
  let seen = "";
  server.stdout.on("data", (c) => {
    seen += c;
    const m = /port (\d+)/.exec(seen);
    if (m) ok(Number(m[1]));
  });
});
const profile = mkdtempSync(join(tmpdir(), "kestrivo-chromium-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
  headless: true,
  viewport: { width: 1500, height: 900 },
  args: ["--headless", "--no-sandbox", "--disable-gpu"],
});
try {
  const page = context.pages()[0] ?? (await context.newPage());
  await page.goto(`http://127.0.0.1:${port}/`);
  await page.waitForFunction(() => !document.getElementById("run").disabled, null, { timeout: 60000 });
  await page.click(".cm-content");
  await page.keyboard.press("Control+A");
  await page.keyboard.insertText(readFileSync(file, "utf8"));
  await page.click("#run");
  await page.waitForFunction(() => !/busy/.test(document.getElementById("status").className), null, { timeout: 60000 });
  await page.click("#statement-tabs button[data-pane=steps]");
  const cards = await page.$$("#transcript .statement");
  let total = 0;
  for (let k = 0; k < cards.length; k++) {
    const began = Date.now();
    await cards[k].click();
    await page.waitForFunction(
      () => document.querySelector("#steps .steps-graph")?.dataset.shown === "0" && document.querySelector("#steps .steps-graph svg"),
      null, { timeout: 60000 },
    );
    const ms = Date.now() - began;
    total += ms;
    const where = await page.textContent("#steps .steps-where");
    const foot = await page.textContent("#steps .steps-foot");
    console.log(`statement ${k + 1}: ${ms} ms to the first frame (${where.replace(/.* of /, "")} frames${/takes ([\d,]+) steps/.exec(foot) ? `, of ${/takes ([\d,]+) steps/.exec(foot)[1]} steps` : ""})`);
    await page.evaluate(() => { document.querySelector("#steps .steps-graph").dataset.shown = ""; });
  }
  console.log(`all ${cards.length} statements: ${total} ms`);
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
  server.kill();
}
