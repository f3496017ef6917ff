// The Profile tab: the chosen statement's --profile table, and the run's
// beneath it, a row for each definition the steps were charged to, with a
// bar for its share of the steps.  The rows are diagnostics.js's reading of
// the tables the interpreter wrote on standard error.

// The figures shown, each as [row field, heading, what it counts].
const ProfileColumns = [
  ["entries", "entries", "how often the definition was called: its outermost lambda applied"],
  ["steps", "steps", "reduction steps charged to it"],
  ["beta", "beta", "beta steps: lambdas applied"],
  ["ops", "ops", "operator steps"],
  ["newnodes", "nodes built", "nodes the reduction built for it"],
];

function profilenote(text) {
  const p = document.createElement("p");
  p.className = "note";
  p.textContent = text;
  return p;
}

// A table of rows (the total row last, its centre null) under caption.
function profiletable(rows, caption) {
  const table = document.createElement("table");
  table.className = "profile";
  const cap = document.createElement("caption");
  cap.textContent = caption;
  table.append(cap);
  const head = table.createTHead().insertRow();
  const first = document.createElement("th");
  first.textContent = "definition";
  head.append(first);
  for (const [, label, title] of ProfileColumns) {
    const th = document.createElement("th");
    th.textContent = label;
    th.title = title;
    head.append(th);
  }
  const total = rows[rows.length - 1];
  const body = table.createTBody();
  for (const row of rows) {
    const tr = body.insertRow();
    tr.className = row.centre === null ? "total" : "";
    tr.dataset.centre = row.centre ?? "";
    const name = tr.insertCell();
    name.textContent = row.centre ?? "total";
    for (const [key] of ProfileColumns) {
      const td = tr.insertCell();
      td.className = key;
      td.textContent = row[key].toLocaleString("en");
      if (key === "entries") continue;
      const share = total[key] === 0 ? 0 : (100 * row[key]) / total[key];
      const pct = document.createElement("span");
      pct.className = "share";
      pct.textContent = `${share.toFixed(1)}%`;
      td.append(pct);
      if (key === "steps" && row.centre !== null) {
        td.style.background = `linear-gradient(to right, #dbe7f8 ${share}%, transparent ${share}%)`;
      }
    }
  }
  return table;
}

// Fills box for the chosen statement item (null: none) of view (the run as
// the page reads it, null before any run); run is the run on the page, whose
// settings say whether it was made with the profile, and again turns the
// profile on and runs the program again.
export function drawprofile(box, item, view, run, again) {
  if (view === null || item === null) {
    return box.replaceChildren(
      profilenote(
        view === null
          ? "Run a program, then choose a statement to see where its steps went."
          : "This program has no expression statements.",
      ),
    );
  }
  const rows = view.read.notes[item.index]?.profile ?? null;
  if (rows === null) {
    if (!run.settings.profile) {
      const button = document.createElement("button");
      button.type = "button";
      button.id = "profile-again";
      button.textContent = "Run with the profile";
      button.addEventListener("click", again);
      return box.replaceChildren(
        profilenote("This run was made without the profile, which makes a long run slower. Run again with it (the Profile switch in Settings stays on):"),
        button,
      );
    }
    return box.replaceChildren(
      profilenote(
        item.running && !run.done
          ? "The statement is being reduced; its profile comes when it ends."
          : "The interpreter wrote no profile for this statement.",
      ),
    );
  }
  const line = view.read.notes[item.index]?.stats?.line ?? item.lineno;
  const parts = [profiletable(rows, `Line ${line}: where its steps went`)];
  if (rows.length === 1) parts.push(profilenote("It took no step."));
  if (view.read.profile !== null) parts.push(profiletable(view.read.profile, "The whole run"));
  parts.push(
    profilenote(
      "Each step is charged to the definition whose text the rewritten node was made from: a lambda applied charges its definition, and the work on its body follows it; (statement) is the statement's own text.",
    ),
  );
  box.replaceChildren(...parts);
}
