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

// app(F, A)  =>  sub(B, [x:=A] E), F being lambda x B applied bare (E is
// nil) or the closure sub(lambda x B, E): the part the two beta rules share.
// fn is the lambda, env is E, rule the step's rule.  Forced inline: left to
// itself the compiler kept one copy out of line for both rules, and fib ran
// 4% more instructions.
__attribute__((always_inline)) static inline void bind(Ref n, Ref fn, Ref env, int rule) {
    Node& x = node(n);
    Ref f = x.left, arg = x.right;
    x.kind = SUB;  // still sub(F, argument): the lambda, E and A stay reachable
    Ref value, variable;
    try {
        if (taketwo(value, variable)) {
            setnode(node(value), CONS, arg, env);
            setnode(node(variable), CONS, node(fn).left, value);
        } else {
            value = makenode(arg, env, CONS);
            variable = makenode(node(fn).left, value, CONS);
        }
    } catch (const StatementStop&) {  // the pool ran out
        cutshort(n, APP, f, arg);
        throw;
    }
    x.right = variable;
    x.left = node(fn).right;
    newnodes += 2;
    BetaSteps++;
    stepdone(rule, n, fn);
    substitute(n);
}

void applylambda(Ref n) { bind(n, node(n).left, nil, RuleBeta); }

void applyclosure(Ref n) {
    Ref closure = node(n).left;
    bind(n, node(closure).left, node(closure).right, RuleClosure);
}

// The last search for each identifier.
//
// Inside a recursion the environment grows by a binding or two at each
// level, each level's bindings in front of the previous level's whole
// environment (the closure of the recursive function holds it).  A name no
// binding holds, or one bound far down, would be searched for through every
// level each time: n*n/2 steps for n levels.  So each search records where
// it started and which binding it found (none, when it ran to nil); a later
// search for the same name that comes to that start takes the same answer.
//
// The answer is the same because the cells after the start are the same:
// an environment cell is a pair, never rewritten into another kind, and
// only normalization changes a pair's fields, once, when it finishes the
// pair (compose links the cells it builds before any search can see them).
// Each cell a search passes gets LookupFlag, and normalization drops every
// record when it changes the fields of such a cell.  The records go too at
// each collection (they do not keep their nodes alive) and before the next
// statement reduces.
// A search that ends at a cell that is not a whole binding records nothing,
// since that cell may still be rewritten into one.  Searching builds no node,
// so no count changes.
struct LookupRecord {
    Ref variable = NoNode;  // the identifier searched for
    Ref start = NoNode;     // the first cell of the environment searched
    Ref found = NoNode;     // the binding found, NoNode for none
    std::uint32_t epoch = 0;        // LookupEpoch when recorded
    std::uint64_t collections = 0;  // Collections when recorded
};
// One record per slot, the slot picked by the identifier's position: a
// program has at most 100 names, so few of 128 slots are shared.
constexpr std::size_t LookupSlots = 128;
// A search through at most this many bindings is not recorded: it costs
// less than the record (which flags every cell it passed), and it leaves a
// valid record of a longer one in place: a name is often searched for in
// turn in a deep environment and in a short one (the truth values' own x
// and y), and the short one would push out the record that saves the long
// walk.
constexpr std::uint32_t ShortSearch = 4;
static LookupRecord Lookups[LookupSlots];
static std::uint32_t LookupEpoch = 1;  // a record of another epoch is void

void forgetlookups() {
    if (++LookupEpoch == 0) reducestart();  // epochs come round again: clear instead
}

void reducestart() {
    for (LookupRecord& r : Lookups) r = LookupRecord{};
    LookupEpoch = 1;
}

// Gives an environment cell the flag that makes normalization report a
// change of its fields; a finished cell's fields are final already.
static inline void relyon(Ref cell) {
    Node& x = node(cell);
    if (!(x.flags & (FinishedFlag | LookupFlag))) {
        listforstatement(cell);
        x.flags |= LookupFlag;
    }
}

// lookup beyond the two newest bindings (internal.h).  The search stops at
// the first cell that is not a whole binding, and at a ring of bindings
// written by a program.
void lookupfar(Ref s) {
    Ref v = node(s).left;
    Ref start = node(s).right;
    LookupRecord& last = Lookups[v % LookupSlots];
    bool valid = last.variable == v && last.epoch == LookupEpoch &&
                 last.collections == Collections;
    Ref known = valid ? last.start : NoNode;  // where the last search for v started
    Ref p = start;
    Ref found = NoNode;
    bool answered = false;  // the search ended at nil, a binding of v or known
    std::uint32_t bindings = 0;
    RingWatch ring;
    while (p != nil && isbinding(p) && !metagain(ring, p)) {
        if (p == known) {
            found = last.found;
            answered = true;
            bindings = ShortSearch + 1;  // this start now stands for the longer walk
            break;
        }
        bindings++;
        Ref value = node(p).right;
        if (node(p).left == v) {
            found = p;
            answered = true;
            break;
        }
        p = node(value).right;
    }
    if (p == nil) answered = true;
    if (answered && bindings > ShortSearch) {
        // The cells up to where the search stopped are what the record
        // relies on; the ones after known carry the flag already.
        for (Ref q = start; q != p; q = node(node(q).right).right) {
            relyon(q);
            relyon(node(q).right);
        }
        if (found == p) relyon(p);
        last = LookupRecord{v, start, found, LookupEpoch, Collections};
    }
    if (found != NoNode) makeident(s, node(node(found).right).left);
    else makeident(s, v);
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
    const Ref end = nil;  // never changes while a statement runs
    Ref t = node(s).left, e = node(s).right;
    for (;;) {
        Node& x = node(s);
        if (e == end) {  // sub(T, nil)  =>  ident(T)
            makeident(s, t);
            stepdone(RuleSubNil, s);
            return true;
        }
        const Node& term = node(t);
        std::int32_t k = term.kind;
        if (isinner(k) && k != LAMBDA && k != SUB) [[likely]] {
            // Into a constructor: "app", "cons", "print", "ident", an operator.
            Ref a = term.left, b = term.right;
            x.kind = k;
            Ref next;
            try {
                if (a == b) {
                    // sub(k(A, A), E)  =>  k(D, D), D = sub(A, E): one delayed
                    // substitution serves both fields, so A is reduced once
                    Ref d = makenode(a, e, SUB);
                    newnodes += 1;
                    x.left = d;
                    x.right = d;
                    next = d;
                } else {
                    // sub(k(A, B), E)  =>  k(sub(A, E), sub(B, E)); the left one
                    // goes on at once, down the left spine
                    Ref d1, d2;
                    if (taketwo(d1, d2)) {
                        setnode(node(d1), SUB, a, e);
                        setnode(node(d2), SUB, b, e);
                    } else {
                        d1 = makenode(a, e, SUB);
                        x.left = d1;
                        d2 = makenode(b, e, SUB);
                    }
                    x.left = d1;
                    x.right = d2;
                    newnodes += 2;
                    next = d1;
                }
            } catch (const StatementStop&) {  // the pool ran out
                cutshort(s, SUB, t, e);
                throw;
            }
            stepdone(RuleSubInto + k, s, t);
            s = next;
            t = a;  // the new "sub" holds A and E
            continue;
        }
        switch (k) {
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
        default: {  // a definition, or a "sub" in the term
            if (metagainbuilding(ring, t)) return false;
            if (k == SUB) {
                compose(s);
                stepdone(RuleCompose, s);
                t = x.left;
                e = x.right;
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
            t = d;
            continue;
        }
        }
    }
}
