// The reference reducer: a second reducer, for counting only.  It takes its
// own copy of a term out of the pool before the engine reduces it, and then
// reduces that copy by rewriting a tree under one of the classic strategies:
//
//   call by name   the function part first; the argument goes in unreduced,
//                  and every use of it reduces its own copy; no reduction
//                  under a lambda
//   call by value  the argument to weak head normal form before the beta
//                  step, and the parts of a pair before the pair is a value;
//                  no reduction under a lambda
//   normal order   as call by name, then under every lambda of the result:
//                  the full normal form, reached in the engine's order
//
// Under each, the parts of a pair and of a stuck application are reduced to
// the end as the engine reduces them, so a list comes out whole.  The
// operators are the engine's own rules (operators.h), strict, left operand
// first, and the truth values are the start-up terms lambda x y x and
// lambda x y y.  A beta step is a lambda applied; an operator step, an
// operator's rule applied; nothing else counts.
//
// The tree is never rewritten in place: reducing a node gives a new node
// and leaves the old one as it was, so a part reached along two paths is
// reduced along each, as a tree holding two copies of it would be.  That is
// what the engine's sharing saves, and what the counts show.  Substitution
// is delayed and pushed one constructor at a time (a Delayed node pairs a
// tree with an environment), and the copy of the term is unfolded into the
// tree as far as reduction reaches it: the copy may be cyclic (a recursive
// definition is a cycle), the tree never is.
//
// An environment here is a list of Binding nodes, searched from the front,
// whose values are final: a value found is not looked up in the same
// environment again.  Putting an environment E into a closure's own E2 gives
// E2 with every value delayed under E, followed by E (compose); a lambda
// opened for normal order takes a fresh name, so no value put in under it
// is captured.
//
// Trees live in an arena of their own, counted by reference and freed as
// soon as nothing holds them, so a long reduction needs the memory of its
// largest term, not of every term it passed through.
#include "reduce/reduce.h"
#include "reduce/operators.h"

#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// ---- the copy ------------------------------------------------------------
// A node of the pool as the copy holds it.
struct Original {
    std::int32_t kind;
    std::uint32_t left;   // inner kinds and definitions: a copy index; numbers: the value
    std::uint32_t right;  // two-field inner kinds: a copy index
    Ref id;               // the pool node: the identity of a name or a string atom
};
std::vector<Original> Copy;
std::uint32_t CopyTrue = 0, CopyFalse = 0;  // the truth values in the copy
std::uint32_t CopyRoot = 0;                 // the term
bool CopyTaken = false;
// The copy holds no environment the engine's reduction could change: the
// reference reads an environment once, as the engine first meets it, and
// compares its normal forms only then.
bool CopySettled = true;

// ---- the tree ------------------------------------------------------------
// Kinds beyond the store's.  The store's kinds keep their meaning: APP, CONS
// and the operators "print" to "=s" with their operands in a and b (one
// operand: a only); IDENTIFIER with its name in a; INTEGER and REAL with
// the value in a, STRING with its identity in a; LAMBDA (only normal order
// makes one) with its parameter's name in a and its body in b.
enum TreeKind : std::int32_t {
    Closure = KINDCOUNT,  // lambda a. b, with environment c put in for every other name
    Delayed,              // the tree a with environment b put in
    Binding,              // name a bound to value b; c the next binding or 0
    TreeKindEnd
};

// A reference to a tree is its index in the arena, or a node of the copy
// with CopyTag added: that node, unfolded when reduction reaches it, so a
// part of the copy reduction never reaches costs nothing.  0 is no tree.
constexpr std::uint32_t CopyTag = 0x80000000u;
inline bool isintree(std::uint32_t i) { return i != 0 && (i & CopyTag) == 0; }

// A name is the pool position of an identifier (names are interned) or a
// fresh one of normal order's making, from FreshBase up.  NoName, the name of
// a parameter that is not an identifier (one a definition replaced), is
// bound by nothing.
constexpr std::uint32_t FreshBase = 0x80000000u;  // above every pool position (MaxBlocks * 1001 < 2^31)
constexpr std::uint32_t NoName = NoNode;

struct Tree {
    std::int16_t kind;
    std::uint16_t flags;
    std::uint32_t refs;  // holders: handles and the fields of other trees
    std::uint32_t a, b, c;
};
constexpr std::uint16_t InWhnf = 1;        // whnf returns this node as it is
constexpr std::uint16_t InNormalForm = 2;  // normalize returns this node as it is

