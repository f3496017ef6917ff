// Whole-term passes around the engine: normalize goes under binders and into
// pairs and closures; expand replaces definition references by their terms.
// Both recurse on the left field and loop on the right one, so lists, chains
// of lambdas and environments cost no depth.
#include "reduce/reduce.h"

#include "driver/driver.h"

Ref normalize(Ref n) {
    stackguard("normalize");
    Ref result = NoNode;
    Ref holder = NoNode;  // the node whose right field takes the next result
    // Each turn of this loop stands for one level of descent into a right
    // field.  A cyclic pair or body (ones = cons 1 ones) would descend for
    // ever; met again with nothing built meanwhile, it is reported as the
    // depth it would take.
    RingWatch ring;
    for (;;) {
        n = reduce(n);
        if (metagainbuilding(ring, n)) depthover("normalize");
        if (holder == NoNode) result = n;
        else node(holder).right = n;
        Node& x = node(n);
        switch (x.kind) {
        case LAMBDA:  // the body, under the binder
            holder = n;
            n = x.right;
            continue;
        case SUB:  // a closure, or a stuck ring
            if (node(x.left).kind != LAMBDA) return result;
            if (x.right == nil) {  // sub(lambda, nil)  =>  ident(lambda)
                substitute(n);
                continue;
            }
            x.left = normalize(x.left);
            holder = n;
            n = x.right;
            continue;
        case CONS:
            x.left = normalize(x.left);
            holder = n;
            n = x.right;
            continue;
        default:
            return result;
        }
    }
}

// An expansion pass marks each inner node it visits with mark 0, so a node
// reached twice (a shared operand, a cycle closed by a recursive definition)
// is expanded once; the pass ends by putting the marks back.

static Ref expandnode(Ref n);

// The first mention of a definition expands its body; the flag is cleared
// first, so a mention inside the body gets the body itself and closes a cycle.
static Ref expanddefinition(Ref d) {
    Node& def = node(d);
    if (def.shared == 0) return def.left;
    def.shared = 0;
    def.left = expandnode(def.left);
    return def.left;
}

static Ref expandnode(Ref n) {
    stackguard("expand");
    Ref result = NoNode;
    Ref holder = NoNode;
    for (;;) {
        Node& x = node(n);
        Ref r = n;
        bool descend = false;
        if (isinner(x.kind)) {
            descend = x.mark != 0;
            x.mark = 0;
        } else if (x.kind == DEFINITION) {
            r = expanddefinition(n);
        }
        if (holder == NoNode) result = r;
        else node(holder).right = r;
        if (!descend) return result;
        x.left = expandnode(x.left);
        holder = n;
        n = x.right;
    }
}

// Every node the pass marked is reachable from its result through marked
// nodes: a field that led to a definition now leads to its term.
static void unmark(Ref n) {
    stackguard("expand");
    while (isinner(node(n).kind) && node(n).mark == 0) {
        node(n).mark = 1;
        unmark(node(n).left);
        n = node(n).right;
    }
}

Ref expand(Ref n) {
    Ref r = expandnode(n);
    unmark(r);
    return r;
}
