// The console driver, the top of the house: the command line, start-up, the
// statement cycle and its commands, and definitions.  It owns what lives
// from statement to statement (the term under reduction, the last result,
// the insatu switch) and lists the collector's roots.
//
// Everything is set up afresh by runkestrivo, so one process can run many
// programs (unit tests, the fuzz target, the benchmarks).  How a run and a
// statement end is told in run/run.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "reduce/reduce.h"
#include "run/run.h"
#include "store/store.h"

extern Ref CurrentRoot;  // term of the expression under reduction; a root
extern Ref LastResult;   // result of the last expression or definition; a root
extern bool insatu;      // print CurrentRoot at pool exhaustion
// The term of an expression stopped by the step limit or an interrupt, which
// "normal" reduces on; NoNode when none waits.  A root.
extern Ref StoppedRoot;

// ---- the command line (commandline.cpp) ---------------------------------
//   kestrivo [OPTION]... [FILE [LASTBLOCK [TOKENCAPACITY]]]
// Options come first, GNU style; "--" ends them.  The positional arguments
// are read as atoi reads them, saturating instead of overflowing.
// --frames draws the first 1000 steps of a statement: enough to follow any
// small program through, and a few megabytes of files at most; fib 15's
// 1000 frames take well under a second.
constexpr std::uint64_t DefaultFramesMax = 1000;
constexpr int MaxLoads = 32;  // -l files; with the program and the terminal they fill the reader's InputCapacity
struct CommandLine {
    const char* file = nullptr;        // the program; null or "-": standard input
    std::int32_t lastblock = 5;        // highest block number of the pool
    std::int32_t tokens = 1000;        // slots of the token array
    const char* loads[MaxLoads] = {};  // -l FILE, read before the program in order
    int loadcount = 0;
    bool interactive = false;          // -i: the terminal after the program
    int echo = -1;                     // --echo 1, --no-echo 0, -1 by the input
    bool stats = false;                // --stats
    bool quietgc = false;              // --quiet-gc
    bool gcreports = false;            // --gc-reports: every report at a terminal too
    std::int64_t trace = -1;           // --trace[=N]: lines a statement; -1 off
    const char* dotdir = nullptr;      // --dot=DIR
    bool readback = false;             // --readback
    std::uint64_t readbacksteps = ReadbackSteps;  // --readback-steps=N: the read-back's budget
    std::uint64_t maxsteps = 0;        // --max-steps=N; 0 no limit
    bool keepgoing = false;            // --keep-going
    bool deepmarking = false;          // --deep-marking (also on with --keep-going)
    bool warn = false;                 // --warn
    std::uint64_t strategies = 0;      // --strategies[=N]: the other strategies' step budget; 0 off
    bool profile = false;              // --profile
    // Set by runkestrivo: the run reads a terminal, where typed ":" lines are
    // commands to the session (session.cpp), and --warn and --keep-going are on.
    bool session = false;
    const char* events = nullptr;      // --events=FILE ("-": standard error)
    const char* latex = nullptr;       // --latex=FILE
    const char* framesdir = nullptr;   // --frames=DIR
    std::uint64_t framesmax = DefaultFramesMax;  // --frames-max=N: steps drawn a statement
    std::uint64_t framesfrom = 1;      // --frames-from=K: the first step drawn
    const char* framesfor = nullptr;   // --frames-for=NAME: the one statement drawn
    bool step = false;                 // --step
    bool steerinterrupts = false;      // --steer-interrupts
};
constexpr std::int64_t DefaultTraceLines = 10000;  // --trace without =N: enough for any screen
// --strategies without =N: a million steps each, a second or so of the
// reference reducer's time for a strategy that does not end.
constexpr std::uint64_t DefaultStrategySteps = 1000000;
extern CommandLine Options;  // this run's command line, read once by runkestrivo

// Reads argv into line.  Returns -1 when the program is to run, else the
// status to end with at once: 0 after --help or --version (printed on
// Output), 2 after a usage error (reported on Diagnostics).
int readcommandline(int argc, const char* const* argv, CommandLine& line);
// The "start" event: the version, the sources, the pool and the options as
// the run carries them out.  Nothing when the events are off.
void eventstart();

// ---- the frame of a run (frame.cpp) -------------------------------------
// Runs one program: argv as the command line (argv[0] the program name).
// input, when not null, replaces the file or standard input; output and
// errors, when not null, replace standard output and standard error.
// Returns the exit status.
int runkestrivo(int argc, const char* const* argv, std::FILE* input = nullptr,
                std::FILE* output = nullptr, std::FILE* errors = nullptr);

