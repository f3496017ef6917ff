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
//      tarimsen!"), a transcript that could not be written (outclose) and a
//      picture that could not be (filelost)
//   2  a command line that cannot be used (nothing is run)
//   3  the end of the program after a statement was stopped before its end
//      (the step limit, an interrupt, --keep-going), and a second Ctrl-C
//      while a file or a pipe is read
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

#include <concepts>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string_view>

extern std::FILE* Output;       // the transcript: everything the program prints
extern std::FILE* Diagnostics;  // standard error, or a test's stream
// The descriptor the transcript goes to (standard output's, or the caller's
// stream's); -1 for a stream without one (a test's memory stream).
extern int OutputFd;

// The process's own transcript and diagnostics: streams over standard output
// and standard error, made at their first use and kept for the process,
// which runkestrivo takes when its caller gives none of its own.  Their
// writes are this file's, not the C library's: the library gives up a write
// that a signal interrupts before it wrote a byte (Ctrl-C while a full pipe
// holds the output back, since the SIGINT handler does not restart system
// calls so that a waiting read returns), and throws away the buffer with
// it; and it leaves a failure's reason in errno, where a later call may
// overwrite it before anyone reads it.  Here a write goes on after a signal
// until every byte is written or the descriptor fails, and the first
// failure's reason is kept for outclose.  The transcript is fully buffered
// (64 KB), the diagnostics not at all.
std::FILE* standardoutput();
std::FILE* standarderror();

// Formatted output through the one stream.
void outf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void outs(const char* s) { std::fputs(s, Output); }
// A diagnostic line: "kestrivo: " and the text, on Diagnostics.  With
// DiagOwnLine (the driver sets it when both streams are one terminal), the
// transcript is flushed first and a line it left open is ended on
// Diagnostics, so every message starts a line of its own.
extern bool DiagOwnLine;
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
// Diagnostics when a write to the output failed, or when a file was lost.
int outclose(int status);
// A file the run writes beside the transcript (a picture) could not be
// written, was reported on Diagnostics and removed: the run goes on, and
// outclose turns its status 0 or 3 into 1, so that a script sees the loss.
void filelost();
// Opens path for a new file beside the transcript (a picture, a frame) in a
// folder the user named: created or emptied, never through a symbolic link
// put in its place (a link is refused, not followed).  Null, with errno
// set, when it cannot be had.
std::FILE* opennewfile(const char* path);
// "cannot write 'PATH': WHY" on Diagnostics for the errno such a file
// failed with, and filelost.
void filenotwritten(const char* path);

