// The statement cycle: tokenize the next statement, dispatch on its first
// token (a command word) or its second ("=" makes a definition), otherwise
// evaluate it as an expression.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"
#include "reduce/reduce.h"

#include <cstdlib>
#include <cstring>
#include <string>

// Parses the fixed text of a constant term.
static Ref constantterm(const char* text) {
    setline(text);
    int n = yomikomi(0);
    return fterm(0, n);
}

// "new" and "garbage" forget every name interned since start-up.
static void cutatoms() {
    AtomTop = StartupAtomTop;
    forgetkept();
    forgetstartupdefinitions();
}

// Prints a whole term of the statement on a line of its own, a part of the
// transcript.
static void printline(Ref t, Part part) {
    outpart(part);
    DepthPhase = "printterm";
    printterm(t, false);
    outs("\n");
}

// The statement under way has expanded or reduced a term, and so may have
// rewritten the bodies of definitions: a stop then gives them back
// (restoredefinitions).
static bool Rewriting = false;

// The same, short: the line of a statement stopped part way.
static void printshortline(Ref t, Part part) {
    outpart(part);
    DepthPhase = "printterm";
    printstopped(t);
    outs("\n");
}

// The reduction of CurrentRoot to its normal form.
//
// The reducer's records of the statement before are forgotten here, before
// this one reduces, rather than as that one ended: nothing between two
// reductions reads them (the printers see a finished node as one reached
// once), and the run that ends after its last expression, as a script
// usually does, is spared a pass over every node that expression used.
static Ref normalform() {
    newnodes = 0;
    statsreducing();
    DepthPhase = "reduce";
    forgetfinished();
    // A safe point for Ctrl-C that came while the statement was read,
    // parsed, printed or drawn: it stops before its first step.
    if (interruptpending()) {
        takeinterrupt();
        stopstatement(Stop::Interrupt);
    }
    return normalize(CurrentRoot);
}

// The reduction of CurrentRoot, its normal-form and newnodes lines; the
// expression's result.
static Ref reduceroot() {
    Ref t = normalform();
    printnormal(t);
    printnewnodes();
    StoppedRoot = NoNode;  // nothing waits for "normal" any more
    return t;
}

Ref evalexpr(int n) {
    statsexpression();
    // A term stopped earlier can be taken up only by "normal" as the next
    // expression: another expression begins, so its nodes are let go
    // before this one needs the pool.
    StoppedRoot = NoNode;
    DepthPhase = "fterm";
    Ref t = fterm(0, n);
    printline(t, Part::Parsed);
    watchparsed(t);
    Rewriting = true;
    DepthPhase = "expand";
    t = expand(t);  // no allocation from the parse until CurrentRoot holds t
    printline(t, Part::Expanded);
    watchexpanded(t);
    CurrentRoot = t;
    strategiescopy(t);
    watchreducing(false);
    Ref r = reduceroot();
    strategiesreduced(r);
    watchnormal(r);
    return r;
}

Ref quietexpr(int n) {
    statsexpression();
    StoppedRoot = NoNode;  // as evalexpr: another expression begins
    DepthPhase = "fterm";
    Ref t = fterm(0, n);
    profileclaim(t, NoNode);
    if (WarnOn) checknames();
    Rewriting = true;
    DepthPhase = "expand";
    CurrentRoot = expand(t);  // no allocation from the parse until CurrentRoot holds it
    Ref r = normalform();
    StoppedRoot = NoNode;  // nothing waits for "normal" any more
    return r;
}

void printnewnodes() {
    outpart(Part::Newnodes);
    outf("newnodes = %d\n", newnodescount());
}

// The report of a stopped statement that concerns its term: with insatu
// after exhaustion, the term under reduction; the newnodes line.
static void stopreport(Stop why) {
    if (why == Stop::Exhausted && insatu && CurrentRoot != NoNode) {
        try {
            DepthPhase = "printterm";
            // A run that goes on shows it short, as a steered stop does.
            if (Options.keepgoing && TraceLines < 0) printshortline(CurrentRoot, Part::Insatu);
            else printline(CurrentRoot, Part::Insatu);
        } catch (const StatementStop&) {  // too deep to print: its own report is out
        }
    }
    if (why != Stop::Reading) printnewnodes();
}

// The line a diagnostic about the statement names.
static long long statementline() {
    return static_cast<long long>(StatementLine != 0 ? StatementLine : LineNumber);
}

// The names of the stops in the "stop" event, in the order of Stop.
static const char* const StopNames[] = {"exhausted", "depth", "reading", "limit", "interrupt", "dropped"};

// The "stop" event: why the statement stopped, at which line, after how
// many steps, and whether the run ends with it.
static void eventstop(Stop why, bool endsrun) {
    if (!EventsOn) return;
    eventwrite("stop", {{"reason", StopNames[int(why)]},
                        {"line", statementline()},
                        {"steps", statementsteps()},
                        {"ends_run", endsrun}});
}

[[noreturn]] void endstatement(Stop why) {
    EndingStop = int(why);
    eventstop(why, true);
    stopreport(why);
    theend();
}

