// The node pool: one allocation of lastblock+1 blocks of 1001 nodes, the
// free list read off the collector's marks a run at a time, the sweep that
// makes it the list of every unmarked node, and the allocator's slow course
// (its fast course is inline in store.h).
#include "store/store.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Large pages for a big pool, where the system has them.  Not under the
// address sanitizer, which watches only memory the C library hands out.
#if defined(__linux__) && !defined(__EMSCRIPTEN__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(KESTRIVO_FUZZ)
#define KESTRIVO_LARGE_PAGES 1
#include <sys/mman.h>
#include <sys/resource.h>
#endif
#if defined(KESTRIVO_FIXED_POOL) && !defined(KESTRIVO_LARGE_PAGES)
#error "the pool at a fixed address is mapped and given back as large pages are"
#endif

#ifndef KESTRIVO_FIXED_POOL
Node* Pool = nullptr;
#endif
static std::size_t PoolMapped = 0;  // bytes of Pool's own mapping; 0 when calloc gave it
static bool ListsMapped = false;    // the per-node lists lie in that mapping
Ref PoolSize = 0;
std::uint32_t freenodes = 0;
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
Ref AllocNext = NoNode;
Ref AllocStop = NoNode;
std::uint32_t FreeBelow = 0;
Ref LowestTaken = 0;

// How far down the runs have read the marks: the words of MarkBits below
// ScanBelow are not read yet, and the free positions left in the word being
// read lie between it and the run being handed out.
static Ref ScanBelow = 0;
// The word of the marks the runs come from now: its free positions not yet
// in a run (all below the run being handed out), and its first position.
// Words below ScanBelow are untouched.
static std::uint64_t WordFree = 0;
static Ref WordBase = 0;

// Whether MarkBits may hold a bit: set by clearmarks for the marking that
// follows it, so that a fresh pool's bitmap, zeroed by the system, is never
// written at start-up.
static bool MarksUsed = false;

// A run the allocator takes is at most this many positions: a run of a big,
// mostly free pool is found a stretch at a time, so that start-up and a
// statement needing a handful of nodes after a collection read a few words
// of the marks, not all of them.
constexpr Ref RunSpan = 4096;

static std::size_t markwords(std::size_t nodes) { return (nodes + 63) / 64; }

#ifdef KESTRIVO_LARGE_PAGES
// The size of the machine's large pages, where the system hands them out to
// a mapping that asks (transparent huge pages).
constexpr std::size_t LargePage = std::size_t(2) << 20;
// A pool of at least this many bytes is laid on large pages: every marking
// walks all over it and the allocator streams through it, and in 4 KB pages
// a pool of 200 blocks costs 800 page faults and a miss in the address
// translation cache at almost every step of the walk.  A smaller pool would
// pay for zeroing a whole large page it does not use.
constexpr std::size_t LargePool = LargePage;

#ifdef KESTRIVO_FIXED_POOL
static_assert(PoolAddress % LargePage == 0, "the pool starts on a large page");
// A zeroed mapping of bytes at PoolAddress; false when the system refuses it
// (a limit on the address space, or something there already).
static bool mapfixed(std::size_t bytes) {
    void* want = reinterpret_cast<void*>(PoolAddress);
    void* got = mmap(want, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) return false;
    if (got != want) {  // a system that takes the address only as a hint
        munmap(got, bytes);
        return false;
    }
    return true;
}
#endif

// A mapping for the pool, bytes long (a multiple of LargePage), at an
// address aligned to LargePage, zeroed and asking for large pages; nullptr
// when the system refuses it.  Only when the address space has no limit:
// the mapping may be a large page longer for a moment, and a limit set to
// see where the pool stops fitting must see the pool's own size.
static Node* poolpages(std::size_t bytes) {
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return nullptr;
#ifdef KESTRIVO_FIXED_POOL
    if (!mapfixed(bytes)) return nullptr;
    madvise(Pool, bytes, MADV_HUGEPAGE);  // a hint: refused, 4 KB pages serve
    return Pool;
#else
    void* got = mmap(nullptr, bytes + LargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (got == MAP_FAILED) return nullptr;
    std::uintptr_t start = reinterpret_cast<std::uintptr_t>(got);
    std::uintptr_t aligned = (start + LargePage - 1) & ~(LargePage - 1);
    // Give back what lies before the aligned start and after the pool's end
    // (never nothing: the start moved by less than a large page).
    if (aligned > start) munmap(got, aligned - start);
    munmap(reinterpret_cast<void*>(aligned + bytes), start + LargePage - aligned);
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);  // a hint: refused, 4 KB pages serve
    return reinterpret_cast<Node*>(aligned);
#endif
}
#endif

