// Definition expansion: a term with every definition reference replaced by
// the definition's term.  Expansion builds no node, so it loops on the right
// field and recurses on the left.
#include "reduce/internal.h"

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
    stackguard();
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
    stackguard();
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
