// The frame of a run: its thread, the thread's stack, the Ctrl-C handler and
// the fuzz build's kept worker.  runkestrivo reads the command line, takes
// the pool, starts the run (runprogram, startup.cpp) on a thread of its own
// whose stack is sized from the pool and the token array (deep terms recurse
// deeply, and the depth guard needs a stack it can measure), and returns the
// exit status once the run has ended and its transcript is written.  The
// fuzz build, which runs one program after another, keeps that thread from
// run to run.
// Compiled to WebAssembly for a web page, the run takes the calling thread
// instead: a page has threads only when it is cross-origin isolated, which a
// plain static server does not give, and the module's one stack is fixed
// when it is linked.
#include "driver/driver.h"

#include "reader/reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __EMSCRIPTEN__
#include <emscripten/stack.h>
#endif

#ifndef __EMSCRIPTEN__  // the sizes of the run's own thread
// Every level of recursion (reduce, normalize, expand, the printer, the
// parser) works on a node of the pool or a slot of the token array, and a
// level takes well under this much stack even in a sanitizer build, so depth
// alone never stops a run whose nodes fit.
constexpr std::size_t StackPerItem = 512;
// The frames above the recursion: start-up, the statement cycle, the C
// library's own needs.
#ifdef KESTRIVO_FUZZ
// The fuzz build's are a few KB even under the sanitizers, and its pools are
// small (1001 to 12012 nodes, at most 972 tokens): the deepest recursion
// they allow within the step budget takes well under 0.5 MB.  A recursion
// that never ends (z = + z 1;) is what reaches deeper, and with the normal
// base it went 16 MB down before the step budget ended it and every frame
// was unwound; with this one the depth guard stops it at 1.1 to 5.7 MB, as
// the normal build's guard does, with the same report.
constexpr std::size_t StackBase = std::size_t(1) << 20;
#else
constexpr std::size_t StackBase = std::size_t(64) << 20;
#endif
// No machine is asked for more; the stack is address space, touched only as
// the recursion goes.
constexpr std::size_t StackMost = std::size_t(16) << 30;
// Below this no run is worth starting: a refusal is met by halving down to
// it, then "cannot start the interpreter thread", status 1.  It holds the
// frames above the recursion of a run with a small pool many times over.
constexpr std::size_t StackLeast = std::size_t(1) << 20;
#endif
// Headroom below the depth guard's limit for the frames between two checks
// and for the report itself: this much, or a quarter of a smaller stack.
constexpr std::size_t StackMargin = std::size_t(8) << 20;

// The run on its own thread, below the depth guard's limit for its stack.
static void* runthread(void* arg) {
    Run& run = *static_cast<Run*>(arg);
    char base;
    std::size_t margin = std::min(StackMargin, run.stackbytes / 4);
    StackLimit = &base - (run.stackbytes - margin);
    runprogram(run);
    return nullptr;
}

#ifndef __EMSCRIPTEN__  // a browser sets no address-space limit
// The bytes of address space the process has mapped, as a limit on it
// counts them: the first figure of /proc/self/statm, in pages.  Read with
// plain system calls, which take no memory; 0 when it cannot be read.
static std::size_t mappedbytes() {
    int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0) return 0;
    char text[64];
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    long page = sysconf(_SC_PAGESIZE);
    return std::size_t(std::strtoull(text, nullptr, 10)) * std::size_t(page > 0 ? page : 4096);
}

// The most stack the run's thread may take under a limit on the address
// space (ulimit -v): half of what the limit leaves beyond what is mapped
// now (the pool included) and the reader's arrays to come, so that the
// other half stays for the line buffer, the C library and the reports.
// SIZE_MAX without a limit.
static std::size_t stackroom(std::size_t reader) {
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    std::size_t most = std::size_t(limit.rlim_cur);
    std::size_t used = mappedbytes() + reader;
    return used < most ? (most - used) / 2 : 0;
}
#endif

