// The beta rules and the substitution step.  An application of a function
// becomes a "sub" node: the body paired with an environment binding the
// parameter to the unevaluated argument.  The substitution step moves the
// environment into the body one constructor at a time, only as far as
// reduction looks.
//
// Order of allocation, for the collector: each rule first sets the kind of
// the node it rewrites while that node's fields still hold what they held,
// stores the first new node into the node being rewritten before it asks for
// the second, and passes everything else it still needs as the children of
// the node it asks for.
#include "reduce/internal.h"

// The rewrite the pool's exhaustion cut short, and what its node held before
// it began.  The node stays as the stop left it until the driver has printed
// its report (insatu prints the term as it stands), then endcut puts it back.
struct CutRewrite {
    Ref node = NoNode;
    std::int32_t kind = 0;
    Ref left = NoNode, right = NoNode;
};
static CutRewrite Cut;

static void cutshort(Ref n, std::int32_t kind, Ref left, Ref right) { Cut = CutRewrite{n, kind, left, right}; }

void endcut(bool undo) {
    if (undo && Cut.node != NoNode) {
        Node& x = node(Cut.node);
        x.kind = Cut.kind;
        x.left = Cut.left;
        x.right = Cut.right;
    }
    Cut = CutRewrite{};
}

void applylambda(Ref n) {
    Node& x = node(n);
    Ref fn = x.left, arg = x.right;
    x.kind = SUB;  // still sub(lambda, argument): both stay reachable
    Ref value, variable;
    try {
        value = makenode(arg, nil, CONS);
        variable = makenode(node(fn).left, value, CONS);
    } catch (const StatementStop&) {  // the pool ran out
        cutshort(n, APP, fn, arg);
        throw;
    }
    x.right = variable;
    x.left = node(fn).right;
    newnodes += 2;
    BetaSteps++;
    stepdone(RuleBeta, n);
    substitute(n);
}

void applyclosure(Ref n) {
    Node& x = node(n);
    Ref closure = x.left, arg = x.right;
    x.kind = SUB;  // still sub(closure, argument): lambda and E stay reachable
    Ref fn = node(closure).left;
    Ref value, variable;
    try {
        value = makenode(arg, node(closure).right, CONS);
        variable = makenode(node(fn).left, value, CONS);
    } catch (const StatementStop&) {  // the pool ran out
        cutshort(n, APP, closure, arg);
        throw;
    }
    x.right = variable;
    x.left = node(fn).right;
    newnodes += 2;
    BetaSteps++;
    stepdone(RuleClosure, n);
    substitute(n);
}

// True when p starts a whole binding: a variable cell whose right field is a
// value cell.
static inline bool isbinding(Ref p) {
    return node(p).kind == CONS && node(node(p).right).kind == CONS;
}

// sub(v, E), v an identifier  =>  ident(the value bound to v in E), or
// ident(v) when E does not bind it.  The search stops at the first cell that
// is not a whole binding, and at a ring of bindings written by a program.
static void lookup(Ref s) {
    Ref v = node(s).left;
    Ref p = node(s).right;
    RingWatch ring;
    while (p != nil && isbinding(p) && !metagain(ring, p)) {
        Ref value = node(p).right;
        if (node(p).left == v) {
            makeident(s, node(value).left);
            return;
        }
        p = node(value).right;
    }
    makeident(s, v);
}

// sub(sub(T, E2), E)  =>  sub(T, E2' E), where E2' binds every variable of E2
// to sub(its value, E): the inner bindings apply first, the outer environment
// supplies the rest.  The copy is built front to back and hangs from s's
// right field at every step, its last value cell ending in E, so the copy, E
// and (through s's left field) E2 all stay reachable.
static void compose(Ref s) {
    Node& x = node(s);
    Ref inner = x.left;
    Ref outer = x.right;
    Ref last = NoNode;  // value cell of the last binding copied
    Ref p = node(inner).right;
    RingWatch ring;
    try {
        while (p != nil && isbinding(p) && !metagain(ring, p)) {
            Ref value = node(p).right;
            Ref delayed = makenode(node(value).left, outer, SUB);
            Ref cell = makenode(delayed, outer, CONS);
            Ref binding = makenode(node(p).left, cell, CONS);
            newnodes += 3;
            if (last == NoNode) x.right = binding;
            else node(last).right = binding;
            last = cell;
            p = node(value).right;
        }
    } catch (const StatementStop&) {  // the pool ran out: the copy made so far goes
        cutshort(s, SUB, inner, outer);
        throw;
    }
    x.left = node(inner).left;
}

bool substitute(Ref s) {
    stackguard();
    // Steps that only replace s's term (a definition by its term, a nested
    // "sub" by composition) build nothing when no binding is copied, so a
    // ring of such terms, which only a program's own cyclic definitions can
    // make, is watched for: the term met again is stuck.
    RingWatch ring;
    for (;;) {
        Node& x = node(s);
        Ref t = x.left, e = x.right;
        if (e == nil) {  // sub(T, nil)  =>  ident(T)
            makeident(s, t);
            stepdone(RuleSubNil, s);
            return true;
        }
        const Node& term = node(t);
        switch (term.kind) {
        case INTEGER:
        case STRING:
        case REAL:  // sub(literal, E)  =>  ident(literal)
            makeident(s, t);
            stepdone(RuleSubLiteral, s);
            return true;
        case IDENTIFIER:
            lookup(s);
            stepdone(RuleLookup, s);
            return true;
        case LAMBDA:  // sub(lambda x B, E) is a closure
            return true;
        case DEFINITION:
        case SUB: {
            if (metagainbuilding(ring, t)) return false;
            if (term.kind == SUB) {
                compose(s);
                stepdone(RuleCompose, s);
                continue;
            }
            // sub(name, E)  =>  sub(its term, E)
            Ref d = definitionterm(t);
            if (node(d).kind == DEFINITION) {
                makeident(s, d);
                stepdone(RuleSubName, s);
                return true;
            }
            x.left = d;
            stepdone(RuleSubName, s);
            continue;
        }
        default: {
            std::int32_t k = term.kind;
            x.kind = k;
            Ref next;
            try {
                if (term.left == term.right) {
                    // sub(k(A, A), E)  =>  k(D, D), D = sub(A, E): one delayed
                    // substitution serves both fields, so A is reduced once
                    Ref d = makenode(term.left, e, SUB);
                    newnodes += 1;
                    x.left = d;
                    x.right = d;
                    next = d;
                } else {
                    // sub(k(A, B), E)  =>  k(sub(A, E), sub(B, E)); the left one
                    // goes on at once, down the left spine
                    Ref d1 = makenode(term.left, e, SUB);
                    x.left = d1;
                    Ref d2 = makenode(term.right, e, SUB);
                    x.right = d2;
                    newnodes += 2;
                    next = d1;
                }
            } catch (const StatementStop&) {  // the pool ran out
                cutshort(s, SUB, t, e);
                throw;
            }
            stepdone(RuleSubInto + k, s);
            s = next;
        }
        }
    }
}
