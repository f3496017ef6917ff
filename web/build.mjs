// Builds the playground's static folder: node build.mjs MODULEDIR OUTDIR
//   MODULEDIR  where Emscripten left kestrivo.js and kestrivo.wasm
//   OUTDIR     the folder to fill (web/dist)
//
// The page's script and the two workers are bundled with esbuild (one small
// tool, no configuration), so the folder holds everything the page loads and
// nothing is fetched from elsewhere.  The example programs are copied beside
// them with an index the page's menu reads.
import { build } from "esbuild";
import { createHash } from "node:crypto";
import { cpSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const [moduledir, outdir] = process.argv.slice(2);
if (!moduledir || !outdir) {
  console.error("usage: node build.mjs MODULEDIR OUTDIR");
  process.exit(2);
}

rmSync(outdir, { recursive: true, force: true });
mkdirSync(join(outdir, "examples"), { recursive: true });

// The module's build, named by a digest of its bytes: a shared link carries
// it, so that a page running another module can say the link was made
// elsewhere.
const digest = createHash("sha256").update(readFileSync(join(moduledir, "kestrivo.wasm"))).digest("hex").slice(0, 12);

const common = { bundle: true, minify: true, sourcemap: false, target: "es2020", logLevel: "warning" };
await build({
  ...common,
  entryPoints: [join(here, "src/main.js")],
  outfile: join(outdir, "main.js"),
  format: "esm",
  define: { KESTRIVO_BUILD: JSON.stringify(digest) },
});
await build({ ...common, entryPoints: [join(here, "src/graphworker.js")], outfile: join(outdir, "graphworker.js"), format: "iife" });
// The interpreter's worker loads Emscripten's kestrivo.js beside it.
await build({ ...common, entryPoints: [join(here, "src/worker.js")], outfile: join(outdir, "worker.js"), format: "iife" });

for (const name of ["index.html", "style.css"]) cpSync(join(here, "src", name), join(outdir, name));
for (const name of ["kestrivo.js", "kestrivo.wasm"]) cpSync(join(moduledir, name), join(outdir, name));

// The examples, each with the start of its leading comment (to the first
// stop, colon or line end, at most 44 characters) as its title in the menu.
const examples = join(here, "..", "examples");
const index = [];
for (const file of readdirSync(examples).filter((f) => f.endsWith(".lam")).sort()) {
  const text = readFileSync(join(examples, file), "utf8");
  cpSync(join(examples, file), join(outdir, "examples", file));
  const comment = /^\s*%([^%]*)%?/.exec(text);
  let first = comment ? comment[1].trim().split(/[.:;\n]/)[0].trim() : "";
  if (first.length > 44) first = `${first.slice(0, 43).replace(/\s+\S*$/, "")}…`;
  const name = file.replace(/\.lam$/, "");
  index.push({ file, title: first ? `${name}: ${first}` : name });
}
writeFileSync(join(outdir, "examples", "index.json"), JSON.stringify(index, null, 1) + "\n");