// SIGINT only counts; the run acts on it at its next safe point (run/run.h).
// The handler cannot interrupt itself: SIGINT is blocked while it runs.
static void oninterrupt(int) { Interrupts = Interrupts + 1; }

// Ctrl-C steers the run instead of killing it.  The handler does not restart
// system calls, so a read waiting for the statement's text returns at once.
// The run's thread takes the signal: the thread that waits for it blocks it.
struct InterruptHandler {
    struct sigaction saved;
    bool installed = false;
};

static void catchinterrupt(InterruptHandler& h) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = oninterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    h.installed = sigaction(SIGINT, &action, &h.saved) == 0;
}

static void blockinterrupt(bool block) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

static void releaseinterrupt(InterruptHandler& h) {
    if (!h.installed) return;
    blockinterrupt(false);  // one still pending goes to our handler, harmlessly
    sigaction(SIGINT, &h.saved, nullptr);
}

#ifndef __EMSCRIPTEN__
// Starts a thread running body(arg) on a stack of the given size, halving a
// size the system refuses down to StackLeast; stack holds the size tried
// (set before the thread starts, so the thread may read it), and the result
// is false when not even StackLeast was given.
static bool startthread(pthread_t& thread, void* (*body)(void*), void* arg, std::size_t& stack) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
#ifdef __linux__
    // The thread starts on the processor this one runs on, which is about to
    // wait for it and leave that processor free.  Left to choose, the system
    // often starts it on an idle processor, and waking that one took 0.1 to
    // 1.2 ms on a virtual machine, more than a short run's whole work.  Once
    // started, the thread may go anywhere this one may.
    cpu_set_t anywhere;
    bool pinned = false;
    int here = sched_getcpu();
    if (here >= 0 && pthread_getaffinity_np(pthread_self(), sizeof anywhere, &anywhere) == 0) {
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(here, &only);
        pinned = pthread_attr_setaffinity_np(&attr, sizeof only, &only) == 0;
    }
#endif
    bool started = false;
    for (;;) {
        if (pthread_attr_setstacksize(&attr, stack) == 0 &&
            pthread_create(&thread, &attr, body, arg) == 0) {
            started = true;
            break;
        }
        if (stack <= StackLeast) break;
        stack = std::max(stack / 2, StackLeast);
    }
    pthread_attr_destroy(&attr);
#ifdef __linux__
    if (started && pinned) pthread_setaffinity_np(thread, sizeof anywhere, &anywhere);
#endif
    return started;
}

// No thread could be started for the run: the report, and status 1.
static int nothread(InterruptHandler& interrupt) {
    outs("cannot start the interpreter thread\n");
    releaseinterrupt(interrupt);
    poolrelease();
    return outclose(1);
}
#endif

#if defined(KESTRIVO_FUZZ) && !defined(__EMSCRIPTEN__)
// The fuzz target runs one program after another in the same process, a
// thousand or more a second.  A thread made and joined for each cost a
// quarter of that time: its fresh stack faulted in page by page, unmapped
// again at the end, and the sanitizers' bookkeeping of every thread.  So the
// fuzz build keeps one interpreter thread and hands it each run in turn; it
// is replaced only when a run asks for more stack than it has.
namespace {
struct Worker {
    pthread_t thread;
    std::size_t stackbytes = 0;  // its stack; 0 while there is no thread
    Run* run = nullptr;          // the run handed over; null asks it to end
    sem_t go;                    // posted when run is set
    sem_t done;                  // posted when the run has ended
    bool semaphores = false;     // go and done are initialized
};
Worker Interpreter;
}  // namespace

// A wait that a signal handler (the fuzzer's timeout alarm) interrupts goes on.
static void waitfor(sem_t& sem) {
    while (sem_wait(&sem) != 0) {}
}

static void* workerloop(void*) {
    // The fuzzer's timeout alarm is acted on only on the fuzzer's own thread,
    // which waits for the run: it must not land here.
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    for (;;) {
        waitfor(Interpreter.go);
        if (Interpreter.run == nullptr) return nullptr;
        runthread(Interpreter.run);
        sem_post(&Interpreter.done);
    }
}

