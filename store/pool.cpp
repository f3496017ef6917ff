// The node pool: one allocation of lastblock+1 blocks of 1001 nodes, the free
// list threaded through the left fields of free nodes, the sweep that
// rebuilds the list and the allocator's slow course (its fast course is
// inline in store.h).
#include "store/store.h"

#include <cstdlib>

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

// Takes the pool of the given number of blocks and the per-node lists that
// go with it, all or nothing.
static bool takepool(std::int64_t blocks) {
    std::size_t count = std::size_t(blocks) * BlockSize;
    Pool = static_cast<Node*>(std::malloc(count * sizeof(Node)));
    bool all = Pool != nullptr;
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
    FreeHead = NoNode;
    FreeCount = FewestFree = 0;
    Collections = FreedNodes = 0;
}

void poolrelease() {
    std::free(Pool);
    Pool = nullptr;
    PoolSize = 0;
    for (NodeList& list : PoolLists) {
        std::free(list.items);
        list.items = nullptr;
        list.top = 0;
    }
}

std::uint32_t sweep(bool reset) {
    if (reset) {
        for (Ref r = 0; r < PoolSize; r++) {
            Pool[r].mark = 1;
            Pool[r].shared = 1;
        }
    }
    FreeHead = NoNode;
    std::uint32_t count = 0;
    // Block by block and position by position is simply ascending order of
    // position; each freed node goes on the front, so the list hands out the
    // highest position first.
    for (Ref r = 0; r < PoolSize; r++) {
        Node& n = Pool[r];
        if (n.mark != 0) {
            n.shared = 1;
            n.right = NoNode;
            n.left = FreeHead;
            FreeHead = r;
            count++;
        } else {
            n.mark = 1;
        }
    }
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
    if (FreeHead == NoNode) {
        collect(a, b);
        if (FreeHead == NoNode) stopstatement(Stop::Exhausted);
    }
    Ref r = FreeHead;
    FreeHead = Pool[r].left;
    FreeCount--;
    return r;
}
