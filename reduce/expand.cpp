// Definition expansion: a term with every definition reference replaced by
// the definition's term.  Expansion builds no node, so it loops on the right
// field and recurses on the left.
#include "reduce/internal.h"

// An expansion pass is a walk (store.h) that finds its own way: each inner
// node it visits is marked reached, so a node reached twice (a shared
// operand, a cycle closed by a recursive definition) is expanded once; the
// end of the walk clears the marks.

static Ref expandnode(Ref n);

// The first mention of a definition expands its body; the flag is cleared
// first, so a mention inside the body gets the body itself and closes a cycle.
static Ref expanddefinition(Ref d) {
    if (!isunexpanded(d)) return node(d).left;
    setexpanded(d);
    Ref body = expandnode(node(d).left);
    node(d).left = body;
    return body;
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
            descend = walkfirst(n);
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

Ref expand(Ref n) {
    WalkScope walk;
    return expandnode(n);
}
