// The node store: every term, number, name, pair, environment cell and
// definition of a run is a Node taken from one fixed pool.
//
//   field   width  meaning
//   mark    8      1 at rest; 0 while the printer's pre-pass or a
//                  definition-expansion pass has reached the node.  The
//                  collector keeps its own marks apart, in MarkBits
//   shared  8      on every kind but a definition:
//                    1  at rest
//                    0  the printer's pre-pass reached the node twice (it is
//                       labelled "co<position>" in the print); back to 1 when
//                       the print ends
//                    2  the reducer finished the node in this statement (its
//                       normal form is complete); back to 1 when the
//                       statement ends.  Non-zero, so the printer sees it as a
//                       node reached once
//                    3  on an indirection: the reducer recorded where its
//                       run of indirections ends (EndList)
//                    4  on a pair: a record of the reducer's environment
//                       lookups relies on its fields
//                  3 and 4 go back to 1 when the statement ends, and the
//                  printer sees them as it sees 2
//                  on a definition (kind 40): 1 = body not expanded yet,
//                  0 = expanded; it keeps its value between statements
//   kind    32     the NodeKind, 0 to 44
//   left    32     by kind: a node reference, a signed 32-bit integer, or the
//                  bits of a single-precision real; on a free node the next
//                  free node
//   right   32     by kind: a node reference or an AtomTable index
//
// Classes of kinds, tested by range:
//   inner 0..39       left and right are node references, never NoNode in a
//                     built term; collector, printer and expansion follow both
//   one operand 4..21 the operand sits in both fields; when reduction replaces
//                     left by the reduced operand, right keeps the old one and
//                     only left counts
//   leaf 40..44       neither field is followed (the collector does follow a
//                     definition's body, see collect.cpp)
//
// At rest: between two statements, and inside one outside a print and an
// expansion pass, every node anyone can reach has mark = 1 and shared = 1,
// except a definition's shared flag and the shared = 2 or 3 the reducer gives
// nodes in the statement under way.  A collection leaves the flags of live nodes alone.
// A free node that the lazy sweep has not reached yet (below SweepNext) is
// reached by nothing and holds stale fields; sweepfinish gives every free node
// the fields of a free node (flags 1, right NoNode, left the next free node).
//
// References are 32-bit positions in the pool (block * 1001 + position), not
// addresses: that keeps a Node at 16 bytes on every machine and gives every
// node a stable number that the printer uses as its sharing label.  The pool
// is one allocation that never moves, so a Node& taken before a makenode
// (which may collect) still names the same node after it; a collection only
// changes the flags of live nodes and the fields of dead ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "run/run.h"

using Ref = std::uint32_t;
constexpr Ref NoNode = 0xFFFFFFFFu;  // the null reference

struct Node {
    std::uint8_t mark;    // visit flag, see above
    std::uint8_t shared;  // second visit / definition not yet expanded
    std::int32_t kind;    // NodeKind
    std::uint32_t left;   // reference, integer or real bits
    std::uint32_t right;  // reference or AtomTable index
};
static_assert(sizeof(Node) == 16, "a node is 16 bytes");

enum NodeKind : std::int32_t {
    APP = 0, LAMBDA, SUB, CONS, PRINT, IDENT,
    CAR, CDR, COM, INTATOM, REALATOM, STRATOM, ABS, FLOAT,
    ARCTAN, COS, EXP, LN, SIN, SQRT, ABSR, TRUNC,
    PLUS, MINUS, TIMES, DIV, MOD, EQ, LT, NE, LE,
    PLUSR, MINUSR, TIMESR, DIVR, EQR, LTR, NER, LER, EQS,
    DEFINITION, IDENTIFIER, INTEGER, STRING, REAL,
    KINDCOUNT
};
constexpr int OperatorCount = 40;  // kinds 0..39 carry a name
constexpr int NameSlot = 9;        // 8 characters and a zero byte
extern const char OperatorTable[OperatorCount][NameSlot];

