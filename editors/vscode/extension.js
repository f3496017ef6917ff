// The kestrivo extension: the grammar and the language's settings come from
// package.json; this starts the language server, kestrivo-lsp, which speaks
// the protocol on standard input and output, for every kestrivo document.
// The client is vscode-languageclient, the library VS Code's own language
// extensions use.
const vscode = require("vscode");
const { LanguageClient, TransportKind } = require("vscode-languageclient/node");

let client;

function activate(context) {
  const command = vscode.workspace.getConfiguration("kestrivo").get("server.path") || "kestrivo-lsp";
  client = new LanguageClient(
    "kestrivo",
    "kestrivo language server",
    { command, transport: TransportKind.stdio },
    {
      documentSelector: [
        { scheme: "file", language: "kestrivo" },
        { scheme: "untitled", language: "kestrivo" },
      ],
    },
  );
  context.subscriptions.push(client);
  return client.start();
}

function deactivate() {
  return client === undefined ? undefined : client.stop();
}

module.exports = { activate, deactivate };
