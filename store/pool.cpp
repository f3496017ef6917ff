// The node pool: one allocation of lastblock+1 blocks of 1001 nodes, the free
// list threaded through the left fields of free nodes, the sweep that
// rebuilds the list and the allocator's slow course (its fast course is
// inline in store.h).
#include "store/store.h"

#include <bit>
#include <cstdlib>
#include <cstring>

Node* Pool = nullptr;
Ref PoolSize = 0;
Ref FreeHead = NoNode;
std::uint32_t freenodes = 0;
std::uint32_t FreeCount = 0;
std::uint32_t FewestFree = 0;
std::uint64_t Collections = 0;
std::uint64_t FreedNodes = 0;
bool QuietCollections = false;
std::uint32_t newnodes = 0;
Ref nil = NoNode;
Ref RealZeroNode = NoNode;
Ref TrueNode = NoNode;
Ref FalseNode = NoNode;
Ref ErrorAtom = NoNode;
NodeList PoolLists[PoolListCount];
std::uint64_t* MarkBits = nullptr;
Ref SweepNext = NoNode;

// Whether MarkBits may hold a bit: set by clearmarks for the marking that
// follows it, so that a fresh pool's bitmap, zeroed by the system, is never
// written at start-up.
static bool MarksUsed = false;

// The lazy sweep builds at least this many positions of the pool at a time:
// enough free nodes per slow-course call that its cost vanishes, few enough
// that a statement needing a handful of nodes after a collection of a big,
// mostly free pool touches a few pages of it.
constexpr Ref SweepSpan = 4096;

static std::size_t markwords(std::size_t nodes) { return (nodes + 63) / 64; }

// Takes the pool of the given number of blocks and the per-node lists that
// go with it, all or nothing.
static bool takepool(std::int64_t blocks) {
    std::size_t count = std::size_t(blocks) * BlockSize;
    // calloc: a big pool comes as fresh zero pages, which cost nothing until
    // written; start-up writes none of them.
    Pool = static_cast<Node*>(std::calloc(count, sizeof(Node)));
    MarkBits = static_cast<std::uint64_t*>(std::calloc(markwords(count), sizeof(std::uint64_t)));
    MarksUsed = false;
    bool all = Pool != nullptr && MarkBits != nullptr;
    for (NodeList& list : PoolLists) {
        list.top = 0;
        list.items = all ? static_cast<Ref*>(std::malloc(count * sizeof(Ref))) : nullptr;
        all = all && list.items != nullptr;
    }
    if (all) {
        PoolSize = Ref(count);
        return true;
    }
    poolrelease();
    return false;
}

std::int64_t pooltake(std::int32_t lastblock) {
    if (lastblock < 0) return lastblock;
    // Beyond MaxBlocks the first block that does not fit is MaxBlocks itself.
    if (std::int64_t(lastblock) >= MaxBlocks) return MaxBlocks;
    if (takepool(std::int64_t(lastblock) + 1)) return PoolTaken;
    // The machine refused the pool: find how many blocks it would give, so
    // the report names the first block that does not fit.
    std::int64_t fits = 0, fails = std::int64_t(lastblock) + 1;
    while (fails - fits > 1) {
        std::int64_t mid = fits + (fails - fits) / 2;
        if (takepool(mid)) {
            poolrelease();
            fits = mid;
        } else {
            fails = mid;
        }
    }
    return fits;
}

void poolstart() {
    FreeHead = SweepNext = NoNode;
    FreeCount = FewestFree = 0;
    Collections = FreedNodes = 0;
}

void poolrelease() {
    std::free(Pool);
    Pool = nullptr;
    std::free(MarkBits);
    MarkBits = nullptr;
    FreeHead = SweepNext = NoNode;
    PoolSize = 0;
    for (NodeList& list : PoolLists) {
        std::free(list.items);
        list.items = nullptr;
        list.top = 0;
    }
}

void clearmarks() {
    if (MarksUsed) std::memset(MarkBits, 0, markwords(PoolSize) * sizeof(std::uint64_t));
    MarksUsed = true;
}

