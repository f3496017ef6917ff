// Normalization: the whole-term pass around the engine, going under binders
// and into pairs and closures.
//
// normalize recurses on both fields: a field takes its new node only once the
// normal form below it is complete, so what a collection in the middle keeps
// (and the count it reports) is the same as in a plain recursive descent.  A
// list as long as the pool fits the evaluation stack; a cyclic pair or body
// (ones = cons 1 ones) descends until the depth guard stops it.
#include "reduce/internal.h"

Ref normalize(Ref n) {
    stackguard();
    for (;;) {
        n = reduce(n);
        Node& x = node(n);
        if (x.flags & FinishedFlag) return n;  // normalized earlier in this statement
        switch (x.kind) {
        case LAMBDA:  // the body, under the binder
            x.right = normalize(x.right);
            finish(n);
            return n;
        case SUB:  // a closure, or a stuck ring
            if (node(x.left).kind != LAMBDA) return n;
            if (x.right == nil) {  // sub(lambda, nil)  =>  ident(lambda)
                substitute(n);
                continue;
            }
            finishboth(n);
            return n;
        case CONS: {
            // A lookup record relies on the cell's fields as they are: a
            // field that now leads to its normal form directly drops them.
            bool relied = (x.flags & LookupFlag) != 0;
            Ref left = x.left, right = x.right;
            finishboth(n);
            if (relied && (x.left != left || x.right != right)) forgetlookups();
            return n;
        }
        default:
            return n;
        }
    }
}