// What the frame hands a run and the run gives back.
struct Run {
    std::FILE* input;         // replaces the program text, when not null
    std::int64_t poolreport;  // what pooltake returned
    std::size_t stackbytes;   // the run's stack
    int status;               // the exit status, set as the run ends
};

// ---- start-up (startup.cpp) ---------------------------------------------
// The whole run on the calling thread, once the frame has taken the pool and
// set the depth guard: start-up, the statement cycle, every end of the run
// and the figures of --stats after it; sets run.status.
void runprogram(Run& run);

// The pieces of start-up, for the run and for tests that drive the
// subsystems directly: every global back to its initial value; the
// collector's roots (after the token array, whose parser tables hold some);
// nil and RealZeroNode (after the pool and its first sweep); TrueNode,
// FalseNode and ErrorAtom with the atom table's start-up entries.
void resetstate();
void listroots();
void makenumberconstants();
void maketermconstants();

// ---- the statement cycle (commandloop.cpp) ------------------------------
[[noreturn]] void commandloop();
Ref evalexpr(int n);
// The normal form of the expression in slots 0..n, as evalexpr reduces it
// but printing none of its lines: the term a session's :kind names.
Ref quietexpr(int n);
// Forgets every definition and the terms that may hold them: what "garbage"
// does before it collects.
void forgetall();
// "newnodes = N": the count of the expression under way.
void printnewnodes();
// The end of a statement that stopped early: its report, then the end of
// the run.
[[noreturn]] void endstatement(Stop why);
// "L: a path deeper than the collector's mark stack ... was marked without
// it" on standard error when a collection of the statement under way went
// past the stack (DeepMarking): once a statement, at its end or the run's.
void notedeepmarking();
// A statement of the cycle stopped early: a statement steered to a stop
// (the step limit, an interrupt) and, with --keep-going, every other stop
// end only the statement, the graph put back at rest; the rest end the run
// (endstatement).
void statementstopped(const StatementStop& stop);

// At a terminal without --gc-reports or --quiet-gc: the collections of a
// statement are summed up in one line on the terminal, not reported one by
// one.  Set at start-up; the :gc command clears it.
extern bool SummarizeCollections;

// ---- the figures of --stats (stats.cpp) ---------------------------------
void statsreset();       // start-up: no statement counted yet
void statsbegin();       // a statement begins: the counters as they stand
void statsexpression();  // the statement is an expression (or resumes one)
void statsreducing();    // its newnodes count has started
void statsend();         // the statement ended: its line, when it was an expression
// --readback: the statement's figures are those at its normal form, taken
// here before the read-back begins, and the read-back's cost (steps, nodes;
// its collections are left out of the statement's) goes at the end of the
// line as readback_steps= and readback_nodes=.
void statsnormal();
void statsreadback(const FullCost& cost);
void statstotal();       // the run ended: the total line

// ---- watching an expression (watch.cpp) ---------------------------------
// --dot, --readback and --warn at the moments of an expression statement.
// watchstart sets the lower subsystems' switches from Options (before the
// reader starts); the others run after the term is parsed, after it is
// expanded and after its normal form is printed.
void watchstart();
void watchparsed(Ref t);
void watchexpanded(Ref t);
void watchnormal(Ref t);
// The "result" event alone: the normal form a "normal" reached for a
// stopped term, which the document and the pictures leave out.
void watchresult(Ref t);
// An expression stopped short of its normal form, for the LaTeX document:
// called once the transcript has told the stop, before the run ends with it.
void watchstopped(Stop why);
// --frames and --step: watchreducing as CurrentRoot begins to reduce (resumed
// for a stopped term "normal" reduces on), watchend as every statement ends,
// however it ends.
void watchreducing(bool resumed);
void watchend();
// The normal-form line: read back with --readback, else as printed.
void printnormal(Ref t);

// ---- the read-back (readback.cpp) ---------------------------------------
// The normal form t read back in full (--readback), as the normal-form line
// prints it: the reducer opens its closures (reduce/fullform.cpp), the
// printer prints the lambda term (print/readback.cpp), and the text is kept
// for whoever asks again for the same t in the same statement (the LaTeX
// document).  A read-back cut short by its budget, the pool or the depth
// prints what it has, with a note on standard error; Ctrl-C gives it up, and
// the line is printed as without the option.  Its cost goes to --stats
// apart from the statement's.
std::string readbackline(Ref t);
// A statement begins: no text kept.
void readbackforget();

