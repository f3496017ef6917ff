// The statement cycle: tokenize the next statement, dispatch on its first
// token (a command word) or its second ("=" makes a definition), otherwise
// evaluate it as an expression.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"
#include "reduce/reduce.h"

#include <cstring>

// Parses the fixed text of a constant term.
static Ref constantterm(const char* text) {
    setline(text);
    int n = yomikomi(0);
    return fterm(0, n);
}

// "new" and "garbage" forget every name interned since start-up.
static void cutatoms() {
    AtomTop = StartupAtomTop;
    forgetstartupdefinitions();
}

// Prints a whole term of the statement on a line of its own.
static void printline(Ref t) {
    DepthPhase = "printterm";
    printterm(t, false);
    outs("\n");
}

Ref evalexpr(int n) {
    DepthPhase = "fterm";
    Ref t = fterm(0, n);
    printline(t);
    DepthPhase = "expand";
    t = expand(t);  // no allocation from the parse until CurrentRoot holds t
    printline(t);
    CurrentRoot = t;
    newnodes = 0;
    DepthPhase = "reduce";
    t = normalize(t);
    forgetfinished();
    printline(t);
    printnewnodes();
    return t;
}

void printnewnodes() { outf("newnodes = %d\n", newnodescount()); }

[[noreturn]] void endstatement(Stop why) {
    if (why == Stop::Exhausted && insatu && CurrentRoot != NoNode) {
        try {
            DepthPhase = "printterm";
            printline(CurrentRoot);
        } catch (const StatementStop&) {  // too deep to print: its own report is out
        }
    }
    if (why != Stop::Reading) printnewnodes();
    theend();
}

static inline bool is(const char* token, const char* word) { return std::strcmp(token, word) == 0; }

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
    if (n < 0) return;  // an empty statement
    const char* word = starray[0];
    if (is(word, "macro")) {
        defmacro(n);
    } else if (is(word, "exit")) {
        theend();
    } else if (is(word, "new")) {
        cutatoms();
    } else if (is(word, "space")) {
        outs(" ");
    } else if (is(word, "write")) {
        if (n >= 1) outs(starray[1]);
    } else if (is(word, "writeln")) {
        if (n >= 1) outs(starray[1]);
        outs("\n");
    } else if (is(word, "normal")) {
        DepthPhase = "expand";
        if (LastResult != NoNode) LastResult = expand(LastResult);
    } else if (is(word, "garbage")) {
        CurrentRoot = NoNode;
        cutatoms();
        LastResult = NoNode;
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
    try {
        maketermconstants();
    } catch (const StatementStop& stop) {
        endstatement(stop.why);
    }
    for (;;) {
        try {
            statement();
        } catch (const StatementStop& stop) {
            endstatement(stop.why);
        }
        // Read from a pipe or a terminal, each statement's output is seen
        // as soon as it is made.
        if (InputWaits) outflush();
#ifdef KESTRIVO_STRESS_GC
        const char* fault = poolcheck();
        if (*fault) {
            outf("pool check failed: %s\n", fault);
            endrun(3);
        }
#endif
    }
}
