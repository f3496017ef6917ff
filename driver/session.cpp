// Commands typed at the terminal.  A typed line whose first non-blank
// character is ":" is a command to the session, never program text: the
// reader hands it up in place of a statement (yomikomi returns CommandRead)
// and the statement cycle carries it out here.  A file or a pipe has no
// commands, so its run is what it always was.
//
// Each command is a row of SessionCommands: its word, what it takes, its
// line of :help and what it does.  A command may be shortened to any
// beginning that is its alone (":q", ":rel").  A command's mistake (an
// unknown word, a missing or wrong argument, a file that cannot be opened)
// is one line on standard error, and the session goes on.  What a command
// tells the user goes to the terminal (terminalout), like the prompt, so a
// transcript sent to a file holds none of it; what it runs (the statements of
// a file it loads) goes to the transcript as any statement's output does.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"
#include "reduce/reduce.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

// Files read at the user's asking, by name, in the order first asked for:
// the -l files, the program file read before the terminal (-i), and every
// file :load read since.  :reload reads them again in that order.
static std::vector<std::string> Loaded;

// One line to the terminal.
static void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void say(const char* format, ...) {
    std::FILE* to = terminalout();
    va_list args;
    va_start(args, format);
    std::vfprintf(to, format, args);
    va_end(args);
    std::fputc('\n', to);
}

// The argument as on or off: 1, 0, or -1 with a message when it is neither.
static int onoff(const char* command, const char* argument) {
    if (std::strcmp(argument, "on") == 0) return 1;
    if (std::strcmp(argument, "off") == 0) return 0;
    diagf("%s takes on or off, not '%s'", command, argument);
    return -1;
}

// The switch commands: without an argument each says how it stands.
static void switchcommand(const char* command, const char* argument, bool& value) {
    if (*argument == '\0') {
        say("%s is %s", command + 1, value ? "on" : "off");
        return;
    }
    int on = onoff(command, argument);
    if (on >= 0) value = on == 1;
}

static void stats(const char* argument) { switchcommand(":stats", argument, Options.stats); }
static void readback(const char* argument) { switchcommand(":readback", argument, Options.readback); }

static void trace(const char* argument) {
    bool on = TraceLines >= 0;
    switchcommand(":trace", argument, on);
    if (on == (TraceLines >= 0)) return;
    TraceLines = on ? (Options.trace >= 0 ? Options.trace : DefaultTraceLines) : -1;
}

static void warn(const char* argument) {
    bool on = WarnOn;
    switchcommand(":warn", argument, on);
    if (on && !KeepPlaces) {  // the places of tokens are kept only from start-up on
        diagf(":warn on needs a run started with --warn");
        return;
    }
    WarnOn = on;
}

static void gc(const char* argument) {
    bool on = !QuietCollections;
    switchcommand(":gc", argument, on);
    QuietCollections = !on;
    SummarizeCollections = false;  // the user chose
}

// Opens a file to read for :load or :reload; null, with the reason on
// standard error, when it cannot be read.
static std::FILE* openfile(const char* name) {
    int why = 0;
    std::FILE* f = opentoread(name, why);
    if (f == nullptr) diagf("cannot open '%s': %s", name, std::strerror(why));
    return f;
}

// Reads the named file next, before the terminal; false when it cannot be.
static bool readnext(const std::string& name) {
    std::FILE* f = openfile(name.c_str());
    if (f == nullptr) return false;
    if (!inputload(f)) {
        std::fclose(f);
        diagf("cannot read '%s': too many files are waiting to be read", name.c_str());
        return false;
    }
    return true;
}

static void load(const char* argument) {
    if (*argument == '\0') {
        diagf(":load needs the name of a file");
        return;
    }
    std::string name(argument);
    if (!readnext(name)) return;
    for (const std::string& n : Loaded)
        if (n == name) return;
    Loaded.push_back(name);
}

// Every definition and macro forgotten, then the loaded files read again.
static void reload(const char*) {
    if (Loaded.empty()) {
        diagf(":reload: no file has been loaded");
        return;
    }
    forgetall();
    MacroTop = -1;
    int read = 0;
    for (const std::string& name : Loaded) read += readnext(name) ? 1 : 0;
    say("definitions and macros forgotten; %d file%s to read again", read, read == 1 ? "" : "s");
}