// ---- the other strategies (strategies.cpp) ------------------------------
// --strategies at the moments of an expression statement: its expanded term
// is copied before the reduction, the reduction's counts and normal form are
// noted after it, and once the statement's other lines are out the copy is
// reduced under the other strategies and the line printed.  A statement that
// stopped before its normal form gets no line.
void strategiescopy(Ref expanded);
void strategiesreduced(Ref normalform);
void strategiesend();

// ---- frames of a reduction (frames.cpp) ---------------------------------
// Start-up: nothing of an earlier run in the same process is left open.
void framesstart();
// --frames=DIR: the statement named picturename begins to reduce; false when
// it has no frames (--frames-for names another, its file cannot be written).
// Draws step 0 when the window starts there.
bool framesbegin(const char* picturename);
// Step k made: its frame when in the window; false once past it.
bool framestep(std::uint64_t step, int rule, Ref n);
// The statement ended: the end line, and how many steps were not drawn.
void framesend();

// ---- stepping at the terminal (stepper.cpp) ----------------------------
// --step: start-up opens the terminal (or says there is none); stepperbegin
// shows the term before the first step and waits; stepperstep, after step
// k, waits when the user asked to; false when it will wait no more in this
// statement.  stepperon: the terminal is open.
void stepperstart();
bool stepperon();
void stepperbegin();
bool stepperstep(std::uint64_t step, int rule, Ref n);

// ---- definitions (define.cpp) -------------------------------------------
Ref defname(int n);   // NoNode when the name may not be defined
// Keeps TrueNode and FalseNode apart from a program's own x and y before the
// atom is turned into a definition.
void keeptruthapart(Ref atom);
// Gives x and y, when the program defined them, fresh atoms.
void forgetstartupdefinitions();
// After a stop in the middle of an expression: every expanded definition
// gets back its body as first parsed, not yet expanded, so the stopped
// statement leaves nothing hanging from it (a definition that cannot be
// parsed again, see define.cpp, is left as it is).  When the pool cannot
// hold a body, letgo (when not null) is called once to let go of what else
// holds it, and the parse tried again; a body that still does not fit
// leaves its name standing for the error atom, with a line on standard
// error, and the result is false.
bool restoredefinitions(void (*letgo)());
// Forgets every definition's kept body (start-up, "new", "garbage").
void forgetkept();
// A definition statement in slots 0..n made definition: its text as
// written is kept for :show (in a session only).
void keepwritten(Ref definition, int n);
// The text definition i was written with, while its atom is still that
// definition; null otherwise (a body since given by other means).
const std::string* writtentext(int i);
// Forgets every kept text (the session's start).
void forgetwritten();

// ---- commands typed at the terminal (session.cpp) -----------------------
// Start-up: the files loaded so far, the words Tab completes and the line
// before the first prompt, when the run reads a terminal.
void sessionstart();
// Carries out a command line the reader handed up (CommandRead): its
// answer on the terminal, its mistakes one line on standard error.
void sessioncommand(const char* line);

// ---- the LaTeX document of --latex (latexdoc.cpp) --------------------------
// One LaTeX document for the run: each expression statement's term as read,
// as expanded and its normal form, in the usual notation, and the graph of
// its normal form as a TikZ picture when --dot writes its DOT and dot2tex has
// turned that into TeX.
// True when path can be written (the file, or its folder when it is new).
bool latexwritable(const char* path);
// Opens Options.latex and writes the document's beginning (watchstart); a
// file that cannot be opened now is reported and the run goes on without.
void latexstart();
// What the document shows of one expression.
struct Expression {
    std::int64_t line;            // where it began
    std::string parsed, expanded, normal;  // the printer's texts
    std::uint64_t steps;          // its reduction steps
    std::int32_t newnodes;        // the nodes its reduction built
    const char* picture;          // its pictures' name (line<L>...), null without --dot
    const char* stop = nullptr;   // why it stopped short of its normal form, in words;
                                  // normal is then the term as it stands, or ""
};
// Writes the expression's display, then, when --frames drew its steps, the
// reduction step by step; the frames are then forgotten.
void latexexpression(const Expression& e);
// --frames: step k of the expression under way was drawn; rule is its
// rule's name ("" for step 0), term the whole term after it as printed.
void latexframe(std::uint64_t step, const std::string& rule, const std::string& term);
// A new expression begins: the frames of one before it that the document
// did not take (a "normal" that reduced a stopped term on) are forgotten.
void latexframesclear();
// The end of the document, and the file closed: every end of a run passes.
void latexend();
