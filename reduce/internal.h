// What the reducer's files share and no other subsystem may use: the rewrite
// rules' entry points, the record of finished nodes and the ring watch.
#pragma once

#include "reduce/reduce.h"

// The reducer's bits of Node.flags (store.h keeps bit 0, Unexpanded, for
// definitions): records it gives nodes for the rest of a statement, cleared
// (forgetfinished) before the next reduction begins.  No walk touches them,
// so a print or a picture in the middle of a reduction leaves them be.
constexpr std::uint8_t FinishedFlag = 2;  // engine.cpp: a finished node, its normal form complete
constexpr std::uint8_t EndFlag = 4;       // engine.cpp: an indirection whose end is recorded (EndList)
constexpr std::uint8_t LookupFlag = 8;    // substitute.cpp: an environment cell a lookup record relies on
constexpr std::uint8_t ReducerFlags = FinishedFlag | EndFlag | LookupFlag;
static_assert((ReducerFlags & Unexpanded) == 0, "the reducer's bits are its own");

// Lists n for forgetfinished; the caller sets its flag (engine.cpp).
void listforstatement(Ref n);
// Records n as finished (FinishedFlag) for the rest of the statement
// (engine.cpp).
void finish(Ref n);
// Drops every lookup record (substitute.cpp): a cell one relies on changed,
// or the records of the statement are forgotten.
void forgetlookups();
// Both fields of n to normal form, left before right, then finish(n): a stuck
// application, a pair, a closure.  Inline, so the walk takes no extra frame.
inline void finishboth(Ref n) {
    Node& x = node(n);  // the pool never moves: x survives the collections below
    x.left = normalize(x.left);
    x.right = normalize(x.right);
    finish(n);
}

// The rules a step can be made by, as the trace names them: an operator's
// rule is its kind (named by OperatorTable), a substitution step into a
// constructor is SubInto plus the constructor's kind ("sub-app", "sub-+"),
// and the rest follow.
enum Rule : int {
    RuleSubInto = 64,            // sub(k(A, B), E)  =>  k(sub(A, E), sub(B, E))
    RuleBeta = 128,              // app(lambda x B, A)  =>  sub(B, [x:=A])
    RuleClosure,                 // app(sub(lambda x B, E), A)  =>  sub(B, [x:=A] E)
    RuleSubNil,                  // sub(T, nil)  =>  ident(T)
    RuleSubLiteral,              // sub(literal, E)  =>  ident(literal)
    RuleLookup,                  // sub(v, E)  =>  ident(the value of v in E, or v)
    RuleCompose,                 // sub(sub(T, E2), E)  =>  sub(T, E2' E)
    RuleSubName,                 // sub(name, E)  =>  sub(its term, E), or ident(name)
};

// What the reducer does when StepsLeft runs out: the profile's charge, the
// trace line, an interrupt, the step limit (these two stop the statement,
// after the rewrite, never inside one).
void steered(int rule, Ref n, Ref source);
// Counts one step made by rule on node n, its rewrite complete.  source is
// what the profile needs to know of a rewrite that n no longer shows: the
// lambda a beta rule applied, the term a substitution step copied.  It is
// read only when the countdown runs out.
inline void stepdone(int rule, Ref n, Ref source = NoNode) {
    if (--StepsLeft == 0) steered(rule, n, source);
}

// The profile's part of a step (profile.cpp), run from steered while the
// profile is on: the step charged to its centre, and the centre handed on
// to what the rewrite built.
void profilestep(int rule, Ref n, Ref source);

void applylambda(Ref n);   // app(lambda x B, A)          => sub(B, [x:=A])
void applyclosure(Ref n);  // app(sub(lambda x B, E), A)  => sub(B, [x:=A] E)
// One step of sub(T, E) into T's top constructor; false when s is stuck (its
// term leads round a ring of names and nested subs back to itself).
bool substitute(Ref s);
// The rule of operator node n (kinds 6..39) on its reduced operands; true
// when n was rewritten (into a number or an indirection).
bool applyoperator(Ref n);
// The term a definition stands for, expanding it on the spot when it has not
// been; a definition that stands only for itself (a = a, or a cycle of
// names) is returned as it is.
Ref definitionterm(Ref d);

// Watches a walk for a node it meets again, which means the walk goes round
// a ring: the saved node jumps ahead to the current one after 1, 2, 4, ...
// steps, so a ring is found within twice its length.  Rings arise only from a
// program's own cyclic definitions and cyclic environments.  A watch starts
// when it meets its first node: until then only started is set, so a watch
// that meets none (most reduce calls) costs one store.  The compiler cannot
// see that no other field is read before start, and is told so below.
struct RingWatch {
    bool started = false;
    Ref saved;
    unsigned steps;
    unsigned limit;
    std::uint32_t built;  // newnodes when the watch last started
    void start() {
        started = true;
        saved = NoNode;
        steps = 0;
        limit = 1;
        built = newnodes;
    }
};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// True when n was met before since the watch started.
inline bool metagain(RingWatch& w, Ref n) {
    if (!w.started) w.start();
    if (n == w.saved) return true;
    if (++w.steps == w.limit) {
        w.saved = n;
        w.limit *= 2;
        w.steps = 0;
    }
    return false;
}

// The same for a walk that may build nodes: a node built is progress, so the
// watch starts again whenever newnodes has moved.
inline bool metagainbuilding(RingWatch& w, Ref n) {
    if (!w.started || w.built != newnodes) w.start();
    return metagain(w, n);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

inline void makeident(Ref n, Ref target) {
    Node& x = node(n);
    x.kind = IDENT;
    x.left = target;
    x.right = target;
}

// lookup past the two newest bindings (substitute.cpp).
void lookupfar(Ref s);

// sub(v, E), v an identifier  =>  ident(the value bound to v in E), or
// ident(v) when E does not bind it; E is not nil.  Counts no step.  Most
// variables are bound by one of the two newest bindings (a function's own
// parameter, or the one before it); those are found here, as the search
// would find them, since it meets them first (the second binding is not the
// first again: their names differ).
inline void lookup(Ref s) {
    Node& x = node(s);
    Ref v = x.left;
    Ref p = x.right;
    if (p != nil && isbinding(p)) {
        Ref value = node(p).right;
        if (node(p).left == v) {  // the newest binding
            makeident(s, node(value).left);
            return;
        }
        Ref q = node(value).right;
        if (q != nil && isbinding(q) && node(q).left == v) {  // the one before
            makeident(s, node(node(q).right).left);
            return;
        }
    }
    lookupfar(s);
}
