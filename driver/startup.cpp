// Start-up and the end of a run.  runkestrivo reads the command line, starts
// the interpreter on a thread of its own whose stack is sized from the pool
// (deep terms recurse deeply, and the depth guard needs a stack it can
// measure), and returns the exit status once the run has ended.
#include "driver/driver.h"

#include "reader/reader.h"
#include "store/store.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

std::FILE* InputStream = nullptr;
std::FILE* Output = stdout;
std::string LineBuffer;
Ref CurrentRoot = NoNode;
Ref LastResult = NoNode;
bool insatu = false;
char* StackLimit = nullptr;
const char* DepthPhase = "fterm";

void outf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Output, format, args);
    va_end(args);
}

[[noreturn]] void endrun(int status) {
    std::fflush(Output);
    throw RunEnd{status};
}

[[noreturn]] void theend() {
    outs("THE END...................\n");
    endrun(0);
}

[[noreturn]] void depthover() {
    outf("depth is overflow in %s\n", DepthPhase);
    outf("newnodes = %d\n", newnodescount());
    theend();
}

#ifdef KESTRIVO_FUZZ
std::uint64_t FuzzSteps = 0;
void fuzzstep() {
    if (++FuzzSteps > FuzzStepBudget) endrun(0);
}
#endif

// The command line's numbers, read as atoi reads them (leading blanks, a
// sign, digits up to the first other character, none giving 0), but
// saturating instead of overflowing.
static std::int32_t readcount(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    std::int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        v = v * 10 + (*text - '0');
        if (v > std::int64_t(INT_MAX) + 1) v = std::int64_t(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return std::int32_t(v);
}

struct Run {
    int argc;
    const char* const* argv;
    std::FILE* input;
    std::size_t stackbytes;
    bool opened;  // InputStream is a file this run opened
    int status;
};

// Headroom below the depth guard's limit for the frames between two checks
// and for the report itself.
constexpr std::size_t StackMargin = std::size_t(8) << 20;

// Start-up, in the order the user sees its lines: the banner, the program
// text, the pool, the node size, the token array, the free list, the number
// constants; then the statement cycle.
void resetstate() {
    InputStream = stdin;
    CurrentRoot = LastResult = NoNode;
    nil = RealZeroNode = TrueNode = FalseNode = ErrorAtom = NoNode;
    AtomTop = StartupAtomTop = -1;
    ParseRootTop = 0;
    newnodes = 0;
    freenodes = 0;
    insatu = false;
    MacroTop = -1;
    DepthPhase = "fterm";
#ifdef KESTRIVO_FUZZ
    FuzzSteps = 0;
#endif
}

[[noreturn]] static void startup(Run& run) {
    resetstate();

    outs("THIS IS KESTRIVO ************************* \n");
    if (run.input != nullptr) {
        InputStream = run.input;
    } else if (run.argc > 1) {
        InputStream = std::fopen(run.argv[1], "r");
        if (InputStream == nullptr) {
            outs("File not open\n");
            endrun(1);
        }
        run.opened = true;
    }
    std::int32_t lastblock = run.argc > 2 ? readcount(run.argv[2]) : 5;
    std::int32_t tokens = run.argc > 3 ? readcount(run.argv[3]) : 1000;
    poolstart(lastblock);
    outf("SIZE OF node = %d *** PLEASE WAIT A MOMENT.\n", int(sizeof(Node)));
    readerstart(tokens);
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
        startup(run);
    } catch (const RunEnd& end) {
        run.status = end.status;
    }
    return nullptr;
}

int runkestrivo(int argc, const char* const* argv, std::FILE* input, std::FILE* output) {
    Output = output != nullptr ? output : stdout;
    Run run{argc, argv, input, 0, false, 0};
    // The pool first: the evaluation stack below is sized from it.
    std::int32_t lastblock = argc > 2 ? readcount(argv[2]) : 5;
    std::int64_t tokens = argc > 3 ? readcount(argv[3]) : 1000;
    pooltake(lastblock);
    // Every level of recursion (reduce, normalize, expand, the printer, the
    // parser) works on a node of the pool or a slot of the token array, and a
    // level takes well under 512 bytes of stack even in a sanitizer build, so
    // this much stack lets depth alone never stop a run whose nodes fit.  It
    // is address space only, touched as the recursion goes; where the machine
    // refuses it, less is taken.
    if (tokens < 0) tokens = 0;
    std::size_t stack = (std::size_t(64) << 20) + (std::size_t(PoolSize) + std::size_t(tokens)) * 512;
    stack = std::min(stack, std::size_t(16) << 30);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_t thread;
    for (;;) {
        run.stackbytes = stack;
        if (pthread_attr_setstacksize(&attr, stack) == 0 &&
            pthread_create(&thread, &attr, runthread, &run) == 0)
            break;
        if (stack <= (std::size_t(32) << 20)) {  // no thread at all: report and stop
            std::fputs("cannot start the interpreter thread\n", Output);
            std::fflush(Output);
            pthread_attr_destroy(&attr);
            poolrelease();
            return 1;
        }
        stack /= 2;
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);

    if (run.opened) std::fclose(InputStream);
    InputStream = nullptr;
    poolrelease();
    readerrelease();
    std::fflush(Output);
    return run.status;
}