// The atom table's fill level as the statement under way found it.
static std::int32_t StatementAtoms = -1;
// The collector's markings past its stack when the statement began.
static std::uint64_t StatementDeepMarkings = 0;

void notedeepmarking() {
    if (DeepMarkings == StatementDeepMarkings) return;
    StatementDeepMarkings = DeepMarkings;
    diagf("%lld: a path deeper than the collector's mark stack (%d entries) was marked without it",
          statementline(), MarkStackSize);
}

// Puts the graph back at rest after a stop in the middle of a statement: the
// parser's partial terms, and the rewrite the pool's exhaustion cut short.
// Every live node is then reachable from the roots, none half rewritten.  (A
// walk the stop cut short ended as the stop unwound through it; the
// reducer's records may stay until the next reduction forgets them.)
static void graphatrest() {
    endcut(true);
    ParseRootTop = 0;
}

// When the pool cannot hold the definitions' bodies after a stop: the
// stopped term and the last result go, and the collection that follows
// frees them.
static void letgoforbodies() {
    if (StoppedRoot != NoNode)
        diagf("%lld: the stopped term is let go: the definitions need the pool", statementline());
    StoppedRoot = CurrentRoot = NoNode;
    if (LastResult != NoNode && node(LastResult).kind != DEFINITION) LastResult = NoNode;
}

// After a stop: the definitions the statement may have rewritten are given
// back their bodies, so nothing of it stays reachable but the stopped term
// that "normal" can take up.
static void undorewrites() {
    if (!Rewriting) return;
    Rewriting = false;
    restoredefinitions(letgoforbodies);
}

void statementstopped(const StatementStop& stop) {
    Stop why = stop.why;
    if (Options.keepgoing || why == Stop::Dropped || why == Stop::Limit || why == Stop::Interrupt)
        eventstop(why, false);
    switch (why) {
    case Stop::Dropped:
        if (StatementLine != 0)
            diagf("%lld: interrupted: the unfinished statement is dropped", statementline());
        else
            diagf("interrupted: the statement being read is dropped");
        StatementsStopped = true;
        skipstatement();  // from a pipe, the rest of its text when it comes
        return;
    case Stop::Limit:
    case Stop::Interrupt:
        // Steered to a stop between two rewrites: the term so far is the
        // statement's normal-form line, and "normal" reduces it on.
        // The term as it stands, short; --trace, which shows the steps,
        // shows the whole of it.
        try {
            DepthPhase = "printterm";
            if (TraceLines >= 0) printline(CurrentRoot, Part::Normal);
            else printshortline(CurrentRoot, Part::Normal);
        } catch (const StatementStop&) {  // too deep to print: its own report is out
            graphatrest();
        }
        printnewnodes();
        watchstopped(why);
        if (why == Stop::Limit)
            diagf("%lld: statement stopped after %llu steps", statementline(),
                  static_cast<unsigned long long>(MaxSteps));
        else
            diagf("%lld: statement interrupted after %llu steps", statementline(),
                  static_cast<unsigned long long>(statementsteps()));
        StoppedRoot = CurrentRoot;
        undorewrites();
        StatementsStopped = true;
        return;
    default:
        break;
    }
    watchstopped(why);
    if (!Options.keepgoing) {
        if (WarnOn && LimitNote[0] != '\0') diagf("%lld: %s", statementline(), LimitNote);
        endstatement(why);
    }
    if (stop.lineopen) outs("\n");  // the report's line, which THE END would have ended
    stopreport(why);
    graphatrest();
    // A term stopped this way cannot be taken up again: its nodes are free
    // to go, and so are those of a stopped term whose resumption stopped.
    if (StoppedRoot == CurrentRoot) StoppedRoot = NoNode;
    CurrentRoot = NoNode;
    undorewrites();
    // Nothing refers to the names the statement added to the atom table
    // any more (its partial term is dropped; a definition is made only once
    // its body is read), so they go: a table the statement filled would
    // stop every later statement that brings a name.
    if (AtomTop > StatementAtoms) AtomTop = StatementAtoms;
    skipstatement();
    const char* what = why == Stop::Exhausted ? "the pool is exhausted"
                       : why == Stop::Depth   ? "nesting too deep"
                       : LimitNote[0] != '\0' ? LimitNote
                                              : "the statement cannot be read";
    diagf("%lld: statement stopped: %s", statementline(), what);
    LimitNote[0] = '\0';
    StatementsStopped = true;
}

// A limit that refused part of a statement without stopping it (a macro the
// table cannot take): the note, where a user asked for more than the
// transcript says.
static void notelimitrefusal() {
    if (LimitNote[0] == '\0') return;
    if (WarnOn || Options.keepgoing) diagf("%lld: %s", statementline(), LimitNote);
    LimitNote[0] = '\0';
}

bool SummarizeCollections = false;