// Index 0 is the null tree; a free node's a field is the next free node.
std::vector<Tree> Trees;
std::uint32_t FreeTrees = 0;
std::uint32_t LiveTrees = 0;
// Trees alive at once, at most: 4M nodes of 20 bytes, 80 MB.  A term that
// grows past it is treated as one that does not end.
constexpr std::uint32_t TreeLimit = std::uint32_t(1) << 22;

// Which fields of a kind hold trees, by kind.
constexpr std::uint8_t HoldsA = 1, HoldsB = 2, HoldsC = 4;
constexpr std::uint8_t holds(std::int32_t k) {
    if (k == APP || k == CONS || (k >= PLUS && k <= EQS) || k == Delayed) return HoldsA | HoldsB;
    if (k >= PRINT && k <= TRUNC) return HoldsA;
    if (k == LAMBDA) return HoldsB;
    if (k == Closure || k == Binding) return HoldsB | HoldsC;
    return 0;
}
struct HoldsTable {
    std::uint8_t of[TreeKindEnd];
    constexpr HoldsTable() : of() {
        for (std::int32_t k = 0; k < TreeKindEnd; k++) of[k] = holds(k);
    }
};
constexpr HoldsTable Holds;

// Why a reduction was given up.
struct GivenUp {
    Finish why;
};

inline void hold(std::uint32_t i) {
    if (isintree(i)) Trees[i].refs++;
}

// Frees tree i, which nobody holds any more, and the trees only it held,
// without recursion (a list may be long).
void freetree(std::uint32_t i) {
    static std::vector<std::uint32_t> pending;
    for (;;) {
        Tree& x = Trees[i];
        std::uint8_t h = Holds.of[x.kind];
        std::uint32_t kids[3] = {h & HoldsA ? x.a : 0, h & HoldsB ? x.b : 0, h & HoldsC ? x.c : 0};
        x.a = FreeTrees;
        FreeTrees = i;
        LiveTrees--;
        std::uint32_t next = 0;
        for (std::uint32_t k : kids) {
            if (!isintree(k) || --Trees[k].refs != 0) continue;
            if (next == 0) next = k;
            else pending.push_back(k);
        }
        if (next == 0) {
            if (pending.empty()) return;
            next = pending.back();
            pending.pop_back();
        }
        i = next;
    }
}

// Drops one holder of i.
inline void drop(std::uint32_t i) {
    if (isintree(i) && --Trees[i].refs == 0) freetree(i);
}

// An owning reference to a tree.
class H {
public:
    H() = default;
    static H adopt(std::uint32_t i) {
        H h;
        h.i = i;
        return h;
    }
    static H share(std::uint32_t i) {
        hold(i);
        return adopt(i);
    }
    H(const H& o) : i(o.i) { hold(i); }
    H(H&& o) noexcept : i(std::exchange(o.i, 0)) {}
    H& operator=(H o) noexcept {
        std::swap(i, o.i);
        return *this;
    }
    ~H() { drop(i); }
    std::uint32_t get() const { return i; }
    std::uint32_t release() { return std::exchange(i, 0); }
    const Tree& operator*() const { return Trees[i]; }  // a tree, not a copy node; valid until the next is made

private:
    std::uint32_t i = 0;
};

// A new node; the fields that hold trees take over the holds passed in.
H make(std::int32_t kind, std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0) {
    if (LiveTrees >= TreeLimit) throw GivenUp{Finish::Diverges};  // the arena is dropped whole
    std::uint32_t i = FreeTrees;
    if (i != 0) {
        FreeTrees = Trees[i].a;
    } else {
        i = std::uint32_t(Trees.size());
        Trees.push_back(Tree{});
    }
    Trees[i] = Tree{std::int16_t(kind), 0, 1, a, b, c};
    LiveTrees++;
    return H::adopt(i);
}

H marked(H t, std::uint16_t flag) {
    Trees[t.get()].flags |= flag;
    return t;
}

