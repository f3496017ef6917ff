// The reduction engine: reduce brings a node to weak head normal form,
// rewriting it in place.  It loops over one current node; a rewrite is
// followed by another look at the same node, not by a recursive call.
// Recursion happens only for the operands an application or operator needs.
#include "reduce/internal.h"

#include "print/print.h"

// Nodes already brought to their final form in this statement.
//
// A stuck application normalizes its parts, a stuck operator reduces its
// operands, and normalize finishes a lambda, a pair or a closure; doing that
// again for the same node changes nothing (a second pass over a normal form
// builds no node and prints nothing) but costs the whole walk again.  Without
// a record, f a b c ... re-reduces its inner chain at every level (2 to the
// n), and so does any term that shares a part along many paths (a pair of a
// pair of a pair ... of the same node).  A node is recorded only once its
// form is complete, so a cyclic term still descends until the depth guard.
// Such a node is marked with shared = 2 (non-zero, so the printer sees a
// node reached once) and listed; the marks are cleared when the statement
// ends, since a later definition of a name inside can unstick the node.
static NodeList& Finished = PoolLists[FinishedList];

void forgetfinished() {
    for (std::size_t i = 0; i < Finished.top; i++) {
        Node& x = node(Finished.items[i]);
        if (x.shared == 2) x.shared = 1;  // a node since freed and reused is left alone
    }
    Finished.top = 0;
}

void finish(Ref n) {
    if (Finished.top == PoolSize) {  // only nodes freed and reused repeat in the list
        for (Ref r = 0; r < PoolSize; r++)
            if (Pool[r].shared == 2) Pool[r].shared = 1;
        Finished.top = 0;
    }
    node(n).shared = 2;
    Finished.items[Finished.top++] = n;
}

Ref definitionterm(Ref d) {
    RingWatch ring;
    for (;;) {
        if (metagain(ring, d)) return d;  // stands only for itself: stuck
        Node& def = node(d);
        if (def.shared) expand(d);  // sets shared to 0 and expands the body
        Ref t = def.left;
        if (node(t).kind != DEFINITION) return t;
        d = t;
    }
}

Ref reduce(Ref n) {
    stackguard();
    // A program's own cyclic definitions can lead this loop round a ring of
    // names and indirections that builds nothing.  Indirections and expanded
    // definitions never change, and every other node on such a ring changes
    // for good the first time round, so one of them met again with nothing
    // built meanwhile means the ring has no end: that node is stuck.
    RingWatch ring;
    for (;;) {
        FUZZSTEP();
        Node& x = node(n);
        if (x.shared == 2) return n;  // finished earlier in this statement
        if ((x.kind == IDENT || x.kind == DEFINITION) && metagainbuilding(ring, n)) return n;
        switch (x.kind) {
        case LAMBDA:
        case CONS:
        case IDENTIFIER:
        case INTEGER:
        case STRING:
        case REAL:
            return n;
        case SUB:
            if (node(x.left).kind == LAMBDA) return n;  // a closure
            if (!substitute(n)) return n;
            continue;
        case IDENT:  // ident T  =>  T
            n = x.left;
            continue;
        case PRINT:  // print T  =>  false, after printing the normal form of T
            x.left = normalize(x.left);
            printterm(x.left, false);
            return FalseNode;
        case DEFINITION: {  // a name defined after its mention was expanded
            Ref t = definitionterm(n);
            if (node(t).kind == DEFINITION) return t;
            n = t;
            continue;
        }
        case APP: {
            x.left = reduce(x.left);
            std::int32_t fk = node(x.left).kind;
            if (fk == LAMBDA) {  // app(lambda x B, A)  =>  sub(B, [x:=A])
                applylambda(n);
                continue;
            }
            if (fk == SUB && node(node(x.left).left).kind == LAMBDA) {
                // app(sub(lambda x B, E), A)  =>  sub(B, [x:=A] E)
                applyclosure(n);
                continue;
            }
            // No function: the application is normal once its parts are (a
            // function part reduce has just left stuck is finished already).
            finishboth(n);
            return n;
        }
        default:  // operators "car" to "=s": operands first, left before right
            x.left = reduce(x.left);
            if (x.kind >= PLUS) x.right = reduce(x.right);
            if (applyoperator(n)) continue;
            finish(n);
            return n;  // operands of the wrong kinds: stuck
        }
    }
}
