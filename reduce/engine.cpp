// The reduction engine: reduce brings a node to weak head normal form,
// rewriting it in place.  It loops over one current node; a rewrite is
// followed by another look at the same node, not by a recursive call.
// Recursion happens only for the operands an application or operator needs.
#include "reduce/reduce.h"

#include "driver/driver.h"
#include "print/print.h"

// Follows a chain of indirections from n to the first node that is not one.
// A ring of indirections (possible only through a program's own cyclic
// definitions) has no end; its first node found twice is returned as stuck.
static Ref followident(Ref n) {
    Ref saved = n;
    unsigned steps = 0, limit = 2;
    do {
        n = node(n).left;
        if (n == saved) return n;
        if (++steps == limit) {  // move the saved node ahead: a ring is met within
            saved = n;           // twice its length
            limit *= 2;
            steps = 0;
        }
    } while (node(n).kind == IDENT);
    return n;
}

Ref definitionterm(Ref d) {
    Ref saved = d;
    unsigned steps = 0, limit = 2;
    for (;;) {
        Node& def = node(d);
        if (def.shared) expand(d);  // sets shared to 0 and expands the body
        Ref t = def.left;
        if (node(t).kind != DEFINITION) return t;
        if (t == d || t == saved) return d;  // stands only for itself: stuck
        d = t;
        if (++steps == limit) {
            saved = d;
            limit *= 2;
            steps = 0;
        }
    }
}

Ref reduce(Ref n) {
    stackguard("reduce");
    for (;;) {
        FUZZSTEP();
        Node& x = node(n);
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
            substitute(n);
            continue;
        case IDENT:  // ident T  =>  T
            n = followident(n);
            if (node(n).kind == IDENT) return n;
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
            if (fk == SUB) {  // app(sub(lambda x B, E), A)  =>  sub(B, [x:=A] E)
                applyclosure(n);
                continue;
            }
            // No function: the application is normal once its parts are.
            x.left = normalize(x.left);
            x.right = normalize(x.right);
            return n;
        }
        default:  // operators "car" to "=s": operands first, left before right
            x.left = reduce(x.left);
            if (x.kind >= PLUS) x.right = reduce(x.right);
            if (applyoperator(n)) continue;
            return n;  // operands of the wrong kinds: stuck
        }
    }
}
