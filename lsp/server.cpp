// The protocol: messages framed by a Content-Length header on standard
// input and output, JSON-RPC requests and notifications, and the handlers of
// those the server offers.  Documents are synchronised whole: each change
// brings the document's full text, which is analysed again.
#include "lsp/lsp.h"

#include <cstdio>
#include <cstring>
#include <map>

#ifndef KESTRIVO_VERSION
#define KESTRIVO_VERSION "1.0.0"
#endif

// JSON-RPC's error codes.
constexpr int ParseError = -32700;
constexpr int InvalidRequest = -32600;
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int ServerNotInitialized = -32002;
// The protocol's symbol kinds and completion kinds.
constexpr int SymbolFunction = 12, SymbolVariable = 13, SymbolConstant = 14;
constexpr int CompleteFunction = 3, CompleteVariable = 6, CompleteSnippet = 15;

struct Document {
    Page text;
    Analysis analysis;
};
static std::map<std::string, Document> Documents;  // open documents by URI

// Reads the next message's body; false at the end of the input or when the
// header is broken beyond reading.
static bool readmessage(std::string& body) {
    std::size_t length = 0;
    bool haslength = false;
    std::string header;
    for (;;) {
        int c = std::getchar();
        if (c == EOF) return false;
        if (c != '\n') {
            header += char(c);
            continue;
        }
        if (!header.empty() && header.back() == '\r') header.pop_back();
        if (header.empty()) break;  // the blank line that ends the header
        static const char Field[] = "content-length:";
        if (header.size() > sizeof Field - 1 &&
            strncasecmp(header.c_str(), Field, sizeof Field - 1) == 0) {
            length = std::strtoull(header.c_str() + sizeof Field - 1, nullptr, 10);
            haslength = true;
        }
        header.clear();
    }
    if (!haslength || length > MessageLimit) return false;
    body.resize(length);
    return std::fread(body.data(), 1, length, stdin) == length;
}

static void send(const json& message) {
    std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
    std::printf("Content-Length: %zu\r\n\r\n", body.size());
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::fflush(stdout);
}

static void reply(const json& id, const json& result) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

static void replyerror(const json& id, int code, const std::string& message) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