// n with a comma between each three digits: 372,142.
static std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); i++) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// The line that sums up a statement's collections at a terminal.
static void summarizecollections(std::uint64_t collections, std::uint64_t freed) {
    if (!SummarizeCollections || collections == 0) return;
    std::fprintf(terminalout(), "kestrivo: %s collection%s freed %s nodes\n", grouped(collections).c_str(),
                 collections == 1 ? "" : "s", grouped(freed).c_str());
    std::fflush(terminalout());
}

#ifdef KESTRIVO_STRESS_GC
// The stress build's check between statements.  A failure is a bug of the
// interpreter, never of the program: it is named on standard error, after
// the transcript so far, and the process aborts.
static void checkpool() {
    const char* fault = poolcheck();
    if (*fault == '\0') return;
    std::fflush(Output);
    diagf("bug: the pool check failed: %s", fault);
    std::abort();
}
#endif

void forgetall() {
    CurrentRoot = NoNode;
    StoppedRoot = NoNode;
    cutatoms();
    LastResult = NoNode;
}

static inline bool is(const char* token, const char* word) { return std::strcmp(token, word) == 0; }

// The command words, in the order statement() tries them.
static const char* const Commands[] = {"exit", "new", "space", "write", "writeln",
                                       "normal", "garbage", "insatu", "noinsatu"};

// The "statement" event: what statement() is about to make of the n + 1
// tokens read.
static void eventkind(int n) {
    const char* word = starray[0];
    if (is(word, "macro")) return eventstatement("macro", n >= 1 ? starray[1] : nullptr);
    for (const char* command : Commands)
        if (is(word, command)) return eventstatement("command", word);
    if (n >= 1 && is(starray[1], "=")) return eventstatement("definition", word);
    eventstatement("expression", nullptr);
}

void maketermconstants() {
    AtomTop = -1;
    TrueNode = constantterm("lambda x y x;");
    FalseNode = constantterm("lambda x y y;");
    ErrorAtom = fatom("'ERROR!!");
    StartupAtomTop = AtomTop;
    setline("");
    LastResult = NoNode;
}

// One statement: tokenize it, then dispatch.
static void statement() {
    DepthPhase = "fterm";
    int n = yomikomi(0);
    if (n == CommandRead) {  // a command typed at the terminal
        sessioncommand(typedcommand());
        return;
    }
    if (n < 0) return;  // an empty statement
    if (EventsOn) eventkind(n);
    const char* word = starray[0];
    if (is(word, "macro")) {
        defmacro(n);
    } else if (is(word, "exit")) {
        theend();
    } else if (is(word, "new")) {
        cutatoms();
    } else if (is(word, "space")) {
        outpart(Part::Output);
        outs(" ");
        outpart(Part::Report);  // the line goes on: what follows is not the program's
    } else if (is(word, "write")) {
        outpart(Part::Output);
        if (n >= 1) outs(starray[1]);
        outpart(Part::Report);
    } else if (is(word, "writeln")) {
        outpart(Part::Output);
        if (n >= 1) outs(starray[1]);
        outs("\n");
    } else if (is(word, "normal")) {
        if (StoppedRoot != NoNode) {  // the stopped expression reduces on
            statsexpression();
            Rewriting = true;
            CurrentRoot = StoppedRoot;
            watchreducing(true);
            LastResult = reduceroot();
            watchresult(LastResult);
            return;
        }
        DepthPhase = "expand";
        if (LastResult != NoNode) LastResult = expand(LastResult);
    } else if (is(word, "garbage")) {
        forgetall();
        collect(NoNode, NoNode);
    } else if (is(word, "insatu")) {
        insatu = true;
    } else if (is(word, "noinsatu")) {
        insatu = false;
    } else if (n >= 1 && is(starray[1], "=")) {
        Ref d = defname(n);
        if (d != NoNode) LastResult = d;
    } else {
        LastResult = evalexpr(n);
    }
}

[[noreturn]] void commandloop() {
    sessionstart();
    StatementDeepMarkings = DeepMarkings;
    try {
        maketermconstants();
    } catch (const StatementStop& stop) {
        endstatement(stop.why);
    }
    for (;;) {
        statsbegin();
        steerstatement();
        Rewriting = false;
        LimitNote[0] = '\0';
        std::uint64_t collections = Collections, freed = FreedNodes;
        StatementAtoms = AtomTop;
        StatementDeepMarkings = DeepMarkings;
        try {
            statement();
        } catch (const StatementStop& stop) {
            endtrace();
            watchend();
            statementstopped(stop);
        }
        statsend();
        endtrace();
        watchend();
        strategiesend();
        notedeepmarking();
        notelimitrefusal();
        // The last safe point for Ctrl-C that came after the statement's
        // last one (while its normal form was printed or drawn, or in a
        // statement that does not reduce): nothing is left to stop.
        if (interruptpending()) {
            takeinterrupt();
            diagf("%lld: interrupted after the statement's end", statementline());
        }
        // Read from a pipe or a terminal, each statement's output is seen
        // as soon as it is made.
        if (InputWaits) outflush();
        summarizecollections(Collections - collections, FreedNodes - freed);
#ifdef KESTRIVO_STRESS_GC
        checkpool();
#endif
    }
}
