// The ground of a run: the one output stream, the ends of a run and of a
// statement, the depth guard and the fuzz build's step budget.  Every other
// subsystem stands on this header and nothing here knows about nodes, so the
// store, the reader, the reducer and the printer can stop a run without
// knowing who started it.
//
// How a run ends: every stop prints its text and calls endrun, which flushes
// the output and unwinds (RunEnd) to runkestrivo; runkestrivo returns the
// status and only main passes it to the process.  The statuses:
//   0  the exit statement, end of input, every run-time stop after its report
//   1  start-up failures ("File not open", "MEMORY OVER ...", "cannot start
//      the interpreter thread"), the collector's stack overflow ("Stack ga
//      tarimsen!") and a transcript that could not be written (outclose)
//   2  a command line that cannot be used (nothing is run)
//   3  the end of the program after a statement was stopped before its end
//      (the step limit, an interrupt, --keep-going)
// A failed pool check in the stress build is a bug of the interpreter, not a
// way for a run to end: it is named on standard error and the process aborts.
//
// How a statement ends early: the stops that concern one statement (the pool
// exhausted, nesting too deep, the token array or the atom table full, a word
// over 8 characters, a macro reaching its own name) print their own message
// where they arise and then unwind (StatementStop) to the statement cycle,
// which prints what belongs to the statement (the term under reduction with
// insatu, the newnodes line) and ends the run, or with --keep-going puts the
// graph back at rest and goes on with the next statement (status 3 at the
// end).  A statement steered to a stop (the step limit, an interrupt) always
// lets the run go on.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>

extern std::FILE* Output;       // the transcript: everything the program prints
extern std::FILE* Diagnostics;  // standard error, or a test's stream

// Formatted output through the one stream.
void outf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void outs(const char* s) { std::fputs(s, Output); }
// A diagnostic line: "kestrivo: " and the text, on Diagnostics.
void diagf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A write to the transcript can fail: a full disk, a pipe whose reader has
// gone while SIGPIPE is ignored.  The C library keeps the bytes it could not
// write and sets the stream's error flag, so a failure is never lost: it is
// looked for at every flush and once per input line, and it ends the run
// with status 1 and one line on Diagnostics naming the error, as the
// standard command-line tools do.  A transcript cut short is never reported
// as a success.
//
// Flushes the output; when a write to it has failed, now or earlier, the run
// ends (status 1).
void outflush();
// Ends the run (status 1) when a write to the output has failed since the
// run began; the cheap check made once per input line.
void outcheck();
// The last act of a run: flushes the output and returns the status to end
// with, status itself, or 1 after "kestrivo: write error: REASON" on
// Diagnostics when a write to the output failed.
int outclose(int status);

// --warn: remarks about the program on Diagnostics, never in the transcript.
// The reader and the reducer each test the switch where they would warn; the
// driver sets it at start-up.
extern bool WarnOn;
// "kestrivo: LINE:COLUMN: warning: " and the text; column 0 when the place in
// the line is not known gives "kestrivo: LINE: warning: ".
void warnf(std::int64_t line, std::int32_t column, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// How a run ends, carried from endrun to runkestrivo.
struct RunEnd {
    int status;
};

// Flushes the output and ends the run with the given status.
[[noreturn]] void endrun(int status);

// "THE END..." and status 0 (3 once a statement was stopped and the run
// went on): the exit statement, end of input and every orderly stop after
// its own message.
[[noreturn]] void theend();
// Set when a statement was stopped before its end and the run went on.
extern bool StatementsStopped;

// Why a statement stopped before its end; its message is printed already.
enum class Stop {
    Exhausted,  // the pool has no free node even after a collection
    Depth,      // nesting deeper than the evaluation stack allows
    Reading,    // the token array or atom table full, a word too long, a macro loop
    Limit,      // the statement went past the step limit (--max-steps)
    Interrupt,  // SIGINT while the statement reduced
    Dropped,    // SIGINT while the reader waited for the statement's text
};
struct StatementStop {
    Stop why;
    bool lineopen;  // the report was left without its line end (stopmidline)
};
[[noreturn]] void stopstatement(Stop why);
// The same after a report left without its line end ("starray is overflow in
// yomikomi"): when the stop ends the run, "THE END..." follows the report on
// its line; when the run goes on, the statement cycle ends the line first.
[[noreturn]] void stopmidline(Stop why);

// Set by the SIGINT handler, cleared by whoever acts on it: the step check
// (a statement reducing) or the reader (a statement being typed).  Nothing
// else happens in the handler.
extern volatile std::sig_atomic_t Interrupted;

// Stops the statement when the evaluation stack is nearly used up.  Called at
// the top of every recursive function.  The report names what the statement
// was doing ("fterm", "expand", "reduce", "printterm"), not the function that
// met the limit: which of several functions recursing into one another meets
// it first depends on how large the compiler makes their frames.
extern char* StackLimit;        // lowest address the recursion may reach
extern const char* DepthPhase;  // what the statement is doing, set by the driver
[[noreturn]] void depthover();  // "depth is overflow in P", then the stop
inline void stackguard() {
    char here;
    if (&here < StackLimit) depthover();
}

#ifdef KESTRIVO_FUZZ
// Programs that never end are legitimate; the fuzz build gives each run a
// budget of steps (allocations and reduction steps) and ends it quietly when
// spent.  The fuzz pools hold 1001 to 12012 nodes, so 50,000 steps still go
// through several collections, exhaustion and every stop; a bigger budget
// only spends the fuzzer's time on the programs that never end.
extern std::uint64_t FuzzSteps;
constexpr std::uint64_t FuzzStepBudget = 50000;
void fuzzstep();
#define FUZZSTEP() fuzzstep()
#else
#define FUZZSTEP() ((void)0)
#endif
