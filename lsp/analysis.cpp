// What the interpreter makes of a document: the document runs through
// runkestrivo in this process, with --warn, --keep-going, a step budget and
// the event stream on, and the events are read back into statements and
// diagnostics.
#include "lsp/lsp.h"

#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <unistd.h>

// The file the runs write their events to: one for the process, made on
// first use and removed at its end.
static std::string EventsPath;

static void removeevents() {
    if (!EventsPath.empty()) std::remove(EventsPath.c_str());
}

static const std::string& eventspath() {
    if (EventsPath.empty()) {
        const char* dir = std::getenv("TMPDIR");
        std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/kestrivo-lsp-XXXXXX";
        int fd = mkstemp(name.data());
        if (fd >= 0) {
            close(fd);
            EventsPath = name;
            std::atexit(removeevents);
        }
    }
    return EventsPath;
}

// Runs program through the interpreter with the options given and returns
// its events, one JSON object each; none when the run could not be made.
static std::vector<json> run(const std::string& program, const std::vector<std::string>& options) {
    const std::string& path = eventspath();
    if (path.empty()) return {};
    std::vector<std::string> words = {"kestrivo", "--events=" + path, "--quiet-gc", "--no-echo"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back("-");
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    // A memory stream of no bytes cannot be opened: the empty program is
    // an empty file.
    std::FILE* input = program.empty() ? std::fopen("/dev/null", "r")
                                       : fmemopen(const_cast<char*>(program.data()), program.size(), "r");
    std::FILE* sink = std::fopen("/dev/null", "w");
    std::vector<json> events;
    if (input != nullptr && sink != nullptr) {
        runkestrivo(int(argv.size()), argv.data(), input, sink, sink);
        std::ifstream in(path, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            json e = json::parse(line, nullptr, false);
            if (!e.is_discarded()) events.push_back(std::move(e));
        }
    }
    if (input != nullptr) std::fclose(input);
    if (sink != nullptr) std::fclose(sink);
    return events;
}

static std::string budget(std::uint64_t steps) { return "--max-steps=" + std::to_string(steps); }

// A statement as its event tells it.
static Statement statementof(const json& e) {
    return Statement{e.value("kind", ""), e["name"].is_string() ? e["name"].get<std::string>() : "",
                     e.value("line", std::int64_t(0)), e.value("column", std::int64_t(0)),
                     e.value("end_line", std::int64_t(0)), e.value("end_column", std::int64_t(0)),
                     e.value("text", "")};
}

// A diagnostic over the word at a 1-based line and column (a bracket is a
// word of its own), or over the line's text when the column is not known.
static Diagnostic onword(const Page& t, std::int64_t line, std::int64_t column, int severity,
                         std::string message) {
    std::string l = lineof(t, line - 1);
    Word w = column > 0 ? tokenat(l, column - 1) : Word{};
    if (w.text.empty()) {
        std::int64_t chars = characters(l);
        std::int64_t first = 0;
        while (first < chars && (l[std::size_t(first)] == ' ' || l[std::size_t(first)] == '\t')) first++;
        return Diagnostic{line - 1, first, chars, severity, std::move(message)};
    }
    return Diagnostic{line - 1, w.first, w.end, severity, std::move(message)};
}

// A word the reader refused for its length, on the first line from line on
// that holds it: its place, or the line's when it is not found.
static Diagnostic longword(const Page& t, std::int64_t line, const std::string& word) {
    std::string message = "'" + word + "' has " + std::to_string(characters(word)) +
                          " characters; a word has at most 8";
    for (std::int64_t l = line; l >= 1 && std::size_t(l) <= t.starts.size(); l++) {
        std::string text = lineof(t, l - 1);
        std::size_t at = text.find(word);
        if (at == std::string::npos) continue;
        std::int64_t first = characters(text.substr(0, at));
        return Diagnostic{l - 1, first, first + characters(word), 1, message};
    }
    return onword(t, line, 0, 1, message);
}

// A word run on across line ends (the warning's place is where it begins):
// the diagnostic reaches to its last character, on the line where it ends.
// The next line carries the word on when it begins with a character of a
// word that is not one of those that begin a word of their own.
static void runon(const Page& t, Diagnostic& d) {
    for (std::int64_t l = d.line + 1; std::size_t(l) < t.starts.size(); l++) {
        std::string next = lineof(t, l);
        if (next.empty() || next[0] == '*' || next[0] == '+' || next[0] == '-') return;
        Word w = wordat(next, 0);
        if (w.text.empty() || w.first != 0) return;
        d.endline = l;
        d.end = w.end;
        if (w.end < characters(next)) return;  // the word ends on this line
    }
}

// What a stop says, as a diagnostic's message.
static std::string stopmessage(const std::string& reason) {
    if (reason == "exhausted") return "the node pool ran out while this statement was reduced";
    if (reason == "depth") return "nesting too deep: the statement was stopped";
    if (reason == "limit")
        return "no normal form within " + std::to_string(AnalysisSteps) + " steps (the analysis stops there)";
    return "the statement cannot be read";
}

Analysis analyse(const Page& t) {
    Analysis a;
    std::vector<std::string> reports;  // report lines not yet given to a statement or a stop
    std::int64_t statementline = 0;    // the line of the last statement read
    auto flushreports = [&]() {
        for (const std::string& r : reports)
            if (statementline > 0) a.diagnostics.push_back(onword(t, statementline, 0, 1, r));
        reports.clear();
    };
    for (const json& e : run(t.text, {"--warn", "--keep-going", budget(AnalysisSteps)})) {
        std::string kind = e.value("event", "");
        if (kind == "statement") {
            flushreports();
            a.statements.push_back(statementof(e));
            statementline = a.statements.back().line;
        } else if (kind == "warning") {
            std::string text = e.value("text", "");
            Diagnostic d = onword(t, e.value("line", std::int64_t(0)), e.value("column", std::int64_t(0)), 2, text);
            if (text.find("runs on across a line end") != std::string::npos) runon(t, d);
            a.diagnostics.push_back(std::move(d));
        } else if (kind == "out" && e.value("part", "") == "report") {
            std::string text = e.value("text", "");
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            while (!text.empty() && text.front() == ' ') text.erase(0, 1);
            if (!text.empty() && text.rfind("THE END", 0) != 0) reports.push_back(text);
        } else if (kind == "stop") {
            std::string reason = e.value("reason", "");
            std::int64_t line = e.value("line", std::int64_t(0));
            static const char Long[] = "word is too long in yomikomi: ";
            bool told = false;
            for (const std::string& r : reports) {
                if (r.rfind(Long, 0) == 0) {
                    a.diagnostics.push_back(longword(t, line, r.substr(sizeof Long - 1)));
                    told = true;
                } else {
                    a.diagnostics.push_back(onword(t, line, 0, 1, r));
                    told = true;
                }
            }
            reports.clear();
            if (!told)
                a.diagnostics.push_back(onword(t, line, 0, reason == "limit" ? 3 : 2, stopmessage(reason)));
        }
    }
    flushreports();
    return a;
}

std::string normalform(const Page&, const Analysis& a, std::size_t definition) {
    // The state the definition sees: every definition, macro and statement
    // that forgets them before it, in order; then the name alone.
    std::string program;
    for (std::size_t k = 0; k <= definition && k < a.statements.size(); k++) {
        const Statement& s = a.statements[k];
        if (s.kind == "definition" || s.kind == "macro" ||
            (s.kind == "command" && (s.name == "new" || s.name == "garbage")))
            program += s.text + "\n";
    }
    const std::string& name = a.statements[definition].name;
    program += name + ";\n";
    std::int64_t finalline = std::int64_t(std::count(program.begin(), program.end(), '\n'));
    std::string normal;
    bool open = false, stopped = false, finished = false;
    std::int64_t last = 0;
    for (const json& e : run(program, {"--warn", "--keep-going", "--readback", budget(HoverSteps)})) {
        std::string kind = e.value("event", "");
        if (kind == "statement") {
            last = e.value("line", std::int64_t(0));
            normal.clear();
        } else if (kind == "warning" && e.value("text", "").find("neither defined nor bound") != std::string::npos) {
            // Before the name's statement: a definition of the program
            // itself; at it or after: a name the term uses, in it or in a
            // definition it uses (those are told when an expression runs).
            if (last == finalline) open = true;
        } else if (kind == "out" && e.value("part", "") == "normal") {
            normal += e.value("text", "");
        } else if (kind == "stop" && e.value("line", std::int64_t(0)) == last) {
            stopped = true;
        } else if (kind == "result" && e.value("line", std::int64_t(0)) == last) {
            finished = true;
        }
    }
    if (open) return "";  // not a closed term: no normal form to show
    if (stopped || !finished) return "no normal form within " + std::to_string(HoverSteps) + " steps";
    while (!normal.empty() && (normal.back() == '\n' || normal.back() == ' ')) normal.pop_back();
    return normal;
}
