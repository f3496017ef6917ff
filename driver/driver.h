// The console driver: start-up, the statement cycle and its commands,
// definitions and macros, and the one way a run ends.
//
// Process-wide state lives here.  Everything is set up afresh by runkestrivo,
// so one process can run many programs (unit tests, the fuzz target).
//
// How a run ends: every stop (the exit statement, end of input, the fatal
// reports) prints its text and calls endrun, which flushes the output and
// unwinds to runkestrivo; runkestrivo returns the status and only main passes
// it to the process.  Status 1: start-up failures and the collector's stack
// overflow.  Status 0: everything else.
//
// Bounds and what happens when each is reached:
//   nesting deeper than the evaluation stack allows (reduce, normalize,
//   substitute, expand, the parser, the printer): "depth is overflow in P"
//   with P what the statement was doing (fterm, expand, reduce, printterm),
//   then "newnodes = N" and the end of the run, status 0.  The stack is sized
//   from the pool, so depth alone never stops a run whose nodes fit the pool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "store/store.h"

extern std::FILE* InputStream;   // the program text
extern std::FILE* Output;        // everything printed goes here
extern std::string LineBuffer;   // unread rest of the current input line
extern Ref CurrentRoot;          // term of the expression under reduction; a root
extern Ref LastResult;           // result of the last expression or definition; a root
extern bool insatu;              // print CurrentRoot at pool exhaustion

// How a run ends, carried from endrun to runkestrivo.
struct RunEnd {
    int status;
};

// Flushes the output and ends the run with the given status.
[[noreturn]] void endrun(int status);

// "THE END..." and status 0: the exit statement, end of input and every
// orderly stop after its own message.
[[noreturn]] void theend();

// Stops the run when the evaluation stack is nearly used up.  Called at the
// top of every recursive function.  The report names what the statement was
// doing ("fterm", "expand", "reduce", "printterm"), not the function that met
// the limit: which of several functions recursing into one another meets it
// first depends on how large the compiler makes their frames.
extern char* StackLimit;        // lowest address the recursion may reach
extern const char* DepthPhase;  // what the statement is doing, set by the driver
[[noreturn]] void depthover();
inline void stackguard() {
    char here;
    if (&here < StackLimit) depthover();
}

// Runs one program: argv as the command line (argv[0] the program name).
// input, when not null, replaces the file or standard input; output, when not
// null, replaces standard output.  Returns the exit status.
int runkestrivo(int argc, const char* const* argv, std::FILE* input = nullptr,
                std::FILE* output = nullptr);

// Formatted output through the one stream.
void outf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void outs(const char* s) { std::fputs(s, Output); }

// The pieces of start-up, for the run and for tests that drive the
// subsystems directly: every global back to its initial value; nil and
// RealZeroNode (after the pool and its first sweep); TrueNode, FalseNode and
// ErrorAtom with the atom table's start-up entries (after the token array).
void resetstate();
void makenumberconstants();
void maketermconstants();

// The statement cycle (commandloop.cpp) and the two extending statements
// (define.cpp).
[[noreturn]] void commandloop();
Ref evalexpr(int n);
Ref defname(int n);   // NoNode when the name may not be defined
void defmacro(int n);

// Keeps TrueNode and FalseNode apart from a program's own x and y before the
// atom is turned into a definition (define.cpp).
void keeptruthapart(Ref atom);
// Gives x and y, when the program defined them, fresh atoms (define.cpp).
void forgetstartupdefinitions();

#ifdef KESTRIVO_FUZZ
// Programs that never end are legitimate; the fuzz build gives each run a
// budget of steps and ends it quietly when spent.
extern std::uint64_t FuzzSteps;
constexpr std::uint64_t FuzzStepBudget = 2000000;
void fuzzstep();
#define FUZZSTEP() fuzzstep()
#else
#define FUZZSTEP() ((void)0)
#endif
