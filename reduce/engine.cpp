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
// Such a node gets FinishedFlag and is listed; the flags are cleared before
// the next statement reduces, since a later definition of a name inside can
// unstick the node.
static NodeList& Finished = PoolLists[FinishedList];

// Where runs of indirections end.
//
// An argument passed on unchanged down a recursion (map's function, a
// sieve's prime) is an indirection to the previous level's argument, which
// is an indirection to the one before: level k would walk k indirections to
// reach the value, and a list of n elements would cost n*n/2 steps.  So when
// reduce returns a node that no later reduce in this statement can take
// further, every indirection its walk went through records that node as its
// end (EndFlag, Ends.items at its position), and later walks jump there.
//
// The record changes no node, so the graph, the printer's labels and every
// count stay as they are.  It is exact because an indirection never changes
// while it lives, nor do the indirections and expanded definitions after it,
// and the end is a node reduce returns as it is: a lambda, a pair, an atom,
// a closure, or a node finished in this statement.  A collection keeps the
// whole run of a live indirection, and a dead one is written whole, its
// flags clear, before it is used again, so the record survives collections; it is
// forgotten with the finished nodes before the next statement reduces, since
// a new definition can make a finished node reducible again.  A walk round a ring
// never ends at such a node, so it records nothing and the ring watch sees
// the same nodes as before.
static NodeList& Ends = PoolLists[EndList];

// A list longer than this fraction of the pool's used part is forgotten by a
// pass over that part: the list's nodes lie all over it, a cache miss each,
// while the pass goes in order at a fraction of that a node.
constexpr Ref ForgetByPass = 16;  // a list of more than 1/16 of the used part

// Every node the list names loses the reducer's flags (a node since freed
// and reused has them clear already).  Only listed nodes carry them, and
// only nodes once handed out are listed, so clearing them in the whole used
// part of the pool comes to the same.
static void forgetlisted() {
    if (Finished.top > (PoolSize - LowestTaken) / ForgetByPass) {
        for (Ref r = LowestTaken; r < PoolSize; r++)
            if (Pool[r].flags & ReducerFlags) Pool[r].flags &= std::uint8_t(~ReducerFlags);
    } else {
        for (std::size_t i = 0; i < Finished.top; i++) {
            Node& x = node(Finished.items[i]);
            x.flags &= std::uint8_t(~ReducerFlags);
        }
    }
    Finished.top = 0;
    forgetlookups();
}

void listforstatement(Ref n) {
    if (Finished.top == PoolSize) forgetlisted();  // only nodes freed and reused repeat in the list
    Finished.items[Finished.top++] = n;
}

void forgetfinished() { forgetlisted(); }

void finish(Ref n) {
    listforstatement(n);
    node(n).flags |= FinishedFlag;
}

// The next node after indirection n: its recorded end, or its operand.
static inline Ref nextafter(Ref n) {
    const Node& x = node(n);
    return (x.flags & EndFlag) ? Ends.items[n] : x.left;
}

// Records end as the end of every indirection from the first one of a
// reduce walk, from, up to end.  The walk went through at most hops
// indirections and definitions, each now an indirection or a definition
// leading on to end, so this walk takes the same way once more.
static void recordend(Ref from, Ref end, std::uint32_t hops) {
    Ref u = from;
    for (std::uint32_t i = 0; i < hops && u != end; i++) {
        Node& x = node(u);
        if (x.kind == DEFINITION) {
            u = x.left;
            continue;
        }
        if (x.kind != IDENT) return;  // cannot happen: the walk came this way
        Ref next = nextafter(u);
        if (!(x.flags & EndFlag)) {
            listforstatement(u);
            // EndFlag is the only flag an indirection can carry (the others
            // are for finished nodes, pairs and definitions), so the byte is
            // written whole, with no load.
            x.flags = EndFlag;
        }
        Ends.items[u] = end;
        u = next;
    }
}

// A ring watch reads its fields only after start() has set them; once its
// calls are inlined here the compiler can no longer see that, as internal.h
// says, and would warn of fields used before they are set.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
Ref definitionterm(Ref d) {
    RingWatch ring;
    for (;;) {
        if (metagain(ring, d)) return d;  // stands only for itself: stuck
        Node& def = node(d);
        if (isunexpanded(d)) expand(d);  // clears the flag and expands the body
        Ref t = def.left;
        if (node(t).kind != DEFINITION) return t;
        d = t;
    }
}