static void defs(const char*) {
    std::string names;
    for (std::int32_t i = 0; i <= AtomTop; i++)
        if (node(AtomNode[i]).kind == DEFINITION) names += std::string(" ") + AtomName[i];
    say("definitions:%s", names.empty() ? " none" : names.c_str());
    names.clear();
    for (std::int32_t i = 0; i <= MacroTop; i++) names += std::string(" ") + MacroTable[i].name;
    say("macros:%s", names.empty() ? " none" : names.c_str());
}

// The atom entry of a defined name, or -1.
static std::int32_t definitionentry(const char* name) {
    for (std::int32_t i = AtomTop; i >= 0; i--)
        if (std::strcmp(AtomName[i], name) == 0) return node(AtomNode[i]).kind == DEFINITION ? i : -1;
    return -1;
}

// A name :show does not know: the nearest known one, when one is close.
static void unknownname(const char* name) {
    const char* near = nearestname(name);
    if (near != nullptr)
        diagf(":show: '%s' is neither defined nor a macro; did you mean '%s'?", name, near);
    else
        diagf(":show: '%s' is neither defined nor a macro", name);
}

// The definition as written and as expanded.  The expansion is the one the
// definition's first use in an expression makes, made now if no expression
// has used it yet: from then on its names stand for what they stand for now.
static void show(const char* argument) {
    if (*argument == '\0') {
        diagf(":show needs a defined name or a macro");
        return;
    }
    int row = macrofind(argument);
    if (row >= 0) {  // the body is its tokens, each with a blank after it, then ";"
        std::string body(MacroTable[row].body);
        body.erase(body.find_last_not_of(" ;") + 1);
        say("macro %s %s;", MacroTable[row].name, body.c_str());
        return;
    }
    std::int32_t i = definitionentry(argument);
    if (i < 0) {
        unknownname(argument);
        return;
    }
    Ref d = AtomNode[i];
    std::FILE* to = terminalout();
    if (const std::string* text = writtentext(i)) {
        say("%s = %s;", AtomName[i], text->c_str());
    } else {
        std::fprintf(to, "%s = ", AtomName[i]);
        DepthPhase = "printterm";
        printtermto(to, node(d).left, false);
        std::fputs(";\n", to);
    }
    DepthPhase = "expand";
    Ref expanded = expand(d);
    std::fputs("expanded: ", to);
    DepthPhase = "printterm";
    printtermto(to, expanded, false);
    std::fputc('\n', to);
}

// What a normal form is, in a word or two.
static const char* kindof(Ref r) {
    while (node(r).kind == IDENT) r = node(r).left;
    switch (node(r).kind) {
    case INTEGER: return "integer";
    case REAL: return "real";
    case STRING: return "string atom";
    case CONS: return "pair";
    case LAMBDA: return "lambda";
    case SUB: return node(node(r).left).kind == LAMBDA ? "closure" : "stuck term";
    default: return "stuck term";  // an operator left unreduced, a free name
    }
}

// Reduces the term to its normal form and names what it is, as the step
// limit, the pool and every stop allow an expression statement.
static void kind(const char* argument) {
    std::string term(argument);
    std::size_t end = term.find(';');
    if (end != std::string::npos) {
        diagf(":kind takes one term; what follows ';' is left out");
        term.erase(end);
    }
    if (term.find_first_not_of(" \t") == std::string::npos) {
        diagf(":kind needs a term");
        return;
    }
    if (std::count(term.begin(), term.end(), '%') % 2 != 0) {
        diagf(":kind: a comment in the term is not closed");
        return;
    }
    term += ";";
    setline(term.c_str());
    DepthPhase = "fterm";
    int n = yomikomi(0);
    if (n < 0) {
        diagf(":kind needs a term");
        return;
    }
    Ref r = quietexpr(n);
    std::FILE* to = terminalout();
    std::fprintf(to, "%s: ", kindof(r));
    DepthPhase = "printterm";
    printtermto(to, r, false);
    std::fputc('\n', to);
}

static void quit(const char*) { theend(); }

static void help(const char*);