// The highest position below the given one that the marking did not reach,
// NoNode when there is none.  A word at a time: a live stretch of 64 nodes
// costs one test.
static inline Ref highestfree(Ref below) {
    if (below == 0) return NoNode;
    Ref p = below - 1;
    std::size_t w = p >> 6;
    std::uint64_t free = ~MarkBits[w] & (~std::uint64_t(0) >> (63 - (p & 63)));
    while (free == 0) {
        if (w == 0) return NoNode;
        free = ~MarkBits[--w];
    }
    return Ref(w * 64 + 63 - std::size_t(std::countl_zero(free)));
}

// Gives a node the fields of a free node whose link is not known yet.
static inline void makefree(Ref r) {
    Node& n = Pool[r];
    n.mark = 1;
    n.shared = 1;
    n.right = NoNode;
}

// Builds the free list on from SweepNext over at least span positions: each
// free node, highest first, gets flags 1, right NoNode and a link to the next
// free node below it; the last one built links to the next free node, which
// becomes SweepNext (NoNode when none is left).  It walks MarkBits a word at
// a time and each word by its runs of free nodes, so a live stretch costs a
// bit test and a free run a plain loop of stores.
static void sweepmore(Ref span) {
    Ref prev = SweepNext;  // built but for its link
    if (prev == NoNode) return;
    Ref stop = prev > span ? prev - span : 0;
    makefree(prev);
    std::size_t w = prev >> 6;
    // The free positions of word w still to build, below prev.
    std::uint64_t free = ~MarkBits[w] & ((std::uint64_t(1) << (prev & 63)) - 1);
    for (;;) {
        while (free == 0) {
            if (w == 0) {
                Pool[prev].left = NoNode;
                SweepNext = NoNode;
                return;
            }
            free = ~MarkBits[--w];
        }
        int top = 63 - std::countl_zero(free);
        Ref r = Ref(w * 64 + std::size_t(top));
        Pool[prev].left = r;
        if (r < stop) {
            SweepNext = r;
            return;
        }
        // The run of free positions top, top-1, ... down to the first live one.
        int run = std::countl_one(free << (63 - top));
        Ref low = r - Ref(run - 1);
        for (Ref q = r; q > low; q--) {
            makefree(q);
            Pool[q].left = q - 1;
        }
        makefree(low);
        prev = low;
        int bottom = top - run + 1;
        free &= run == 64 ? 0 : ~(((std::uint64_t(1) << run) - 1) << bottom);
    }
}

void sweepfinish() { sweepmore(PoolSize); }

std::uint32_t sweep(bool reset) {
    std::uint32_t count = PoolSize;
    if (reset) {
        if (MarksUsed) std::memset(MarkBits, 0, markwords(PoolSize) * sizeof(std::uint64_t));
        MarksUsed = false;
    } else {
        for (std::size_t w = 0; w < markwords(PoolSize); w++)
            count -= std::uint32_t(std::popcount(MarkBits[w]));
    }
    // The full walk went up the positions pushing each free node on the
    // front, so the list hands out the highest position first and each free
    // node links to the next free one below it: built from the top down, the
    // same list comes out, and it can be built as far as needed.
    SweepNext = FreeHead = highestfree(PoolSize);
    // Mostly live: build it all now, since a lazy sweep would come back for a
    // few nodes at a time.
    if (!reset && count <= PoolSize / 2) sweepfinish();
    FreeCount = count;
    return count;
}

void poolrest() {
    for (Ref r = 0; r < PoolSize; r++) {
        Node& n = Pool[r];
        n.mark = 1;
        if (n.shared == 0 && n.kind != DEFINITION) n.shared = 1;
    }
}

Ref takeslow(Ref a, Ref b) {
#ifdef KESTRIVO_STRESS_GC
    collect(a, b);
#endif
    if (FreeHead == SweepNext) sweepmore(SweepSpan);
    if (FreeHead == NoNode) {
        collect(a, b);
        if (FreeHead == SweepNext) sweepmore(SweepSpan);
        if (FreeHead == NoNode) stopstatement(Stop::Exhausted);
    }
    Ref r = FreeHead;
    FreeHead = Pool[r].left;
    FreeCount--;
    return r;
}
