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
// Environment: a chain of "cons" cells ended by nil, two cells per binding,
// newest first:  cons(variable, cons(value, next binding)).
#pragma once

#include <cstddef>

#include "store/store.h"

// Weak head normal form of n, rewritten in place.
Ref reduce(Ref n);
// Full normal form: reduce, then the bodies of lambdas, the parts of pairs
// and closures.
Ref normalize(Ref n);
// n with every definition reference replaced by the definition's term, each
// definition expanded once, on its first use; each node visited once a pass.
Ref expand(Ref n);

// The record of stuck nodes finished in the current statement (engine.cpp):
// its list is allocated with the pool and emptied when a statement ends.
bool reducestart(std::size_t poolnodes);
void reducerelease();
void forgetfinished();
// Records n as finished (shared = 2) until the statement ends.
void finish(Ref n);

// ---- shared among the reducer's files ----------------------------------
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
// program's own cyclic definitions and cyclic environments.
struct RingWatch {
    Ref saved = NoNode;
    unsigned steps = 0;
    unsigned limit = 1;
    bool started = false;
    std::uint32_t built = 0;  // newnodes when the watch last started
};

// True when n was met before since the watch started.
inline bool metagain(RingWatch& w, Ref n) {
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
    if (!w.started || w.built != newnodes) {
        w = RingWatch{};
        w.started = true;
        w.built = newnodes;
    }
    return metagain(w, n);
}

inline void makeident(Ref n, Ref target) {
    Node& x = node(n);
    x.kind = IDENT;
    x.left = target;
    x.right = target;
}