struct SessionCommand {
    SessionWord word;      // ":help" and what it takes, for completion
    const char* argument;  // the argument as :help shows it
    const char* what;      // its line of :help
    void (*run)(const char* argument);
};
static const SessionCommand SessionCommands[] = {
    {{":help", Takes::Nothing}, "", "these lines", help},
    {{":load", Takes::File}, "FILE", "read and run FILE, as -l does", load},
    {{":reload", Takes::Nothing}, "", "forget the definitions and macros, read the loaded files again", reload},
    {{":defs", Takes::Nothing}, "", "the defined names and the macros", defs},
    {{":show", Takes::Name}, "NAME", "a definition as written and as expanded, or a macro", show},
    {{":kind", Takes::Term}, "TERM", "reduce TERM and say what it is: integer, real, pair, closure...", kind},
    {{":stats", Takes::Switch}, "on|off", "a line of figures after each expression (--stats)", stats},
    {{":trace", Takes::Switch}, "on|off", "every rewrite on standard error (--trace)", trace},
    {{":readback", Takes::Switch}, "on|off", "normal forms in full, as plain lambda terms (--readback)", readback},
    {{":warn", Takes::Switch}, "on|off", "warnings about the program (--warn)", warn},
    {{":gc", Takes::Switch}, "on|off", "the collection reports (off: --quiet-gc)", gc},
    {{":quit", Takes::Nothing}, "", "end the session, as exit; and Ctrl-D do", quit},
};
constexpr int SessionCommandCount = int(sizeof SessionCommands / sizeof SessionCommands[0]);

static void help(const char*) {
    for (const SessionCommand& c : SessionCommands) {
        std::string left = std::string(c.word.word) + (*c.argument ? " " : "") + c.argument;
        say("  %-17s %s", left.c_str(), c.what);
    }
    say("A command may be shortened to a beginning that is its alone (:q).  Statements end");
    say("with ';' and may take several lines.  More in man kestrivo and in the language");
    say("guide, guide.md among kestrivo's documentation (docs/guide.md in its source).");
}

// The words Tab completes: the session's commands, and the statement
// cycle's command words (commandloop.cpp), which take a term's words after
// them.
static SessionWord CompletionWords[SessionCommandCount + 10];
static const char* const StatementWords[] = {"exit", "new", "garbage", "normal", "space",
                                            "write", "writeln", "insatu", "noinsatu", "macro"};
static_assert(sizeof StatementWords / sizeof StatementWords[0] == 10);
static const char Greeting[] = "Type :help for the commands of the session; Ctrl-D ends it.\n";

void sessionstart() {
    Loaded.clear();
    forgetwritten();
    if (!Options.session) return;
    for (int i = 0; i < Options.loadcount; i++) Loaded.emplace_back(Options.loads[i]);
    if (Options.file != nullptr && std::strcmp(Options.file, "-") != 0) Loaded.emplace_back(Options.file);
    int count = 0;
    for (const SessionCommand& c : SessionCommands) CompletionWords[count++] = c.word;
    for (const char* w : StatementWords) CompletionWords[count++] = SessionWord{w, Takes::Term};
    terminalwords(CompletionWords, count, Greeting);
}

void sessioncommand(const char* line) {
    while (*line == ' ' || *line == '\t') line++;
    std::size_t length = std::strcspn(line, " \t");
    std::string word(line, length);
    const char* argument = line + length;
    while (*argument == ' ' || *argument == '\t') argument++;
    std::string rest(argument);
    rest.erase(rest.find_last_not_of(" \t") + 1);  // npos + 1 clears an all-blank rest
    // The command itself, or the one command the word begins.
    const SessionCommand* found = nullptr;
    int beginning = 0;
    for (const SessionCommand& c : SessionCommands) {
        if (word == c.word.word) {
            found = &c;
            beginning = 1;
            break;
        }
        if (word.size() > 1 && std::strncmp(c.word.word, word.c_str(), word.size()) == 0) {
            found = &c;
            beginning++;
        }
    }
    if (found == nullptr || beginning != 1) {
        diagf("%s command '%s'; :help lists them", found == nullptr ? "unknown" : "ambiguous",
              word.c_str());
        return;
    }
    if (found->word.takes == Takes::Nothing && !rest.empty()) {
        diagf("%s takes no argument", found->word.word);
        return;
    }
    found->run(rest.c_str());
}