// ---- the run's bounds and counts -----------------------------------------
Strategy Mode = Strategy::Name;
std::uint64_t Beta = 0, Ops = 0;
std::uint64_t StepLimit = 0;
std::uint64_t Work = 0;      // turns of the reducer's loops, steps or not
std::uint64_t WorkAtStep = 0;  // Work at the latest step
// A reduction that makes no step in this many turns goes round for ever
// (a ring of indirections or names, a cyclic list normalized): the copy
// unfolded many times over, and a million turns besides.
std::uint64_t IdleLimit = 0;
constexpr std::uint64_t IdlePerCopyNode = 64;
constexpr std::uint64_t IdleBase = std::uint64_t(1) << 20;
// How often, in turns, an interrupt is looked for.
constexpr std::uint64_t ReferencePoll = 4096;
std::uint32_t NextFresh = FreshBase;

void counted(bool beta) {
    if (beta) Beta++;
    else Ops++;
    WorkAtStep = Work;
    if (Beta + Ops > StepLimit) throw GivenUp{Finish::Diverges};
}

void turned() {
    ++Work;
    if (Work % ReferencePoll != 0) return;
    if (interruptpending()) {
        takeinterrupt();
        throw GivenUp{Finish::Stopped};
    }
    if (Work - WorkAtStep > IdleLimit) throw GivenUp{Finish::Diverges};
}