// Takes the zeroed pool of count nodes, on large pages where that pays; the
// per-node lists then share its mapping, after the nodes (lists is set to
// the first of them, PoolListCount arrays of count entries each): the
// reducer's lists are written all over, hundreds of small pages' faults in
// a long statement, and the pool's last large page often has room for them.
// Else lists is nullptr and the lists are the caller's to take.
static Node* takenodes(std::size_t count, Ref*& lists) {
    PoolMapped = 0;
    ListsMapped = false;
    lists = nullptr;
#ifdef KESTRIVO_LARGE_PAGES
    if (count * sizeof(Node) >= LargePool) {
        std::size_t bytes = count * (sizeof(Node) + PoolListCount * sizeof(Ref));
        bytes = (bytes + LargePage - 1) / LargePage * LargePage;  // whole large pages
        if (Node* p = poolpages(bytes)) {
            PoolMapped = bytes;
            ListsMapped = true;
            lists = reinterpret_cast<Ref*>(p + count);
            return p;
        }
    }
#endif
#ifdef KESTRIVO_FIXED_POOL
    if (!mapfixed(count * sizeof(Node))) return nullptr;
    PoolMapped = count * sizeof(Node);
    return Pool;
#else
    return static_cast<Node*>(std::calloc(count, sizeof(Node)));
#endif
}

// Gives back the pool and the lists that are not in its mapping.
static void releasenodes() {
    for (NodeList& list : PoolLists) {
        if (!ListsMapped) std::free(list.items);
        list.items = nullptr;
        list.top = 0;
    }
    ListsMapped = false;
#ifdef KESTRIVO_LARGE_PAGES
    if (PoolMapped != 0) munmap(Pool, PoolMapped);
#endif
    PoolMapped = 0;
#ifndef KESTRIVO_FIXED_POOL
    std::free(Pool);  // null when it was mapped
    Pool = nullptr;
#endif
}

