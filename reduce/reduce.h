// The reducer: normal-order graph reduction with explicit environments, call
// by need.  An application of a "lambda" becomes a "sub" node pairing the body
// with an environment; substitution is pushed into the body one constructor
// at a time; every occurrence of a variable becomes an indirection to the one
// shared argument node, which is rewritten in place the first time it is
// reduced, so every argument is reduced at most once.
//
// The in-place contract: reduce, normalize and expand take a node and return
// the node that holds the result; every caller stores the result back into
// the field the node came from, so later visits skip the indirections.
//
// Reachability: makenode may collect, and the collector does not see the
// references held on the C stack.  Every node the reducer works on stays
// reachable from CurrentRoot: rewrites overwrite the node being reduced, and
// each allocating step stores what it still needs in that node or passes it
// as a child of the node it asks for.
//
// Environments are chains of bindings laid out as store/store.h says
// (isbinding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/store.h"

// Weak head normal form of n, rewritten in place.
Ref reduce(Ref n);
// Full normal form: reduce, then the bodies of lambdas, the parts of pairs
// and closures.
Ref normalize(Ref n);
// n with every definition reference replaced by the definition's term, each
// definition expanded once, on its first use; each node visited once a pass.
Ref expand(Ref n);

// A rule that builds nodes may meet the pool's exhaustion between its first
// change to the node it rewrites and its last.  endcut(true) puts that node
// back as it was before the rule began (for a run that goes on after the
// stop); endcut(false) only forgets it (start-up).
void endcut(bool undo);

// Start-up of the reducer: no record of an earlier run in the same process
// is kept (the finished and indirection records go with the pool).
void reducestart();

// --warn: a warning for each operator the normal form holds because its
// operands are values of kinds it does not work on (warnings.cpp).  Takes no
// node; a walk (store.h), it touches only the walk bits.
void warnstuck(Ref normalform, std::int64_t line);

// Ends the latest statement's records (see internal.h): every node the
// reducer gave a record loses it.  Run as a reduction begins.
void forgetfinished();

// ---- counting and steering the steps (steps.cpp) -------------------------
// A step is one rewrite of a node by a rule: a beta rule, one substitution
// step, an operator rule.  Following an indirection or a name rewrites
// nothing and is no step.  Every step counts StepsLeft down by one; only
// when it runs out does the reducer look further (steered), so the step
// limit, the trace and an interrupt all cost one decrement and one test a
// step.  The count of steps is kept from the countdowns.
extern std::int64_t StepsLeft;       // steps until the reducer next looks
extern std::uint64_t BetaSteps;      // beta steps since start-up (a lambda or a closure applied)
extern std::uint64_t OperatorSteps;  // operator steps since start-up
std::uint64_t stepcount();           // steps since start-up
void stepsreset();                   // start-up: no step made yet

// The steering a run asked for, set by the driver at start-up.
extern std::uint64_t MaxSteps;      // steps a statement may take (it stops after the last), 0 for no limit
extern std::int64_t TraceLines;     // trace lines a statement shows; -1 no trace

// A look at every step of a statement, for the driver (the frames, the
// stepper at the terminal): called after each rewrite, its rewrite complete,
// with the step's number in the statement (1 for the first, as the trace
// and the step limit count), the rule and the rewritten node.  Null when
// none is wanted; while set, every step goes through steered, so it costs
// only when asked.  It may print, draw and stop the statement (as an
// interrupt does), and may set itself to null; it must build no node.
extern void (*StepLook)(std::uint64_t step, int rule, Ref n);
// Sets StepLook (null: none) and counts down afresh, so that the very next
// step is looked at when there is a look.
void setsteplook(void (*look)(std::uint64_t step, int rule, Ref n));

// The trace's name of a rule (internal.h lists them): "beta", "lookup",
// "sub-app", "+"...
std::string rulename(int rule);
// term as the printer prints it, on one line, without the trailing blank,
// cut to width characters and "..." (width 0: not cut).  A term too deep to
// print reads "...".  A walk: it changes no flag and takes no node.
std::string termtext(Ref term, std::size_t width);
// The trace's line of step k without "kestrivo: ": "trace K RULE coN TERM",
// TERM being n's term after the rewrite, cut to 200 characters.
std::string traceline(std::uint64_t step, int rule, Ref n);

// At the start of a statement: its steps count from here, its trace is empty.
void steerstatement();
// Steps of the statement under way.
std::uint64_t statementsteps();
// At the end of a statement: the line counting the trace lines not shown.
void endtrace();

// Stepping aside: work after the statement's own (the read-back's
// reductions, fullform.cpp) counts its steps against a budget of its own,
// with no trace line, no look and no profile charge, and the statement's
// counts (steps, beta and operator steps) are put back when it is done, so
// its figures stay its own.  A step past the budget stops as the step limit
// does (Stop::Limit); Ctrl-C and the host's look work as in a statement.
struct StepsAside {
    std::uint64_t steps, beta, ops;  // the counts when the work began
    std::uint64_t statementstart, maxsteps;
    std::int64_t tracelines;
    void (*look)(std::uint64_t, int, Ref);
    bool profile;
};
// From here on steps count against budget (0: no bound).
StepsAside stepaside(std::uint64_t budget);
// Back to the statement's steering and counts; the steps made aside.
std::uint64_t stepback(const StepsAside& saved);

