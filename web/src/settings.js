// The page's settings: what each one is, its default and its bounds, and the
// interpreter's command line they make.  The page keeps them with the
// program (local storage, shared links), so whatever comes from there is
// read through normalize: a field missing, of the wrong type or out of
// bounds takes its default.
//
// The defaults let every example and an ordinary computation (naive
// Fibonacci of 25, a second or so of reduction at most) finish: the run is
// bounded by time, not by steps, and a step limit is there for those who want
// to see a term part of the way.

// Each numeric setting: its default, its least and greatest values.
export const Fields = {
  // Blocks of 1001 nodes in the pool; the console's lastblock is one less.
  // A page holds at most 2 GB, and a pool of 10,000 blocks (280 MB with the
  // collector's and the reducer's tables) already takes a second to start.
  blocks: { default: 6, min: 1, max: 10000, label: "Pool size",
    help: "Blocks of 1,001 nodes the program may use at once (at most 10,000 here); when they are all in use and a collection frees none, the run ends." },
  // Slots of the token array: 1,000,000 take some 40 MB.
  tokens: { default: 1000, min: 1, max: 1000000, label: "Tokens per statement",
    help: "The most words and brackets one statement may hold." },
  // Seconds a run may take before the page stops it as Stop does; 0 none.
  timelimit: { default: 10, min: 0, max: 3600, label: "Time limit (s)",
    help: "The page stops a run that takes longer, keeping what it printed; 0 for none." },
  // Reduction steps one statement may take; 0 none.
  maxsteps: { default: 0, min: 0, max: 1e15, label: "Step limit",
    help: "A statement stops after this many steps and shows its term as it stands (normal; goes on); 0 for none." },
};

// The switches, and their defaults.
export const Switches = {
  readback: { default: false, label: "Full normal forms",
    help: "Show each normal form in full, as a plain lambda term: every closure read back and reduced on under its lambda (--readback)." },
  gcreports: { default: true, label: "Collection reports",
    help: "Print the collector's report after each collection (off: --quiet-gc)." },
  // The Profile tab's figures.  Off by default: charging every step to its
  // definition makes a long statement take about 1.4 times as long in the
  // console and 1.6 times in the page, where calls cost more; the tab runs
  // the program again with it when asked.
  profile: { default: false, label: "Profile",
    help: "Charge each step to the definition it came from, for the Profile tab (--profile); a long run takes longer with it." },
};

export function defaults() {
  const s = {};
  for (const [name, field] of Object.entries(Fields)) s[name] = field.default;
  for (const [name, field] of Object.entries(Switches)) s[name] = field.default;
  return s;
}

// A complete, valid set of settings from whatever value came in.
export function normalize(value) {
  const s = defaults();
  if (value === null || typeof value !== "object") return s;
  for (const [name, field] of Object.entries(Fields)) {
    const v = value[name];
    if (typeof v === "number" && Number.isFinite(v)) s[name] = Math.min(field.max, Math.max(field.min, Math.floor(v)));
  }
  for (const name of Object.keys(Switches)) if (typeof value[name] === "boolean") s[name] = value[name];
  return s;
}

// The options the page's runs are given, in the console's words.  --warn and
// --stats are always on: the page shows the warnings in the editor and the
// figures in the cards (neither changes the transcript, and neither does
// --profile).
export function options(settings) {
  const words = ["--warn", "--stats"];
  if (settings.maxsteps > 0) words.push(`--max-steps=${settings.maxsteps}`);
  if (settings.readback) words.push("--readback");
  if (!settings.gcreports) words.push("--quiet-gc");
  if (settings.profile) words.push("--profile");
  return words;
}

// The counts after the program's name: lastblock and tokencapacity.
export function counts(settings) {
  return [settings.blocks - 1, settings.tokens];
}

// The console command that makes the same transcript.
export function commandline(settings, file = "prog.lam") {
  return ["kestrivo", ...options(settings), file, ...counts(settings)].join(" ");
}