static void notify(const char* method, const json& params) {
    send({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
}

static void publish(const std::string& uri) {
    json list = json::array();
    auto found = Documents.find(uri);
    if (found != Documents.end()) {
        const Document& d = found->second;
        for (const Diagnostic& g : d.analysis.diagnostics)
            list.push_back({{"range", range(d.text, g.line, g.first, g.endline < 0 ? g.line : g.endline, g.end)},
                            {"severity", g.severity},
                            {"source", "kestrivo"},
                            {"message", g.message}});
    }
    notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", list}});
}

static void update(const std::string& uri, std::string text) {
    Document& d = Documents[uri];
    d.text = textof(std::move(text));
    d.analysis = analyse(d.text);
    publish(uri);
}

// The characters [first, end) of the name a definition or macro statement
// defines, on the statement's first line (0-based).
static Word nameof(const Document& d, const Statement& s) {
    std::string line = lineof(d.text, s.line - 1);
    std::int64_t at = s.column - 1;
    Word w = wordat(line, at);
    if (s.kind == "macro") {  // the word after "macro"
        std::int64_t n = characters(line);
        for (std::int64_t k = w.end; k < n; k++) {
            Word next = wordat(line, k);
            if (!next.text.empty() && next.first >= w.end) return next;
        }
    }
    return w;
}

// The statement that defines name (a definition or a macro) for a use on a
// 0-based line: the last one begun on or before the line, else the first
// after it; -1 when there is none.
static std::int64_t definitionof(const Document& d, const std::string& name, std::int64_t line) {
    std::int64_t found = -1;
    const std::vector<Statement>& all = d.analysis.statements;
    for (std::size_t k = 0; k < all.size(); k++) {
        const Statement& s = all[k];
        if ((s.kind != "definition" && s.kind != "macro") || s.name != name) continue;
        if (s.line - 1 <= line || found < 0) found = std::int64_t(k);
        if (s.line - 1 > line) break;
    }
    return found;
}

// The document, line and word a position request points at.
struct At {
    const Document* document = nullptr;
    std::string uri;
    std::int64_t line = 0;
    Word word;
};
static At at(const json& params) {
    At a;
    a.uri = params.at("textDocument").at("uri").get<std::string>();
    auto found = Documents.find(a.uri);
    if (found == Documents.end()) return a;
    a.document = &found->second;
    a.line = params.at("position").at("line").get<std::int64_t>();
    std::string line = lineof(a.document->text, a.line);
    a.word = wordat(line, fromcolumn(line, params.at("position").at("character").get<std::int64_t>()));
    return a;
}

static json hover(const json& params) {
    At a = at(params);
    if (a.document == nullptr || a.word.text.empty()) return nullptr;
    const Document& d = *a.document;
    std::string text;
    std::int64_t k = definitionof(d, a.word.text, a.line);
    if (k >= 0) {
        const Statement& s = d.analysis.statements[std::size_t(k)];
        text = "```kestrivo\n" + s.text + "\n```";
        if (s.kind == "definition") {
            std::string normal = normalform(d.text, d.analysis, std::size_t(k));
            if (!normal.empty()) text += "\n\nnormal form: `" + normal + "`";
        }
    } else if (const char* words = describe(a.word.text)) {
        text = words;
    } else {
        return nullptr;
    }
    return {{"contents", {{"kind", "markdown"}, {"value", text}}},
            {"range", range(d.text, a.line, a.word.first, a.word.end)}};
}

static json definition(const json& params) {
    At a = at(params);
    if (a.document == nullptr || a.word.text.empty()) return nullptr;
    std::int64_t k = definitionof(*a.document, a.word.text, a.line);
    if (k < 0) return nullptr;
    const Statement& s = a.document->analysis.statements[std::size_t(k)];
    Word w = nameof(*a.document, s);
    return {{"uri", a.uri}, {"range", range(a.document->text, s.line - 1, w.first, w.end)}};
}

static json symbols(const json& params) {
    json list = json::array();
    auto found = Documents.find(params.at("textDocument").at("uri").get<std::string>());
    if (found == Documents.end()) return list;
    const Document& d = found->second;
    for (const Statement& s : d.analysis.statements) {
        if (s.kind != "definition" && s.kind != "macro") continue;
        Word w = nameof(d, s);
        json whole = {{"start", range(d.text, s.line - 1, s.column - 1, s.column - 1)["start"]},
                      {"end", range(d.text, s.endline - 1, s.endcolumn, s.endcolumn)["end"]}};
        bool function = s.kind == "definition" && s.text.find("lambda") != std::string::npos;
        std::string detail = s.text.size() > 80 ? s.text.substr(0, 77) + "..." : s.text;
        list.push_back({{"name", s.name},
                        {"detail", detail},
                        {"kind", s.kind == "macro" ? SymbolConstant : function ? SymbolFunction : SymbolVariable},
                        {"range", whole},
                        {"selectionRange", range(d.text, s.line - 1, w.first, w.end)}});
    }
    return list;
}

static json completion(const json& params) {
    At a = at(params);
    json items = json::array();
    std::map<std::string, bool> seen;
    if (a.document != nullptr) {
        for (const Statement& s : a.document->analysis.statements) {
            if ((s.kind != "definition" && s.kind != "macro") || seen[s.name]) continue;
            seen[s.name] = true;
            items.push_back({{"label", s.name},
                             {"kind", s.kind == "macro" ? CompleteSnippet
                                      : s.text.find("lambda") != std::string::npos ? CompleteFunction
                                                                                   : CompleteVariable},
                             {"detail", s.text}});
        }
    }
    for (const auto& [word, kind] : languagewords()) {
        if (seen[word]) continue;
        items.push_back({{"label", word}, {"kind", kind}, {"detail", describe(word)}});
    }
    return {{"isIncomplete", false}, {"items", items}};
}

static json initialize(const json& params) {
    // Columns in characters when the client can take them: that is how the
    // interpreter counts; else the protocol's default, UTF-16 code units.
    Utf16 = true;
    json encodings = params.value("/capabilities/general/positionEncodings"_json_pointer, json::array());
    for (const json& e : encodings)
        if (e == "utf-32") Utf16 = false;
    return {{"capabilities",
             {{"positionEncoding", Utf16 ? "utf-16" : "utf-32"},
              {"textDocumentSync", {{"openClose", true}, {"change", 1}}},
              {"hoverProvider", true},
              {"definitionProvider", true},
              {"documentSymbolProvider", true},
              {"completionProvider", json::object()}}},
            {"serverInfo", {{"name", "kestrivo-lsp"}, {"version", KESTRIVO_VERSION}}}};
}

int serve() {
    bool initialized = false, closing = false;
    std::string body;
    while (readmessage(body)) {
        json message = json::parse(body, nullptr, false);
        if (message.is_discarded() || !message.is_object()) {
            replyerror(nullptr, ParseError, "the message is not a JSON object");
            continue;
        }
        bool request = message.contains("id");
        json id = request ? message["id"] : json();
        if (!message.contains("method") || !message["method"].is_string()) {
            if (request) replyerror(id, InvalidRequest, "the message names no method");
            continue;
        }
        std::string method = message["method"];
        json params = message.value("params", json::object());
        if (method == "exit") return closing ? 0 : 1;
        try {
            if (method == "initialize") {
                initialized = true;
                reply(id, initialize(params));
            } else if (!initialized) {
                if (request) replyerror(id, ServerNotInitialized, "initialize comes first");
            } else if (method == "shutdown") {
                closing = true;
                reply(id, nullptr);
            } else if (method == "textDocument/didOpen") {
                update(params.at("textDocument").at("uri"), params.at("textDocument").at("text"));
            } else if (method == "textDocument/didChange") {
                const json& changes = params.at("contentChanges");
                if (!changes.empty()) update(params.at("textDocument").at("uri"), changes.back().at("text"));
            } else if (method == "textDocument/didClose") {
                std::string uri = params.at("textDocument").at("uri");
                Documents.erase(uri);
                publish(uri);
            } else if (method == "textDocument/hover") {
                reply(id, hover(params));
            } else if (method == "textDocument/definition") {
                reply(id, definition(params));
            } else if (method == "textDocument/documentSymbol") {
                reply(id, symbols(params));
            } else if (method == "textDocument/completion") {
                reply(id, completion(params));
            } else if (request) {
                replyerror(id, MethodNotFound, "kestrivo-lsp does not offer " + method);
            }
        } catch (const json::exception& e) {
            if (request) replyerror(id, InvalidParams, e.what());
        }
    }
    return 1;  // the input ended without exit
}