inline bool isinner(std::int32_t k) { return k >= 0 && k < OperatorCount; }
inline bool isoneoperand(std::int32_t k) { return k >= PRINT && k <= TRUNC; }

// ---- limits ------------------------------------------------------------
constexpr int BlockSize = 1001;  // nodes per block of the pool
// Blocks beyond this are refused with "MEMORY OVER": a bigger pool would take
// over 7 GB (16 bytes a node plus 4 for each per-node list) and sweeping it
// would take seconds; the bound also keeps every position below NoNode.
constexpr std::int64_t MaxBlocks = 262144;
// The collector's path stack: one entry per node on the current path whose two
// fields differ.  12000 entries keep a 12-block pool's longest paths in reach
// and cost 60 KB; a deeper path ends the run with "Stack ga tarimsen!",
// status 1 (it needs a pool of 12 blocks or more).
constexpr int MarkStackSize = 12000;

// ---- the pool (pool.cpp) ------------------------------------------------
// A list of node references with room for one entry per node of the pool,
// taken and released with the pool; a list may also serve as an array
// indexed by pool position.
struct NodeList {
    Ref* items = nullptr;
    std::size_t top = 0;  // entries in use
};
enum PoolListName {
    ReachedList,   // the printer's: nodes a print's pre-pass reached
    FinishedList,  // the reducer's: nodes finished in this statement, and
                   // indirections whose end it recorded
    EndList,       // the reducer's, by position: where an indirection's run
                   // ends, read only while its shared flag is 3
    PoolListCount
};
extern NodeList PoolLists[PoolListCount];

extern Node* Pool;            // the blocks, block b at positions b*1001..
extern Ref PoolSize;          // (highest block number + 1) * 1001
extern Ref FreeHead;          // first free node, NoNode when the list is empty
extern std::uint32_t freenodes;  // nodes the latest sweep put on the free list
// The figures --stats reports, kept by the store whether or not they are
// shown (a decrement per node taken, a few additions per collection).
extern std::uint32_t FreeCount;   // nodes on the free list now
extern std::uint32_t FewestFree;  // least FreeCount seen since the driver last set it
extern std::uint64_t Collections; // collections run since start-up
extern std::uint64_t FreedNodes;  // nodes those collections put on the free list
// The least free count so far, FreeCount included: the pool's high-water
// mark is PoolSize minus this.
inline std::uint32_t fewestfree() { return FreeCount < FewestFree ? FreeCount : FewestFree; }
extern bool QuietCollections;     // --quiet-gc: collections print no report

// The collector's marks, one bit a node (bit r % 64 of word r / 64), set when
// the latest marking reached the node.  Apart from Node.mark, so that a live
// node is at rest the moment the marking ends, before any sweep has passed it.
extern std::uint64_t* MarkBits;
// The lazy sweep.  A sweep need not build the whole free list at once: it
// builds it from the top down, on demand, in exactly the order the full walk
// gives (highest free position first).  SweepNext is the highest free node not
// yet in list form, NoNode once the list is complete; the part built so far
// ends with a link to it.  So "head not built yet" and "list empty" are the
// one test FreeHead == SweepNext.
extern Ref SweepNext;
// Builds the rest of the free list now; for whoever walks the list or every
// node (the pool check, tests).
void sweepfinish();
// Nodes substitution built for this expression.  Counted unsigned so that a
// run of more than 2^31 steps wraps instead of overflowing; printed as the
// signed 32-bit value, newnodescount().
extern std::uint32_t newnodes;
inline std::int32_t newnodescount() { return std::int32_t(newnodes); }

// Shared constant nodes, compared by reference; never reassigned after start-up.
extern Ref nil;           // integer 0; ends every environment
extern Ref RealZeroNode;  // real 0.0
extern Ref TrueNode;      // lambda x y x
extern Ref FalseNode;     // lambda x y y
extern Ref ErrorAtom;     // string atom 'ERROR!!

inline Node& node(Ref r) { return Pool[r]; }