// Takes the pool of the given number of blocks and the per-node lists that
// go with it, all or nothing.
static bool takepool(std::int64_t blocks) {
    std::size_t count = std::size_t(blocks) * BlockSize;
    // A big pool comes as fresh zero pages, which cost nothing until
    // written; start-up writes none of them.
    Ref* lists;
    Node* nodes = takenodes(count, lists);
#ifndef KESTRIVO_FIXED_POOL
    Pool = nodes;
#endif
    MarkBits = static_cast<std::uint64_t*>(std::calloc(markwords(count), sizeof(std::uint64_t)));
    MarksUsed = false;
    bool all = nodes != nullptr && MarkBits != nullptr;
    for (int i = 0; i < PoolListCount; i++) {
        NodeList& list = PoolLists[i];
        list.top = 0;
        if (!all) list.items = nullptr;
        else if (lists != nullptr) list.items = lists + std::size_t(i) * count;
        else list.items = static_cast<Ref*>(std::malloc(count * sizeof(Ref)));
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

void dropfree() {
    AllocNext = AllocStop = NoNode;
    ScanBelow = 0;
    FreeBelow = 0;
    WordFree = 0;
}

void poolstart() {
    dropfree();
    LowestTaken = PoolSize;
    FewestFree = 0;
    Collections = FreedNodes = DeepMarkings = 0;
}

void poolrelease() {
    releasenodes();
    std::free(MarkBits);
    MarkBits = nullptr;
    dropfree();
    PoolSize = 0;
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

// Takes the highest run left in the word being read when it ends inside the
// word (a live position below it): false, taking nothing, when the word has
// no free position left or its highest run reaches the word's bottom.  A
// mostly live pool's runs are short, and most end so.
static inline bool runinword() {
    std::uint64_t w = WordFree;
    if (w == 0) return false;
    int top = 63 - std::countl_zero(w);
    std::uint64_t taken = ~w & ((std::uint64_t(1) << top) - 1);  // below top, not free
    if (taken == 0) return false;
    int bottom = 64 - std::countl_zero(taken);
    WordFree = w & ((std::uint64_t(1) << bottom) - 1);
    AllocNext = WordBase + Ref(top);
    AllocStop = WordBase + Ref(bottom) - 1;
    FreeBelow -= Ref(top - bottom + 1);
    return true;
}

// Takes the next run of the free list, below the last one: false when the
// list is spent.  A run is the highest stretch of free positions left in the
// word; one that reaches the bottom of its word goes on through the wholly
// free words below it, up to RunSpan positions.
static bool nextrun() {
    while (WordFree == 0) {
        if (ScanBelow == 0) return false;
        Ref p = ScanBelow - 1;
        WordBase = p & ~Ref(63);
        WordFree = ~MarkBits[p >> 6] & (~std::uint64_t(0) >> (63 - (p & 63)));
        ScanBelow = WordBase;
        if (WordBase < LowestTaken) LowestTaken = WordBase;  // every run from this word is above it
    }
    if (runinword()) return true;
    // The highest run goes down to the word's bottom, and on below it.
    Ref high = WordBase + Ref(63 - std::countl_zero(WordFree));
    Ref low = WordBase;
    WordFree = 0;
    Ref floor = high >= RunSpan ? high - RunSpan + 1 : 0;
    while (low == ScanBelow && low >= floor + 64 && MarkBits[(low >> 6) - 1] == 0) {
        low -= 64;
        ScanBelow = low;
    }
    AllocNext = high;
    AllocStop = low - 1;  // NoNode when the run goes down to position 0
    if (low < LowestTaken) LowestTaken = low;
    FreeBelow -= high - low + 1;
    return true;
}

// The highest free position below r that no run has taken yet, NoNode when
// there is none.
static Ref freebelow(Ref r) {
    if (WordFree != 0 && r > WordBase) {
        std::uint64_t m = WordFree;
        if (r - WordBase < 64) m &= (std::uint64_t(1) << (r - WordBase)) - 1;
        if (m != 0) return WordBase + Ref(63 - std::countl_zero(m));
    }
    return highestfree(r < ScanBelow ? r : ScanBelow);
}

AllocPlace allocplace() {
    return AllocPlace{AllocNext, AllocStop, FreeBelow, ScanBelow, WordBase, WordFree, Collections, firstfree()};
}

bool allocgiveback(const AllocPlace& place) {
    if (Collections != place.collections) return false;
    if (AllocNext == place.next && AllocStop == place.stop && FreeBelow == place.below) return true;  // nothing taken
    // Without a collection the allocator only goes down the free list: the
    // nodes taken since are the free positions from the first it would have
    // handed out then down to just above the one it hands out next.
    if (place.first == NoNode) return false;  // nothing was free: cannot happen without a collection
    Ref high = place.first;
    std::int64_t low = AllocNext == NoNode ? -1 : std::int64_t(AllocNext);
    if (reachestaken(low, high)) return false;
    AllocNext = place.next;
    AllocStop = place.stop;
    FreeBelow = place.below;
    ScanBelow = place.scanbelow;
    WordBase = place.wordbase;
    WordFree = place.wordfree;
    // LowestTaken stays where it went: the nodes below it were written.
    return true;
}

Ref firstfree() {
    if (AllocNext != AllocStop) return AllocNext;
    return freebelow(PoolSize);
}

Ref nextfree(Ref r) {
    // Within the run being handed out the list goes down a position at a
    // time, then on below the run.
    std::int64_t stop = AllocStop == NoNode ? -1 : std::int64_t(AllocStop);
    if (AllocNext != AllocStop && std::int64_t(r) > stop && r <= AllocNext)
        return std::int64_t(r) - 1 > stop ? r - 1 : freebelow(Ref(stop + 1));
    return freebelow(r);
}

std::uint32_t sweep(bool reset, std::uint32_t live) {
    if (reset) {
        if (MarksUsed) std::memset(MarkBits, 0, markwords(PoolSize) * sizeof(std::uint64_t));
        MarksUsed = false;
        live = 0;
    }
    std::uint32_t count = PoolSize - live;
    // The full walk went up the positions pushing each free node on the
    // front, so the list hands out the highest position first, then the next
    // free one below it: exactly the order the allocator reads off the marks.
    AllocNext = AllocStop = NoNode;
    ScanBelow = PoolSize;
    FreeBelow = count;
    WordFree = 0;
    return count;
}

Ref takeslow(Ref a, Ref b) {
#ifdef KESTRIVO_STRESS_GC
    collect(a, b);
#endif
    if (AllocNext == AllocStop && !runinword() && !nextrun()) {
        collect(a, b);
        if (!nextrun()) stopstatement(Stop::Exhausted);
    }
    Ref r = AllocNext;
    AllocNext = r - 1;
    return r;
}