// The recursion (whnf and normalize, on operands and parts) goes no deeper
// than this, nor past the engine's depth guard.  A strategy that goes round
// without end often does it by recursion (by value, a cyclic list's parts
// before the list); giving up unwinds every level, which costs about a
// microsecond each, so the bound keeps that to a small fraction of a second
// while leaving room for the engine's own deep terms (a recursion 5000 calls
// deep takes a few levels a call).
constexpr std::uint32_t ReferenceDepth = std::uint32_t(1) << 16;
std::uint32_t Depth = 0;
struct DepthGuard {
    DepthGuard() {
        char here;
        if (++Depth > ReferenceDepth || &here < StackLimit) {
            Depth--;
            throw GivenUp{Finish::Diverges};
        }
    }
    ~DepthGuard() { Depth--; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// ---- unfolding the copy, and substitution ---------------------------------
inline std::uint32_t copied(std::uint32_t c) { return c | CopyTag; }

inline bool isliteral(std::int32_t k) { return k == INTEGER || k == REAL || k == STRING; }

// The bindings a copied environment holds, front to back, as long as its
// cells are whole bindings (the engine's search stops at the same cell); a
// variable that is not an identifier is bound by nothing.
std::uint32_t copiedenvironment(std::uint32_t c) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cells;  // name, value's copy index
    while (Copy[c].kind == CONS && Copy[Copy[c].right].kind == CONS && cells.size() < Copy.size()) {
        const Original& variable = Copy[Copy[c].left];
        const Original& value = Copy[Copy[c].right];
        cells.emplace_back(variable.kind == IDENTIFIER ? variable.id : NoName, value.left);
        c = value.right;
    }
    H env;
    for (std::size_t k = cells.size(); k-- > 0;)
        env = make(Binding, cells[k].first, copied(cells[k].second), env.release());
    return env.release();
}

// The tree of copy node c, one level deep: its parts are copy nodes.
H unfold(std::uint32_t c) {
    const Original o = Copy[c];
    switch (o.kind) {
    case IDENTIFIER:
    case STRING: return make(o.kind, o.id);
    case INTEGER:
    case REAL: return make(o.kind, o.left);
    case LAMBDA: {
        const Original& p = Copy[o.left];
        return make(Closure, p.kind == IDENTIFIER ? p.id : NoName, copied(o.right), 0);
    }
    case SUB: {  // a closure or a delayed substitution the engine made, or one written
        std::uint32_t env = copiedenvironment(o.right);
        return make(Delayed, copied(o.left), env);
    }
    case DEFINITION: {  // its term; a definition that stands only for itself is a name
        std::uint32_t d = o.left;
        for (std::size_t k = 0; Copy[d].kind == DEFINITION; d = Copy[d].left)
            if (++k > Copy.size()) return make(IDENTIFIER, o.id);
        return unfold(d);
    }
    default:
        if (isoneoperand(o.kind)) return make(o.kind, copied(o.left));
        return make(o.kind, copied(o.left), copied(o.right));
    }
}

// t with env put in, delayed; a number or a string needs nothing.
H delayed(std::uint32_t t, std::uint32_t env) {
    std::int32_t k = isintree(t) ? Trees[t].kind : Copy[t & ~CopyTag].kind;
    if (env == 0 || isliteral(k)) return H::share(t);
    hold(t);
    hold(env);
    return make(Delayed, t, env);
}

// E2 then E: every binding of E2 with its value under E, then E itself.
std::uint32_t compose(std::uint32_t e2, std::uint32_t e) {
    std::vector<std::uint32_t> cells;
    for (std::uint32_t p = e2; p != 0; p = Trees[p].c) cells.push_back(p);
    H env = H::share(e);
    for (std::size_t k = cells.size(); k-- > 0;) {
        std::uint32_t p = cells[k];
        std::uint32_t name = Trees[p].a;
        H value = delayed(Trees[p].b, e);
        env = make(Binding, name, value.release(), env.release());
    }
    return env.release();
}

// One level of substitution: the tree t with environment env put in, its
// top constructor made and env delayed on each part.
H pushin(std::uint32_t t, std::uint32_t env) {
    H keep;  // holds an unfolded t
    for (;;) {
        turned();
        if (!isintree(t)) {
            keep = unfold(t & ~CopyTag);
            t = keep.get();
        }
        const Tree x = Trees[t];
        switch (x.kind) {
        case IDENTIFIER:  // v under E  =>  the value E binds v to, or v
            for (std::uint32_t p = env; p != 0; p = Trees[p].c)
                if (Trees[p].a == x.a) return H::share(Trees[p].b);
            return H::share(t);
        case INTEGER:
        case REAL:
        case STRING: return H::share(t);
        case Delayed:  // (T under E2) under E  =>  T under E2 then E
            hold(x.a);
            return make(Delayed, x.a, compose(x.b, env));
        case LAMBDA:  // lambda y B under E  =>  the closure of B and E
            hold(x.b);
            hold(env);
            return make(Closure, x.a, x.b, env);
        case Closure:
            hold(x.b);
            return make(Closure, x.a, x.b, compose(x.c, env));
        default:  // k(A, B) under E  =>  k(A under E, B under E)
            if (isoneoperand(x.kind)) return make(x.kind, delayed(x.a, env).release());
            {
                H left = delayed(x.a, env);
                H right = delayed(x.b, env);
                return make(x.kind, left.release(), right.release());
            }
        }
    }
}

// ---- reduction -------------------------------------------------------------
H whnf(H t);
H normalize(H t);

H truthvalue(bool t) { return H::adopt(copied(t ? CopyTrue : CopyFalse)); }

// An operand as the operator rules read it: its kind and its value.
Node operandnode(const Tree& x) {
    std::int32_t k = x.kind >= KINDCOUNT ? std::int32_t(LAMBDA) : std::int32_t(x.kind);  // a closure is a function
    return Node{1, 1, k, x.a, x.b};
}

// Builds a rule's answer as a tree.
struct TreeSink {
    std::uint32_t operand;  // the first operand: the pair "car" and "cdr" take apart
    H answer;
    void integer(std::uint32_t v) { answer = make(INTEGER, v); }
    void real(std::uint32_t bits) { answer = make(REAL, bits); }
    void truth(bool t) { answer = truthvalue(t); }
    void head() { answer = H::share(Trees[operand].a); }  // car (cons H T) => H
    void tail() { answer = H::share(Trees[operand].b); }  // cdr (cons H T) => T
    void error() { answer = make(STRING, ErrorAtom); }
};

// Weak head normal form of t under Mode.
H whnf(H t) {
    DepthGuard level;
    for (;;) {
        turned();
        if (!isintree(t.get())) {
            t = unfold(t.get() & ~CopyTag);
            continue;
        }
        const Tree x = *t;
        if (x.flags & InWhnf) return t;
        switch (x.kind) {
        case Delayed: t = pushin(x.a, x.b); continue;
        case IDENT: t = H::share(x.a); continue;  // ident T  =>  T
        case PRINT:  // print T  =>  false, once T is normalized (nothing is printed)
            normalize(H::share(x.a));
            t = truthvalue(false);
            continue;
        case APP: {
            H f = whnf(H::share(x.a));
            H arg = H::share(x.b);
            if (Mode == Strategy::Value) arg = whnf(std::move(arg));
            const Tree fx = *f;
            if (fx.kind == Closure || fx.kind == LAMBDA) {
                // app(lambda y B, A)  =>  B with y bound to A, in front of the closure's environment
                counted(true);
                std::uint32_t rest = fx.kind == Closure ? fx.c : 0;
                hold(rest);
                H env = make(Binding, fx.a, arg.release(), rest);
                hold(fx.b);
                t = make(Delayed, fx.b, env.release());
                continue;
            }
            // no function: stuck
            return marked(make(APP, f.release(), arg.release()), InWhnf);
        }
        case CONS: {
            if (Mode != Strategy::Value) return t;
            // by value a pair is a value once its parts are
            H head = whnf(H::share(x.a));
            H tail = whnf(H::share(x.b));
            return marked(make(CONS, head.release(), tail.release()), InWhnf);
        }
        case LAMBDA:
        case Closure:
        case IDENTIFIER:
        case INTEGER:
        case REAL:
        case STRING: return t;
        default: {  // the operators "car" to "=s": operands first, left before right
            bool two = x.kind >= PLUS;
            H a = whnf(H::share(x.a));
            H b = two ? whnf(H::share(x.b)) : H();
            TreeSink to{a.get(), H()};
            bool done = two ? binaryrule(to, x.kind, (*a).a, operandnode(*a), (*b).a, operandnode(*b))
                            : unaryrule(to, x.kind, operandnode(*a));
            if (!done) return marked(make(x.kind, a.release(), b.release()), InWhnf);  // stuck
            counted(false);
            t = std::move(to.answer);
            continue;
        }
        }
    }
}

// Full normal form of t as far as Mode goes: the weak head normal form, then
// the parts of pairs and of stuck applications, and under normal order the
// bodies of lambdas.
H normalize(H t) {
    DepthGuard level;
    t = whnf(std::move(t));
    const Tree x = *t;
    if (x.flags & InNormalForm) return t;
    switch (x.kind) {
    case APP: {
        H f = normalize(H::share(x.a));
        H arg = normalize(H::share(x.b));
        return marked(make(APP, f.release(), arg.release()), InNormalForm | InWhnf);
    }
    case CONS: {
        // The head by recursion, the tail by this loop, so a long list needs
        // no deep stack: each new cell's tail is filled in when the next
        // one is made (a cell no one else holds yet may be written).
        H first;
        std::uint32_t last = 0;
        H cell = std::move(t);
        for (;;) {
            const Tree c = *cell;
            H head = normalize(H::share(c.a));
            H made = marked(make(CONS, head.release(), 0), InNormalForm | InWhnf);
            std::uint32_t m = made.get();
            if (last == 0) first = std::move(made);
            else Trees[last].b = made.release();
            last = m;
            H rest = whnf(H::share(c.b));
            if ((*rest).kind != CONS || ((*rest).flags & InNormalForm)) {
                H end = normalize(std::move(rest));
                Trees[last].b = end.release();
                return first;
            }
            cell = std::move(rest);
        }
    }
    case LAMBDA:
    case Closure: {
        if (Mode != Strategy::Normal) return t;
        // lambda y B  =>  lambda y' B', B' the normal form of B with y renamed
        // y', a fresh name that no value put in can hold
        std::uint32_t name = NextFresh++;
        H fresh = make(IDENTIFIER, name);
        std::uint32_t rest = x.kind == Closure ? x.c : 0;
        hold(rest);
        H env = make(Binding, x.a, fresh.release(), rest);
        hold(x.b);
        H body = normalize(make(Delayed, x.b, env.release()));
        return marked(make(LAMBDA, name, body.release()), InNormalForm | InWhnf);
    }
    default: return marked(std::move(t), InNormalForm);
    }
}

// ---- the engine's normal form beside the reference's ----------------------
// The engine's normal form is first-order data when it holds only numbers,
// string atoms, free names and pairs of them.
bool isdata(Ref r) {
    std::vector<Ref> todo{r};
    std::unordered_map<Ref, bool> seen;
    while (!todo.empty()) {
        Ref n = todo.back();
        todo.pop_back();
        if (!seen.emplace(n, true).second) continue;
        const Node& x = node(n);
        switch (x.kind) {
        case IDENT: todo.push_back(x.left); break;
        case CONS:
            todo.push_back(x.left);
            todo.push_back(x.right);
            break;
        case INTEGER:
        case REAL:
        case STRING:
        case IDENTIFIER:
        case DEFINITION: break;
        default: return false;
        }
    }
    return true;
}

// True when data r and tree t are the same term.  The walk follows the
// tree, which is finite; the engine's term may be a cyclic list.
bool samedata(Ref r, std::uint32_t t) {
    for (;;) {
        while (node(r).kind == IDENT) r = node(r).left;  // isdata saw no ring of indirections
        const Node& x = node(r);
        const Tree& y = Trees[t];
        switch (x.kind) {
        case INTEGER:
        case REAL: return y.kind == x.kind && y.a == x.left;
        case STRING: return y.kind == STRING && y.a == r;
        case IDENTIFIER:
        case DEFINITION: return y.kind == IDENTIFIER && y.a == r;
        default:  // a pair
            if (y.kind != CONS || !samedata(x.left, y.a)) return false;
            r = x.right;
            t = y.b;
        }
    }
}

// An environment the program wrote can change while the engine reduces: a
// variable cell that is not an identifier (ident y) may become one, and an
// operand where the next cell should be may become a pair, so that a later
// search finds a binding an earlier one did not.  An environment is settled
// when each of its cells is a whole binding of an identifier, up to an end
// that nothing rewrites.
bool rewritable(std::int32_t k) {
    return !(k == INTEGER || k == REAL || k == STRING || k == IDENTIFIER || k == LAMBDA);
}
bool settled(std::uint32_t c) {
    for (std::size_t k = 0; k <= Copy.size(); k++) {
        const Original& cell = Copy[c];
        if (cell.kind != CONS) return !rewritable(cell.kind);
        const Original& value = Copy[cell.right];
        if (value.kind != CONS) return !rewritable(value.kind);
        if (Copy[cell.left].kind != IDENTIFIER) return false;
        c = value.right;
    }
    return true;  // a ring of bindings: the search stops on it the same way each time
}

void clearTrees() {
    Trees.assign(1, Tree{});
    FreeTrees = 0;
    LiveTrees = 0;
}

}  // namespace