// Makes the run on the kept thread, first replacing the thread by one with
// a stack of the size asked when its own is smaller.  False when no thread
// could be started.
static bool runonworker(Run& run, std::size_t stack, bool blocksigint) {
    if (Interpreter.stackbytes < stack) {
        if (Interpreter.stackbytes > 0) {
            Interpreter.run = nullptr;
            sem_post(&Interpreter.go);
            pthread_join(Interpreter.thread, nullptr);
        } else if (!Interpreter.semaphores) {
            sem_init(&Interpreter.go, 0, 0);
            sem_init(&Interpreter.done, 0, 0);
            Interpreter.semaphores = true;
        }
        Interpreter.stackbytes = stack;
        if (!startthread(Interpreter.thread, workerloop, nullptr, Interpreter.stackbytes)) {
            Interpreter.stackbytes = 0;
            return false;
        }
    }
    run.stackbytes = std::min(stack, Interpreter.stackbytes);
    Interpreter.run = &run;
    sem_post(&Interpreter.go);
    if (blocksigint) blockinterrupt(true);
    waitfor(Interpreter.done);
    return true;
}
#endif

int runkestrivo(int argc, const char* const* argv, std::FILE* input, std::FILE* output,
                std::FILE* errors) {
    Output = output != nullptr ? output : standardoutput();
    OutputFd = output != nullptr ? fileno(output) : STDOUT_FILENO;
    Diagnostics = errors != nullptr ? errors : standarderror();
    int status = readcommandline(argc, argv, Options);
    if (status >= 0) return outclose(status);
    // At the terminal a mistake should not end the session: warnings and
    // keep-going are on there, and typed ":" lines are commands.
    bool fromstdin = input == nullptr && (Options.file == nullptr || std::strcmp(Options.file, "-") == 0);
    if (Options.interactive || (fromstdin && isatty(STDIN_FILENO))) {
        Options.warn = true;
        Options.keepgoing = true;
        Options.session = true;
    }
    Run run{input, PoolTaken, 0, 0};
    // The pool first: the evaluation stack below is sized from it and from
    // the token array, and under a limit takes a share of what they leave.
    run.poolreport = pooltake(Options.lastblock);
    // Only the real program, which owns standard input, takes over Ctrl-C;
    // tests, benchmarks and the fuzz target run in-process with their own input.
    InterruptHandler interrupt;
    Interrupts = 0;
    if (input == nullptr) catchinterrupt(interrupt);

#ifdef __EMSCRIPTEN__
    // In a browser the module's own stack is not what bounds the recursion:
    // the browser's call stack, which the module cannot see, runs out first,
    // at 34 to 85 KB of the module's stack in the programs measured (the
    // range is how differently reduce, normalize, the printer and the parser
    // use the two stacks).  The run is given 32 KB of it, so the guard, a
    // quarter short of that, stops the statement at 24 KB, well before.
    constexpr std::size_t BrowserStack = std::size_t(32) << 10;
    run.stackbytes = std::min(std::size_t(emscripten_stack_get_base() - emscripten_stack_get_end()),
                              BrowserStack);
    runthread(&run);
#else
    std::size_t tokens = std::size_t(std::max(Options.tokens, std::int32_t(0)));
    std::size_t stack = StackBase + (std::size_t(PoolSize) + tokens) * StackPerItem;
    stack = std::min({stack, StackMost, stackroom(readerbytes(Options.tokens))});
    stack = std::max(stack, StackLeast);

#ifdef KESTRIVO_FUZZ
    if (!runonworker(run, stack, interrupt.installed)) return nothread(interrupt);
#else
    pthread_t thread;
    run.stackbytes = stack;
    if (!startthread(thread, runthread, &run, run.stackbytes)) return nothread(interrupt);
    if (interrupt.installed) blockinterrupt(true);
    pthread_join(thread, nullptr);
#endif
#endif
    releaseinterrupt(interrupt);

    inputrelease();
    poolrelease();
    readerrelease();
    return outclose(run.status);
}
