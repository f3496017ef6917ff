// The VS Code extension starts the language server: editors/vscode/extension.js
// is loaded with stand-ins for the editor's API and the client library, and
// its activation must start kestrivo-lsp (or the configured path) on
// standard input and output for kestrivo documents, and stop it again.
//   node extension-check.js EXTENSION_DIR
"use strict";
const assert = require("assert");
const Module = require("module");
const path = require("path");

const folder = path.resolve(process.argv[2]);
const manifest = require(path.join(folder, "package.json"));
let configured;  // the kestrivo.server.path setting the stand-in reports
const clients = [];
const standins = {
  vscode: {
    workspace: { getConfiguration: (section) => ({ get: (key) => (section === "kestrivo" && key === "server.path" ? configured : undefined) }) },
  },
  "vscode-languageclient/node": {
    TransportKind: { stdio: 0, ipc: 1 },
    LanguageClient: class {
      constructor(id, name, server, options) {
        Object.assign(this, { id, name, server, options, running: false });
        clients.push(this);
      }
      start() { this.running = true; return Promise.resolve(); }
      stop() { this.running = false; return Promise.resolve(); }
      dispose() { this.running = false; }
    },
  },
};
const load = Module._load;
Module._load = function (request, parent, isMain) {
  return Object.prototype.hasOwnProperty.call(standins, request) ? standins[request] : load.call(this, request, parent, isMain);
};

(async () => {
  assert.strictEqual(manifest.main, "./extension.js");
  assert.deepStrictEqual(manifest.activationEvents, ["onLanguage:kestrivo"]);
  assert.ok(manifest.dependencies["vscode-languageclient"], "the client library is a dependency");
  const lock = require(path.join(folder, "package-lock.json"));
  assert.ok(lock.packages["node_modules/vscode-languageclient"], "the lock file pins the client library");
  assert.strictEqual(manifest.contributes.configuration.properties["kestrivo.server.path"].default, "kestrivo-lsp");

  const extension = require(path.join(folder, manifest.main));
  const context = { subscriptions: [] };
  await extension.activate(context);
  const client = clients[0];
  assert.strictEqual(client.server.command, "kestrivo-lsp");
  assert.strictEqual(client.server.transport, 0);
  assert.ok(client.options.documentSelector.some((s) => s.language === "kestrivo" && s.scheme === "file"));
  assert.ok(client.running && context.subscriptions.includes(client));
  await extension.deactivate();
  assert.ok(!client.running, "deactivation stops the server");

  configured = "/opt/kestrivo/bin/kestrivo-lsp";
  await extension.activate({ subscriptions: [] });
  assert.strictEqual(clients[1].server.command, configured);
  console.log("the extension starts and stops kestrivo-lsp: ok");
})().catch((e) => { console.error(e); process.exit(1); });