// --warn: remarks about the program on Diagnostics, never in the transcript.
// The reader and the reducer each test the switch where they would warn; the
// driver sets it at start-up.
extern bool WarnOn;
// "kestrivo: LINE:COLUMN: warning: " and the text; column 0 when the place in
// the line is not known gives "kestrivo: LINE: warning: ".
void warnf(std::int64_t line, std::int32_t column, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// What a limit stopped or refused, in words a user can act on ("'factorial'
// has 9 characters; words have at most 8"): written where the limit bites,
// empty otherwise.  The driver shows it on Diagnostics where a user asked
// for more than the transcript says (--warn, --keep-going, the terminal)
// and empties it after each statement.
constexpr int LimitNoteSize = 256;
extern char LimitNote[LimitNoteSize];
void notelimit(const char* format, ...) __attribute__((format(printf, 1, 2)));

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
// The stop that ended the run, when a statement's stop did (the pool
// exhausted, nesting too deep, a statement that cannot be read), as an int
// of Stop; -1 when the run ended otherwise.  Set by the statement cycle and
// read by none of the run: it is for a host that tells its user in words
// why the run ended (the playground), where the transcript may not say (no
// report of the collector under --quiet-gc).
extern int EndingStop;

// Why a statement stopped before its end; its message is printed already.
enum class Stop {
    Exhausted,  // the pool has no free node even after a collection
    Depth,      // nesting deeper than the evaluation stack allows
    Reading,    // the token array or atom table full, a word too long, a macro loop
    Limit,      // the statement went past the step limit (--max-steps)
    Interrupt,  // SIGINT while the statement reduced, or before it began to
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

// Ctrl-C.  The SIGINT handler only counts; the run acts on an interrupt at
// its next safe point, and none is dropped:
//   a reduction's step check   the statement stops as at the step limit
//   a reduction about to begin the same, after 0 steps
//   the reader waiting for input  the statement being typed is dropped
//   the end of every statement  it had no safe point left: only noted
// (so one that comes while a statement is read, parsed, printed or drawn is
// acted on before the next one is read).  While a file or a pipe is read, a
// second Ctrl-C of the run ends it at the next safe point, with status 3
// after the output so far; at a terminal every one only steers.
extern volatile std::sig_atomic_t Interrupts;  // Ctrl-C received in this run, counted by the handler
extern std::int32_t InterruptsTaken;           // of those, the ones the run has acted on
extern bool InterruptEnds;  // a second Ctrl-C ends the run (a file or a pipe is read): the reader's
// --steer-interrupts: every Ctrl-C only steers, whatever is read (the
// reader never sets InterruptEnds); set by start-up.
extern bool InterruptsSteer;
// An interrupt waits to be acted on.  One load: cheap enough for any loop.
inline bool interruptpending() { return Interrupts != InterruptsTaken; }
// Takes every waiting interrupt, the caller acting on it; when that makes
// two in the run and InterruptEnds, the run ends instead ("interrupted
// again: the run ends" on Diagnostics, status 3).
void takeinterrupt();
// For a loop that is no safe point for a first interrupt but must not
// outlast a second (reading on through a dropped line): the run ends when a
// second has come and InterruptEnds.
void interruptagain();

// A host's own look in the middle of a reduction, made where the reducer
// looks for an interrupt (every few thousand steps, or every step when traced
// or limited), between two rewrites; null unless a host sets it.  The
// playground posts from it what the run has printed, so that a long
// reduction does not hold back the lines printed before it.  It must not
// touch the graph or the output.
extern void (*StepWatch)();

// Stops the statement when the evaluation stack is nearly used up.  Called at
// the top of every recursive function.  The report names what the statement
// was doing ("fterm", "expand", "reduce", "printterm"), not the function that
// met the limit: which of several functions recursing into one another meets
// it first depends on how large the compiler makes their frames.
extern char* StackLimit;        // lowest address the recursion may reach
// A null DepthPhase makes the stop silent: for work done after the statement
// (the read-back), whose caller reports the stop its own way.
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

// ---- the event stream (events.cpp) -----------------------------------------
// --events=FILE: one JSON object a line for everything the run does, for
// programs that read a run (the notebook kernel, the language server, the
// tests).  The transcript goes on to the same stream as before; while the
// stream is on, Output is a stream of the event module's own that passes
// every byte through to it and sends it, line by line, as an "out" event
// naming the part of the transcript it belongs to.  docs/events.md is the
// schema; fields are only ever added.
//
// Off, which is the usual case, nothing here costs more than a test of
// EventsOn where a part of the transcript begins or a line is read.

// The parts of the transcript.  The writer of each part says where it
// begins (outpart); a part ends with its line (the collection report with its
// second line), and what follows without a part of its own is a report.
enum class Part : std::uint8_t {
    Startup,     // the banner, the node size, the free count
    Echo,        // an input line echoed
    Parsed,      // the term as parsed
    Expanded,    // the term with its definitions expanded
    Normal,      // the normal form (or the term a stopped statement left)
    Newnodes,    // "newnodes = N"
    Collection,  // a collection report: its empty line and its one line
    Output,      // what write, writeln and space print
    Insatu,      // the term under reduction printed when the pool ran out
    Report,      // every other line: messages, stops, "THE END..."
};

// The stream's version, in the start event: it grows when an event or a
// field is added; none is ever taken away or given another meaning.
constexpr int EventSchema = 5;

extern bool EventsOn;  // --events is on; set by eventsopen, cleared by eventsclose

// Opens the stream on the file at path ("-": standard error) and starts
// capturing the transcript (Output must be set).  False, with errno, when
// the file cannot be opened for writing.
bool eventsopen(const char* path);
// The run's last event, "end" with the status, then the stream closed and
// Output given back its own stream.
void eventsclose(int status);
// Flushes the transcript behind the capture and the events themselves; false
// when a write of the transcript has failed, now or earlier (errno says why).
bool eventsflush();
// A write of the transcript's own stream has failed (the capture's own
// failures show on Output).
bool transcriptfailed();

void partbegins(Part p);
inline void outpart(Part p) {
    if (EventsOn) partbegins(p);
}

// One field of an event: a name and a whole number, a real, a truth value,
// a text or nothing (JSON null, for a text pointer that is null), or a list
// of texts.
struct EventField {
    enum Kind : std::uint8_t { Signed, Unsigned, Real, Flag, Text, Null, Texts };
    const char* name;
    Kind kind;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double r = 0;
    std::string_view s;
    const char* const* list = nullptr;  // Texts: count texts
    int count = 0;
    template <std::signed_integral T>
    EventField(const char* n, T v) : name(n), kind(Signed), i(v) {}
    template <std::unsigned_integral T>
        requires(!std::same_as<T, bool>)
    EventField(const char* n, T v) : name(n), kind(Unsigned), u(v) {}
    EventField(const char* n, double v) : name(n), kind(Real), r(v) {}
    EventField(const char* n, bool v) : name(n), kind(Flag), i(v) {}
    EventField(const char* n, std::string_view v) : name(n), kind(Text), s(v) {}
    EventField(const char* n, const char* v)
        : name(n), kind(v != nullptr ? Text : Null), s(v != nullptr ? v : "") {}
    EventField(const char* n, const char* const* texts, int k) : name(n), kind(Texts), list(texts), count(k) {}
};
// Writes the event {"event": type, fields...} as one line, after whatever
// the transcript holds not yet sent, so events keep the order of the run.
// Call only while EventsOn.
void eventwrite(const char* type, std::initializer_list<EventField> fields);
// The same with the fields in an array: the first count of them.
void eventwrite(const char* type, const EventField* fields, std::size_t count);