// Takes the pool of lastblock+1 blocks and its lists without a word.
// Returns PoolTaken, or the number the "MEMORY OVER" report names: the count
// itself when negative, MaxBlocks beyond it, else the first block the machine
// refuses.  runkestrivo calls it before the evaluation stack takes its share
// of the address space, so the pool comes first.
constexpr std::int64_t PoolTaken = INT64_MIN;
std::int64_t pooltake(std::int32_t lastblock);
// Start-up of a pool pooltake has taken: an empty free list, to be filled by
// the first sweep.  The pool comes zeroed from the system and stays untouched
// until its nodes are needed, so start-up costs the same at any pool size.
void poolstart();
void poolrelease();

// The allocator's slow course, out of line: the head is not built yet (the
// lazy sweep builds more of the list), or the list is empty (or, in the
// stress build, every time) and it collects with a and b as extra roots,
// stopping the statement (Stop::Exhausted) when that frees nothing; then it
// takes the head.
Ref takeslow(Ref a, Ref b);

// Takes the head of the free list; a and b are the children of the node being
// built, which a collection must keep.  Inline: it runs for every node the
// reducer builds, and its fast course is two loads and a store.
inline Ref takefree(Ref a, Ref b) {
    FUZZSTEP();
#ifdef KESTRIVO_STRESS_GC
    return takeslow(a, b);
#else
    Ref r = FreeHead;
    if (r == SweepNext) [[unlikely]] return takeslow(a, b);
    FreeHead = Pool[r].left;
    FreeCount--;
    return r;
#endif
}

// The one constructor of inner nodes.  When the free list is empty it runs a
// collection with left and right as extra roots; when that frees nothing the
// statement stops (Stop::Exhausted).  The node comes back at rest.
inline Ref makenode(Ref left, Ref right, std::int32_t kind) {
    Ref r = takefree(left, right);
    Node& n = Pool[r];
    n.kind = kind;
    n.left = left;
    n.right = right;
    return r;
}

// A node for a leaf (number or atom) or a start-up constant: the same course
// as makenode, with no extra roots.  Kind and fields are the caller's to set.
inline Ref takenode() { return takefree(NoNode, NoNode); }

// Rebuilds the free list from every node the latest marking did not reach
// (MarkBits) and returns how many are on it; reset first forgets the marks,
// so the whole pool is free (start-up).  Lazy (see SweepNext) when the pool
// is mostly free, and at start-up; a full walk otherwise.
std::uint32_t sweep(bool reset);
// Clears MarkBits for a marking (a collection, the pool check).
void clearmarks();

// Puts every node back at rest after a statement stopped part way through a
// print or an expansion pass: mark 1, and shared 1 where a print left 0; a
// definition's flag and the reducer's finished marks are left as they are.
void poolrest();

// The bits of a real in a node's left field, and back.
inline float realvalue(std::uint32_t bits) {
    float f;
    static_assert(sizeof f == sizeof bits);
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline std::uint32_t realbits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof f);
    return bits;
}

// ---- the collector (collect.cpp) ---------------------------------------
// Marks from a, b and every root, sweeps, prints the report (unless
// QuietCollections) and counts the collection.
void collect(Ref a, Ref b);

// The roots of a collection beyond the node under construction, in marking
// order: a single reference, or a table of them with the variable that counts
// its entries (entries 0 .. *count + bias - 1; bias 1 when the variable holds
// the last index in use).  The driver lists them at start-up, in one
// function; the store reads them without knowing who owns them.
struct Root {
    const Ref* refs;
    const std::int32_t* count;  // null for a single reference
    std::int32_t bias;
};
constexpr int RootCapacity = 16;  // the interpreter has 9
void clearroots();
void addroot(const Ref* ref);
void addroots(const Ref* table, const std::int32_t* count, std::int32_t bias);

// Debug check that every node is at rest, the free list is acyclic with
// every free node at rest, and free plus reachable nodes make up the pool.
// Returns an empty string when all holds, else what failed.
const char* poolcheck();
