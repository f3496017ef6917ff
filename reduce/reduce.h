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

#include "store/store.h"

// Weak head normal form of n, rewritten in place.
Ref reduce(Ref n);
// Full normal form: reduce, then the bodies of lambdas, the parts of pairs
// and closures.
Ref normalize(Ref n);
// n with every definition reference replaced by the definition's term, each
// definition expanded once, on its first use; each node visited once a pass.
Ref expand(Ref n);

// Ends the statement's record of finished nodes (see internal.h): every
// node finished in it goes back to rest.
void forgetfinished();
