// The node pool: one allocation of LastBlock+1 blocks of 1001 nodes, the free
// list threaded through the left fields of free nodes, the constructor and
// the sweep that rebuilds the list.
#include "store/store.h"

#include "driver/driver.h"
#include "print/print.h"
#include "reduce/reduce.h"

#include <cstdlib>
#include <cstring>

Node* Pool = nullptr;
std::int32_t LastBlock = 5;
Ref PoolSize = 0;
Ref FreeHead = NoNode;
std::uint32_t freenodes = 0;
std::uint32_t newnodes = 0;
Ref nil = NoNode;
Ref RealZeroNode = NoNode;
Ref TrueNode = NoNode;
Ref FalseNode = NoNode;
Ref ErrorAtom = NoNode;

bool liststart(NodeList& list, std::size_t poolnodes) {
    list.items = static_cast<Ref*>(std::malloc(poolnodes * sizeof(Ref)));
    list.top = 0;
    return list.items != nullptr;
}

void listrelease(NodeList& list) {
    std::free(list.items);
    list.items = nullptr;
    list.top = 0;
}

// Takes the pool of the given number of blocks and the two per-node lists
// that go with it (the printer's and the reducer's), all or nothing.
static bool takepool(std::int64_t blocks) {
    std::size_t count = std::size_t(blocks) * BlockSize;
    Pool = static_cast<Node*>(std::malloc(count * sizeof(Node)));
    if (Pool != nullptr && printstart(count) && reducestart(count)) {
        PoolSize = Ref(count);
        return true;
    }
    poolrelease();
    return false;
}

// What pooltake found: whether it ran for the coming start-up, and when the
// machine refused the pool, the first block that did not fit.
static bool PoolTaken = false;
static std::int64_t PoolRefused = -1;

void pooltake(std::int32_t lastblock) {
    PoolRefused = -1;
    if (lastblock < 0 || std::int64_t(lastblock) >= MaxBlocks || takepool(std::int64_t(lastblock) + 1)) {
        PoolTaken = true;  // poolstart reports a count out of range
        return;
    }
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
    PoolRefused = fits;
    PoolTaken = true;
}

void poolstart(std::int32_t lastblock) {
    LastBlock = lastblock;
    FreeHead = NoNode;
    if (!PoolTaken) pooltake(lastblock);
    PoolTaken = false;
    if (lastblock < 0) {
        outf("MEMORY OVER %d\n", lastblock);
        endrun(1);
    }
    // Beyond MaxBlocks the first block that does not fit is MaxBlocks itself.
    if (std::int64_t(lastblock) >= MaxBlocks) {
        outf("MEMORY OVER %d\n", int(MaxBlocks));
        endrun(1);
    }
    if (Pool == nullptr) {
        outf("MEMORY OVER %d\n", int(PoolRefused));
        endrun(1);
    }
}

void poolrelease() {
    PoolTaken = false;
    std::free(Pool);
    Pool = nullptr;
    PoolSize = 0;
    printrelease();
    reducerelease();
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
    return count;
}

[[noreturn]] void poolexhausted() {
    if (insatu && CurrentRoot != NoNode) {
        DepthPhase = "printterm";
        printterm(CurrentRoot, false);
        outs("\n");
    }
    outf("newnodes = %d\n", newnodescount());
    theend();
}

// Takes the head of the free list, collecting first when it is empty.  a and
// b are the children of the node being built; the collection keeps them.
static inline Ref unlinkfree(Ref a, Ref b) {
    FUZZSTEP();
#ifdef KESTRIVO_STRESS_GC
    collect(a, b);
#endif
    if (FreeHead == NoNode) {
        collect(a, b);
        if (FreeHead == NoNode) poolexhausted();
    }
    Ref r = FreeHead;
    FreeHead = Pool[r].left;
    return r;
}

Ref makenode(Ref left, Ref right, std::int32_t kind) {
    Ref r = unlinkfree(left, right);
    Node& n = Pool[r];
    n.kind = kind;
    n.left = left;
    n.right = right;
    return r;
}

Ref takenode() { return unlinkfree(NoNode, NoNode); }
