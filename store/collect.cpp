// The mark-and-sweep collector.  Marking walks the graph depth-first from
// every root with the fixed MarkStack instead of recursion, and with
// DeepMarking goes on past a path deeper than that stack (store.h); the
// sweep is the pool's own.  A node reached by the marking gets its bit in
// MarkBits; every other node goes on the free list.  The nodes' own bits,
// walk and flags, are not touched.
#include "store/store.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <vector>

// The path from the root: for each node on it whose two fields differ, the
// right field still to walk (kept here so that turning right reads no node);
// and the depths of the entries whose right field is still to walk, deepest
// last, so that backing up goes straight to the next one.  An entry whose
// walk has turned right stays on the path, counted by its depth, until the
// walk backs up past it.
static Ref MarkRight[MarkStackSize];
static int MarkPending[MarkStackSize];

bool DeepMarking = false;
std::uint64_t DeepMarkings = 0;

// With DeepMarking: nodes left to mark from by a path deeper than the stack
// (unmarked, or marked since by another walk), and whether one did not fit,
// so that the pool must be scanned for it.
static Ref Frontier[FrontierSize];
static int FrontierTop = 0;
static bool FrontierLost = false;
static bool PastStack = false;  // the marking under way went past the stack

static Root Roots[RootCapacity];  // filled by the driver at start-up
static int RootTop = 0;           // entries of Roots in use

void clearroots() { RootTop = 0; }
void addroot(const Ref* ref) { addroots(ref, nullptr, 0); }
void addroots(const Ref* table, const std::int32_t* count, std::int32_t bias) {
    if (RootTop == RootCapacity) std::abort();  // a new root needs a bigger table
    Roots[RootTop++] = Root{table, count, bias};
}

// The path is deeper than the stack holds: the run cannot go on safely.
[[noreturn]] static void markstackover() {
    outpart(Part::Report);  // in the middle of the collection's line
    outs("Stack ga tarimsen!\n");
    endrun(1);
}

// Marks everything reachable from root.  The stack holds the nodes of the
// current path whose two fields differ; a node whose fields are the same (one
// operand, an indirection) and a definition (its body) cost no entry.
static inline bool reached(Ref r) { return (MarkBits[r >> 6] >> (r & 63)) & 1; }

static std::uint32_t Live = 0;  // nodes the marking under way has reached

// Sets r's bit; false when it was set already.
static inline bool reachnew(Ref r) {
    std::uint64_t& word = MarkBits[r >> 6];
    std::uint64_t bit = std::uint64_t(1) << (r & 63);
    if (word & bit) return false;
    word |= bit;
    return true;
}

// A node for the marking past the stack to mark from.
static void leave(Ref r) {
    if (FrontierTop < FrontierSize) Frontier[FrontierTop++] = r;
    else FrontierLost = true;  // still unmarked under a marked node: the scan finds it
}

// The step both exact walks take down a chain of left fields: from cur, the
// first inner node new to this marking, marking and counting in live every
// new node met on the way to it; a definition leads on to its body, which
// lives as long as its name.  Null when the chain ends first: at NoNode, a
// node marked already, or any other leaf.
static inline const Node* newinner(Ref cur, std::uint32_t& live) {
    while (cur != NoNode && reachnew(cur)) {
        live++;
        const Node& n = Pool[cur];
        if (isinner(n.kind)) return &n;
        if (n.kind != DEFINITION) break;
        cur = n.left;
    }
    return nullptr;
}

static void marknode(Ref root) {
    int depth = 0;    // entries on the path
    int pending = 0;  // entries of MarkPending in use: never more than depth
    Ref cur = root;
    std::uint32_t live = 0;
    for (;;) {
        // Visit cur, descending along left fields while nodes are new.
        while (const Node* n = newinner(cur, live)) {
            if (n->left == n->right) {
                cur = n->left;
                continue;
            }
            MarkRight[depth] = n->right;
            MarkPending[pending++] = depth;
            cur = n->left;
            if (++depth >= MarkStackSize) [[unlikely]] {
                if (!DeepMarking) markstackover();
                // The node's two fields are left to the marking past the
                // stack, and the walk backs up as from a leaf.
                depth--;
                pending--;
                leave(cur);
                leave(MarkRight[depth]);
                PastStack = true;
                break;
            }
        }
        // Back up to the nearest node whose right side is still to walk,
        // and turn right there.
        if (pending == 0) {
            Live += live;
            return;
        }
        depth = MarkPending[--pending];
        cur = MarkRight[depth];
        // The walk waits on each node's load; the right field it will turn
        // to next is known already, so its node is asked for now and comes
        // while this right side is walked (most are short: the rest of an
        // environment after one binding's value).  The order is unchanged.
        if (pending > 0) __builtin_prefetch(&Pool[MarkRight[MarkPending[pending - 1]]]);
        if (++depth >= MarkStackSize) markstackover();
    }
}

