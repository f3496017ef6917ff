// Start-up of a run: every global from scratch, the collector's roots, the
// texts to read, the pool and the reader taken, the number constants, in the
// order the user sees their lines; then the statement cycle, and every end of
// the run.  The frame around it (its thread, its stack, Ctrl-C) is frame.cpp.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

#include <cstring>
#include <new>
#include <unistd.h>

Ref CurrentRoot = NoNode;
Ref LastResult = NoNode;
Ref StoppedRoot = NoNode;
bool insatu = false;
// Start-up is over and the statement cycle has begun: how the last-resort
// memory report ends the run.
static bool Cycling = false;

void resetstate() {
    CurrentRoot = LastResult = StoppedRoot = ReadbackRoot = NoNode;
    nil = RealZeroNode = TrueNode = FalseNode = ErrorAtom = NoNode;
    AtomTop = StartupAtomTop = -1;
    forgetkept();
    ParseRootTop = 0;
    newnodes = 0;
    freenodes = 0;
    insatu = false;
    MacroTop = -1;
    EchoChoice = -1;
    DepthPhase = "fterm";
    stepsreset();
    endcut(false);
    StatementsStopped = false;
    EndingStop = -1;
    InterruptsTaken = 0;
    statsreset();
    reducestart();
#ifdef KESTRIVO_FUZZ
    FuzzSteps = 0;
#endif
}

// The collector's roots, in marking order, one line each.
void listroots() {
    clearroots();
    addroot(&TrueNode);
    addroot(&FalseNode);
    addroot(&nil);
    addroot(&RealZeroNode);
    addroot(&ErrorAtom);
    addroot(&CurrentRoot);                  // the expression statement's graph
    addroots(AtomNode, &AtomTop, 1);        // names and definitions
    addroot(&LastResult);                   // what "normal" will expand
    addroot(&StoppedRoot);                  // a stopped expression "normal" reduces on
    addroots(ParseRoots, &ParseRootTop, 0); // terms the parser holds
    addroot(&ReadbackRoot);                 // what the read-back built, while it prints
}

// Opens a file of the program text, or reports why it cannot be read:
// "File not open" on the transcript, the name and the reason on standard
// error, and the end of start-up.
static std::FILE* openprogram(const char* name) {
    int why = 0;
    std::FILE* f = opentoread(name, why);
    if (f == nullptr) {
        outs("File not open\n");
        diagf("cannot open '%s': %s", name, std::strerror(why));
        endrun(1);
    }
    return f;
}

// The texts to read, in order: the files to load, the program, and with -i
// the terminal after a program file.
static void listinputs(const Run& run) {
    for (int i = 0; i < Options.loadcount; i++) inputadd(openprogram(Options.loads[i]), true);
    bool fromstdin = Options.file == nullptr || std::strcmp(Options.file, "-") == 0;
    if (run.input != nullptr)
        inputadd(run.input, false);
    else if (fromstdin)
        inputadd(stdin, false);
    else
        inputadd(openprogram(Options.file), true);
    if (Options.interactive && (run.input != nullptr || !fromstdin)) inputadd(stdin, false);
}

// Start-up, in the order the user sees its lines: the banner, the program
// text, the pool, the node size, the token array, the free list, the number
// constants; then the statement cycle.
[[noreturn]] static void startup(Run& run) {
    resetstate();
    eventstart();
    EchoChoice = Options.echo;
    InterruptsSteer = Options.steerinterrupts;
    Cycling = false;
    // What the lower subsystems need of the command line.
    SummarizeCollections = Options.session && !Options.quietgc && !Options.gcreports;
    QuietCollections = Options.quietgc || SummarizeCollections;
    DiagOwnLine = Options.session && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    DeepMarking = Options.deepmarking || Options.keepgoing;
    MaxSteps = Options.maxsteps;
    TraceLines = Options.trace;
    ProfileOn = Options.profile;
    outpart(Part::Startup);
    outs("THIS IS KESTRIVO ************************* \n");
    listinputs(run);
    if (run.poolreport != PoolTaken) {
        outf("MEMORY OVER %lld\n", static_cast<long long>(run.poolreport));
        endrun(1);
    }
    poolstart();
    profilestart();
    watchstart();
    outpart(Part::Startup);
    outf("SIZE OF node = %d *** PLEASE WAIT A MOMENT.\n", int(sizeof(Node)));
    readerstart(Options.tokens);
    listroots();
    freenodes = sweep(true);
    outpart(Part::Startup);
    outf("FreeNodes = %u\n", freenodes);
    makenumberconstants();
    Cycling = true;
    commandloop();
}

void makenumberconstants() {
    nil = takenode();
    node(nil).kind = INTEGER;
    node(nil).left = 0;
    RealZeroNode = takenode();
    node(RealZeroNode).kind = REAL;
    node(RealZeroNode).left = 0;  // the bits of 0.0f
}

// The last resort for memory refused where no report of its own is made:
// every allocation of the run is checked where it is made, so this is for
// what the C++ library itself may take.  At start-up it ends the run with
// status 1; in a statement, as the statement stops do, with THE END.
[[noreturn]] static void memoryexhausted() {
    outpart(Part::Report);  // a print may have been cut short in its line
    const char* phase = !Cycling ? "start-up" : DepthPhase != nullptr ? DepthPhase : "read-back";
    outf("memory is exhausted in %s\n", phase);
    if (Cycling) theend();
    endrun(1);
}

void runprogram(Run& run) {
    try {
        try {
            try {
                startup(run);
            } catch (const StatementStop& stop) {  // a stop outside any statement
                endstatement(stop.why);
            }
        } catch (const std::bad_alloc&) {  // from the statement or from its end
            memoryexhausted();
        }
    } catch (const RunEnd& end) {
        run.status = end.status;
    }
    // Every end of the run passes here: the figures of a statement the end
    // cut short, then the run's total.
    if (Cycling) notedeepmarking();
    statsend();
    endtrace();
    statstotal();
    latexend();
}
