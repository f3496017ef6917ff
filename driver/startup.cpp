// Start-up and the frame of a run.  runkestrivo reads the command line, takes
// the pool, starts the interpreter on a thread of its own whose stack is
// sized from the pool (deep terms recurse deeply, and the depth guard needs a
// stack it can measure), and returns the exit status once the run has ended.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

Ref CurrentRoot = NoNode;
Ref LastResult = NoNode;
bool insatu = false;

// What the run's thread needs and gives back.
struct Run {
    std::FILE* input;         // replaces the program text, when not null
    std::int64_t poolreport;  // what pooltake returned
    std::size_t stackbytes;   // the thread's stack
    int status;
};

// Every level of recursion (reduce, normalize, expand, the printer, the
// parser) works on a node of the pool or a slot of the token array, and a
// level takes well under this much stack even in a sanitizer build, so depth
// alone never stops a run whose nodes fit.
constexpr std::size_t StackPerItem = 512;
// The frames above the recursion: start-up, the statement cycle, the C
// library's own needs.
constexpr std::size_t StackBase = std::size_t(64) << 20;
// No machine is asked for more; the stack is address space, touched only as
// the recursion goes.
constexpr std::size_t StackMost = std::size_t(16) << 30;
// Below this no run is worth starting: the machine is refused by halving
// down to it, then "cannot start the interpreter thread".
constexpr std::size_t StackLeast = std::size_t(32) << 20;
// Headroom below the depth guard's limit for the frames between two checks
// and for the report itself.
constexpr std::size_t StackMargin = std::size_t(8) << 20;

void resetstate() {
    CurrentRoot = LastResult = NoNode;
    nil = RealZeroNode = TrueNode = FalseNode = ErrorAtom = NoNode;
    AtomTop = StartupAtomTop = -1;
    ParseRootTop = 0;
    newnodes = 0;
    freenodes = 0;
    insatu = false;
    MacroTop = -1;
    EchoChoice = -1;
    DepthPhase = "fterm";
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
    addroots(ParseRoots, &ParseRootTop, 0); // terms the parser holds
}

// Opens a file of the program text, or reports why it cannot be read:
// "File not open" on the transcript, the name and the reason on standard
// error, and the end of start-up.
static std::FILE* openprogram(const char* name) {
    std::FILE* f = std::fopen(name, "r");
    int why = errno;
    struct stat st;
    if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        f = nullptr;
        why = EISDIR;
    }
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
    EchoChoice = Options.echo;
    outs("THIS IS KESTRIVO ************************* \n");
    listinputs(run);
    if (run.poolreport != PoolTaken) {
        outf("MEMORY OVER %lld\n", static_cast<long long>(run.poolreport));
        endrun(1);
    }
    poolstart();
    outf("SIZE OF node = %d *** PLEASE WAIT A MOMENT.\n", int(sizeof(Node)));
    readerstart(Options.tokens);
    listroots();
    freenodes = sweep(true);
    outf("FreeNodes = %u\n", freenodes);
    makenumberconstants();
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

static void* runthread(void* arg) {
    Run& run = *static_cast<Run*>(arg);
    char base;
    StackLimit = &base - (run.stackbytes - StackMargin);
    try {
        try {
            startup(run);
        } catch (const StatementStop& stop) {  // a stop outside any statement
            endstatement(stop.why);
        }
    } catch (const RunEnd& end) {
        run.status = end.status;
    }
    return nullptr;
}

int runkestrivo(int argc, const char* const* argv, std::FILE* input, std::FILE* output,
                std::FILE* errors) {
    Output = output != nullptr ? output : stdout;
    Diagnostics = errors != nullptr ? errors : stderr;
    int status = readcommandline(argc, argv, Options);
    if (status >= 0) {
        std::fflush(Output);
        return status;
    }
    // At the terminal a mistake should not end the session: warnings and
    // keep-going are on there.
    bool fromstdin = input == nullptr && (Options.file == nullptr || std::strcmp(Options.file, "-") == 0);
    if (Options.interactive || (fromstdin && isatty(STDIN_FILENO))) {
        Options.warn = true;
        Options.keepgoing = true;
    }
    Run run{input, PoolTaken, 0, 0};
    // The pool first: the evaluation stack below is sized from it.
    run.poolreport = pooltake(Options.lastblock);
    std::size_t tokens = std::size_t(std::max(Options.tokens, std::int32_t(0)));
    std::size_t stack = StackBase + (std::size_t(PoolSize) + tokens) * StackPerItem;
    stack = std::min(stack, StackMost);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_t thread;
    for (;;) {
        run.stackbytes = stack;
        if (pthread_attr_setstacksize(&attr, stack) == 0 &&
            pthread_create(&thread, &attr, runthread, &run) == 0)
            break;
        if (stack <= StackLeast) {  // no thread at all: report and stop
            outs("cannot start the interpreter thread\n");
            std::fflush(Output);
            pthread_attr_destroy(&attr);
            poolrelease();
            return 1;
        }
        stack /= 2;
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);

    inputrelease();
    poolrelease();
    readerrelease();
    std::fflush(Output);
    return run.status;
}