// Marks everything reachable from root, in a pool too small for the walk
// above to run out of stack: the walk holds each node at most once, so with
// fewer nodes than MarkStackSize it never can, and the order it marks in is
// seen by nothing.  In such a pool (11 blocks or fewer) the nodes are in the
// cache, and what a walk costs is the wait for each load, the next address
// being read from the node before; so two walkers go side by side, each down
// its own chain of left fields, leaving right fields on a shared stack, and
// their loads overlap.  Every node is taken once: its bit is set when it is
// pushed or walked to.
static void marknodes(Ref root) {
    Ref* pending = MarkRight;  // at most one entry a node: fewer than MarkStackSize
    int top = 0;
    std::uint32_t live = 0;
    // The left field of an inner node, when new, is walked next; its right
    // field, when new and different, waits on the stack.  A definition leads
    // on to its body; any other leaf ends the chain.
    auto next = [&](const Node& n) -> Ref {
        Ref l = n.left;
        if (!isinner(n.kind)) {
            if (n.kind != DEFINITION) return NoNode;
        } else if (n.right != l && n.right != NoNode && reachnew(n.right)) {
            live++;
            pending[top++] = n.right;
        }
        if (l == NoNode || !reachnew(l)) return NoNode;
        live++;
        return l;
    };
    Ref a = NoNode, b = NoNode;
    if (root != NoNode && reachnew(root)) {
        live++;
        a = root;
    }
    for (;;) {
        if (a == NoNode && top > 0) a = pending[--top];
        if (b == NoNode && top > 0) b = pending[--top];
        if (a == NoNode) {
            if (b == NoNode) break;
            a = b;
            b = NoNode;
        }
        const Node& na = Pool[a];
        if (b != NoNode) {
            const Node& nb = Pool[b];
            a = next(na);
            b = next(nb);
        } else {
            a = next(na);
        }
    }
    Live += live;
}

// Marks from one root: the exact walk where the pool could make it run out
// of stack (its order decides where), the side-by-side walkers elsewhere.
static void markfrom(Ref root) {
    if (PoolSize < MarkStackSize) marknodes(root);
    else marknode(root);
}

// ---- marking past the stack ----------------------------------------------
// The order no longer matters once the exact walk has run out of stack:
// only which nodes are reached does.

// Marks everything reachable from r that is not marked yet, with MarkRight
// (free once the exact walk is done) as a stack of the right fields still
// to walk: a chain of right fields (a list, an environment) takes one entry
// at a time.  A field that finds the stack full is left on the frontier.
static void markpast(Ref r) {
    Ref* todo = MarkRight;
    int top = 0;
    std::uint32_t live = 0;
    Ref cur = r;
    for (;;) {
        while (const Node* n = newinner(cur, live)) {
            if (n->right != n->left && n->right != NoNode && !reached(n->right)) {
                if (top < MarkStackSize) todo[top++] = n->right;
                else leave(n->right);
            }
            cur = n->left;
        }
        if (top == 0) break;
        cur = todo[--top];
    }
    Live += live;
}

// Leaves on the frontier every unmarked field of a marked node, a word of
// the marks at a time (a stretch of 64 unmarked nodes costs one test).
static void scanpool() {
    std::size_t words = (std::size_t(PoolSize) + 63) / 64;
    for (std::size_t w = 0; w < words; w++) {
        for (std::uint64_t bits = MarkBits[w]; bits != 0; bits &= bits - 1) {
            const Node& n = Pool[Ref(w * 64 + std::size_t(std::countr_zero(bits)))];
            Ref fields[2] = {n.left, isinner(n.kind) ? n.right : NoNode};
            if (!isinner(n.kind) && n.kind != DEFINITION) continue;
            for (Ref f : fields)
                if (f != NoNode && !reached(f)) leave(f);
        }
    }
}