// ---- the full normal form, for the read-back (fullform.cpp) -------------
// --readback prints a statement's normal form as the plain lambda term it
// stands for.  The engine's normal form stops at closures, sub(lambda x B,
// E): their bodies are normal with E left aside.  Here each closure the
// normal form holds is opened: applied to a variable of its own, which no
// environment binds, and reduced on by the engine to normal form, whose
// closures are opened in turn, in the order the line prints them.  What it
// builds hangs from ReadbackRoot until the line is printed.
//
// The work has a budget of its own, in steps: a term whose normal form does
// not exist, or is further away, is cut there and prints as far as it got.
// A million steps take under a tenth of a second and read back any term a
// line can show (plus two two takes 51); they cut a runaway before anyone
// waits for it.
constexpr std::uint64_t ReadbackSteps = 1000000;
// Closures opened at most: each prints at least "lambda x", two items, so
// past the printer's own cut none can show.
constexpr std::size_t ReadbackOpens = 2000;

// The collector's root for what the read-back built: a chain of cells,
// cons(node, next), ended by nil.  NoNode outside a read-back.
extern Ref ReadbackRoot;

// How a read-back ended: done, or cut (Opened parts left "...") by its step
// budget, the pool, the nesting depth, its bound on closures, or Ctrl-C.
enum class FullEnd { Done, Budget, Pool, Depth, Opens, Interrupt };
// What it cost, counted apart from the statement's figures.
struct FullCost {
    std::uint64_t steps = 0;  // reduction steps
    std::uint64_t nodes = 0;  // nodes taken: the reductions' and its own
    std::uint64_t gcs = 0;    // collections it ran (they print no report)
    std::uint64_t freed = 0;  // nodes they freed
};
struct ReadbackGraph;
// Opens the closures of term, a normal form the engine made in this
// statement, within budget steps (0: no bound), and fills graph.  The
// statement's step counts, newnodes and the printed transcript are as they
// were; only the pool is used (collections print no report) and the
// reducer's records of the statement may grow.  Never ends the statement.
FullEnd fullform(Ref term, std::uint64_t budget, ReadbackGraph& graph, FullCost& cost);
// Lets go of what the read-back built, and gives its nodes back to the
// pool where nothing else leads to them (fullform.cpp).
void fullformdrop();

// ---- the profile (profile.cpp) -------------------------------------------
// --profile: every step, beta step, operator step and node built charged to
// a cost centre, the definition whose text the rewritten node was made from
// (or the statement, for its own text); a table of them on standard error
// after each expression statement and at the end of the run.  Its totals
// are the figures of --stats.  Off, it costs nothing: while it is on, the
// step countdown sends every step through steered.
extern bool ProfileOn;  // --profile; set by the driver at start-up
// Start-up, after the pool is taken: no centre named, no cost counted, and
// with the profile on, the side array of the nodes' centres.
void profilestart();
// The inner nodes of a term just parsed belong to the definition whose atom
// is definition (its outermost lambda is its entry), or to the statement
// (NoNode).
void profileclaim(Ref term, Ref definition);
// A statement begins: its costs start from nothing.
void profilebegin();
// The statement's table, line its line; its costs join the run's.
void profilestatement(std::int64_t line);
// The run's table.
void profilerun();

// ---- the reference reducer (reference.cpp) -------------------------------
// A second reducer, used only for counting (--strategies): it reduces its own
// copy of a term, outside the pool, by rewriting a tree that shares no
// reduction between two uses, under one of the classic strategies, with the
// engine's operator rules and truth values.  A beta step is a lambda applied,
// an operator step an operator's rule applied; nothing else counts.
enum class Strategy {
    Name,    // call by name: arguments unreduced, no reduction under a lambda
    Value,   // call by value: arguments and pairs' parts reduced first, no reduction under a lambda
    Normal,  // normal order: call by name, then under every lambda, to the full normal form
};
// How a reduction by the reference reducer ended.
enum class Finish {
    Done,      // the normal form was reached
    Diverges,  // not within the budget: its steps, its tree's size, the depth guard's bound
    Stopped,   // Ctrl-C
};
struct StrategyRun {
    Finish end = Finish::Done;
    std::uint64_t beta = 0, ops = 0;  // steps made, up to the end however it came
    int agrees = -1;  // the normal form beside the engine's, when that is first-order
                      // data: 1 the same, 0 another; -1 not compared
};
// Copies the term at root, and every node it reaches, out of the pool as it
// stands: taken before the engine reduces the term in place.  Reads the pool
// and changes nothing in it.
void referencecopy(Ref root);
// Reduces the copy under strategy s within budget steps (beta and operator
// steps together).  normalform, the engine's normal form of the same term
// (NoNode for none), is compared with the reference's when it is
// first-order data: numbers, string atoms, free names and pairs of them.
StrategyRun referencerun(Strategy s, std::uint64_t budget, Ref normalform);
// Forgets the copy and gives its memory back.
void referencedrop();