void referencecopy(Ref root) {
    Copy.clear();
    std::unordered_map<Ref, std::uint32_t> at;  // pool position -> copy index
    std::vector<Ref> todo;
    auto index = [&](Ref r) {
        if (r == NoNode) return std::uint32_t(0);  // cannot happen in a built term; the root's copy stands in
        auto [it, added] = at.emplace(r, std::uint32_t(Copy.size()));
        if (added) {
            Copy.push_back(Original{IDENTIFIER, 0, 0, r});
            todo.push_back(r);
        }
        return it->second;
    };
    CopyRoot = index(root);
    CopyTrue = index(TrueNode);
    CopyFalse = index(FalseNode);
    while (!todo.empty()) {
        Ref r = todo.back();
        todo.pop_back();
        const Node& x = node(r);
        Original o{x.kind, 0, 0, r};
        if (isinner(x.kind)) {
            o.left = index(x.left);
            if (!isoneoperand(x.kind)) o.right = index(x.right);  // one operand: only left counts
        } else if (x.kind == DEFINITION) {
            o.left = index(x.left);
        } else if (x.kind == INTEGER || x.kind == REAL) {
            o.left = x.left;
        }
        Copy[at[r]] = o;
    }
    CopySettled = true;
    for (const Original& o : Copy)
        if (o.kind == SUB && !settled(o.right)) CopySettled = false;
    CopyTaken = true;
}

void referencedrop() {
    Copy.clear();
    Copy.shrink_to_fit();
    Trees.clear();
    Trees.shrink_to_fit();
    FreeTrees = LiveTrees = 0;
    CopyTaken = false;
}

StrategyRun referencerun(Strategy s, std::uint64_t budget, Ref normalform) {
    StrategyRun run;
    if (!CopyTaken) return run;
    clearTrees();
    Mode = s;
    Beta = Ops = 0;
    StepLimit = budget;
    Work = WorkAtStep = 0;
    IdleLimit = IdlePerCopyNode * Copy.size() + IdleBase;
    NextFresh = FreshBase;
    Depth = 0;
    try {
        H result = normalize(H::adopt(copied(CopyRoot)));
        if (normalform != NoNode && CopySettled && isdata(normalform))
            run.agrees = samedata(normalform, result.get()) ? 1 : 0;
    } catch (const GivenUp& up) {
        run.end = up.why;
    }
    run.beta = Beta;
    run.ops = Ops;
    clearTrees();
    return run;
}