// Marks everything the frontier leads to, scanning the pool while a node
// did not fit it.  Each round marks at least one node, so it ends; and it
// ends with every field of every marked node marked: the nodes the exact
// walk reaches, no more and no fewer.
static void markbeyond() {
    for (;;) {
        while (FrontierTop > 0) markpast(Frontier[--FrontierTop]);
        if (!FrontierLost) return;
        FrontierLost = false;
        scanpool();
    }
}

// Every root of a collection, in marking order: the children of the node
// under construction, then the table the driver listed.
static void markroots(Ref a, Ref b) {
    Live = 0;
    PastStack = false;
    FrontierTop = 0;
    FrontierLost = false;
    markfrom(a);  // left child of the node makenode is building
    markfrom(b);  // its right child
    for (int i = 0; i < RootTop; i++) {
        const Root& root = Roots[i];
        std::int32_t n = root.count == nullptr ? 1 : *root.count + root.bias;
        for (std::int32_t k = 0; k < n; k++) markfrom(root.refs[k]);
    }
    if (PastStack) [[unlikely]] markbeyond();
}


void collect(Ref a, Ref b) {
    FewestFree = fewestfree();  // the high-water mark is reached just before a collection
    if (!QuietCollections) {
        outpart(Part::Collection);
        outs("\n");
        outs("GARBAGE... ");
    }
    clearmarks();
    markroots(a, b);
    if (PastStack) DeepMarkings++;
    if (!QuietCollections) outs(" END OF MARKING...");
    std::uint32_t n = sweep(false, Live);
    freenodes = n;
    Collections++;
    FreedNodes += n;
    if (!QuietCollections) outf(" freenodes = %d\n", int(n));
}

bool reachestaken(std::int64_t low, Ref high) {
    if (std::int64_t(high) <= low) return false;
    std::size_t words = (std::size_t(PoolSize) + 63) / 64;
    std::vector<std::uint64_t> before(MarkBits, MarkBits + words);
    std::uint32_t live = Live;
    bool deep = DeepMarking;
    DeepMarking = true;
    clearmarks();
    markroots(NoNode, NoNode);
    bool found = false;
    for (Ref p = Ref(low + 1); p <= high && !found; p++)
        found = reached(p) && !((before[p >> 6] >> (p & 63)) & 1);
    std::copy(before.begin(), before.end(), MarkBits);
    Live = live;
    DeepMarking = deep;
    return found;
}

// The debug check run between statements in the stress build and by the unit
// tests.  It does not allocate nodes and leaves every flag, the marks and the
// free list as it found them.
const char* poolcheck() {
    std::vector<std::uint8_t> onfree(PoolSize, 0);
    std::uint32_t count = 0;
    for (Ref r = firstfree(); r != NoNode; r = nextfree(r)) {
        if (r >= PoolSize) return "the free list leaves the pool";
        if (onfree[r]) return "the free list has a cycle";
        onfree[r] = 1;
        count++;
    }
    if (count != freecount()) return "the free list is not as long as its count";
    for (Ref r = 0; r < PoolSize; r++) {
        if (onfree[r]) continue;  // a free node's bits are stale
        if (Pool[r].walk != 0) return "a node is left with walk bits set";
    }
    // The allocator reads the free list off the marks: mark into a copy.
    std::size_t words = (std::size_t(PoolSize) + 63) / 64;
    std::vector<std::uint64_t> saved(MarkBits, MarkBits + words);
    std::uint32_t savedlive = Live;
    clearmarks();
    markroots(NoNode, NoNode);
    const char* fault = "";
    std::uint32_t live = 0;
    for (Ref r = 0; r < PoolSize; r++) {
        if (reached(r)) {
            live++;
            if (onfree[r]) fault = "a reachable node is on the free list";
        }
    }
    if (live + count > PoolSize) fault = "free and reachable nodes exceed the pool";
    std::copy(saved.begin(), saved.end(), MarkBits);
    Live = savedlive;
    return fault;
}