// sub(literal, E)  =>  ident(literal), E not nil: the substitution step met
// most, done as substitute would do it.  True when sub node n (x) was such a
// node, now rewritten.
static inline bool subintoliteral(Node& x, Ref n) {
    std::int32_t tk = node(x.left).kind;
    if ((tk != INTEGER && tk != STRING && tk != REAL) || x.right == nil) return false;
    makeident(n, x.left);
    stepdone(RuleSubLiteral, n);
    return true;
}

// reduce, for an operand: a delayed substitution into a literal is one step
// that ends at the literal, done here without a call; the walk would make
// the same rewrite and return the literal, recording nothing.
static inline Ref reduceoperand(Ref r) {
    Node& x = node(r);
    if (x.kind == SUB && subintoliteral(x, r)) return x.left;
    return reduce(r);
}

// The walk from from, through hops indirections and definitions, ends at
// end, a node no later reduce in this statement takes further: record it for
// the indirections on the way.  After a single step there is nothing to save
// (the operand leads to end already), and after two the record would cost
// more than the step it saves.  (The walk's state goes by value: a lambda
// holding it by reference kept it in memory through the whole walk.)
static inline Ref endwalk(Ref from, std::uint32_t hops, Ref end) {
    if (hops > 2 && from != NoNode) recordend(from, end, hops);
    return end;
}

Ref reduce(Ref n) {
    stackguard();
    // A program's own cyclic definitions can lead this loop round a ring of
    // names and indirections that builds nothing.  Indirections and expanded
    // definitions never change, and every other node on such a ring changes
    // for good the first time round, so one of them met again with nothing
    // built meanwhile means the ring has no end: that node is stuck.
    RingWatch ring;
    Ref from = NoNode;       // the first indirection of the walk
    std::uint32_t hops = 0;  // indirections and definitions walked since
    for (;;) {
        FUZZSTEP();
        Node& x = node(n);
        // A node finished earlier in this statement is returned as it is.
        // Only an application or an operator can be finished and still
        // have work for the switch to do: every other finished node (a
        // lambda, a pair, a closure) is returned as it is there as well.
        switch (x.kind) {
        case LAMBDA:
        case CONS:
        case IDENTIFIER:
        case INTEGER:
        case STRING:
        case REAL:
            return endwalk(from, hops, n);
        case SUB: {
            std::int32_t tk = node(x.left).kind;
            if (tk == LAMBDA) return endwalk(from, hops, n);  // a closure
            // The two substitution steps met most, done here as substitute
            // would do them, each leaving an indirection to walk on.
            if (subintoliteral(x, n)) continue;
            if (tk == IDENTIFIER && x.right != nil) {  // sub(v, E)  =>  ident(the value of v in E, or v)
                lookup(n);
                stepdone(RuleLookup, n);
                continue;
            }
            if (!substitute(n)) return n;
            continue;
        }
        case IDENT:  // ident T  =>  T
            if (metagainbuilding(ring, n)) return n;
            if (from == NoNode) from = n;
            hops++;
            n = nextafter(n);
            continue;
        case PRINT:  // print T  =>  false, after printing the normal form of T
            x.left = normalize(x.left);
            outpart(Part::Output);
            printterm(x.left, false);
            return FalseNode;
        case DEFINITION: {  // a name defined after its mention was expanded
            if (metagainbuilding(ring, n)) return n;
            hops++;
            Ref t = definitionterm(n);
            if (node(t).kind == DEFINITION) return t;
            n = t;
            continue;
        }
        case APP: {
            if (x.flags & FinishedFlag) return endwalk(from, hops, n);
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
            return endwalk(from, hops, n);
        }
        default:  // operators "car" to "=s": operands first, left before right
            if (x.flags & FinishedFlag) return endwalk(from, hops, n);
            x.left = reduceoperand(x.left);
            if (x.kind >= PLUS) x.right = reduceoperand(x.right);
            if (applyoperator(n)) continue;
            finish(n);
            return endwalk(from, hops, n);  // operands of the wrong kinds: stuck
        }
    }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
