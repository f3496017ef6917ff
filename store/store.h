// The node store: every term, number, name, pair, environment cell and
// definition of a run is a Node taken from one fixed pool.
//
//   field   width  meaning
//   walk    8      the walkers' scratch bits (below): zero at rest, set and
//                  cleared only by the walk module (walk.cpp).  The
//                  collector keeps its own marks apart, in MarkBits
//   flags   8      records that outlive a walk (below); no walker touches
//                  them
//   kind    32     the NodeKind, 0 to 44
//   left    32     by kind: a node reference, a signed 32-bit integer, or the
//                  bits of a single-precision real; on a free node the next
//                  free node
//   right   32     by kind: a node reference or an AtomTable index
//
// The bits of walk and flags, each with its one owner:
//   walk   WalkReached  1  walk.cpp: a walk has reached the node
//          WalkTwice    2  walk.cpp: the reach pass reached it again (the
//                          printer labels it "co<position>")
//          WalkDone     4  walk.cpp, for the walker: its own pass has dealt
//                          with the node (printed it, drawn it)
//   flags  Unexpanded   1  a definition (kind 40) whose body is not expanded
//                          yet: written only here, set when the definition
//                          is made or given a new body (makedefinition,
//                          setdefinitionbody), cleared as expansion begins
//                          (setexpanded, called by reduce/); it keeps its
//                          value between statements
//          bits 1, 2, 3    the reducer's records of the latest reduction
//                          (named in reduce/internal.h): a node finished, an
//                          indirection whose end is recorded, an environment
//                          cell a lookup record relies on.  Only reduce/
//                          reads or writes them; they are forgotten as the
//                          next reduction begins
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
// At rest: outside a walk, the walk bits of every node anyone can reach are
// zero.  The flags keep their records from walk to walk and from statement
// to statement.  A collection leaves both bytes of live nodes alone.  A free
// node is reached by nothing and holds stale fields and bits until the
// allocator hands it out, at rest with its flags clear.
//
// References are 32-bit positions in the pool (block * 1001 + position), not
// addresses: that keeps a Node at 16 bytes on every machine and gives every
// node a stable number that the printer uses as its sharing label.  The pool
// is one allocation that never moves, so a Node& taken before a makenode
// (which may collect) still names the same node after it; a collection
// changes nothing of a live node, and a dead one is written whole when it
// is taken again.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "run/run.h"

using Ref = std::uint32_t;
constexpr Ref NoNode = 0xFFFFFFFFu;  // the null reference

struct Node {
    std::uint8_t walk;    // the walkers' scratch: Walk... bits, see above
    std::uint8_t flags;   // Unexpanded, and the reducer's records
    std::int32_t kind;    // NodeKind
    std::uint32_t left;   // reference, integer or real bits
    std::uint32_t right;  // reference or AtomTable index
};
static_assert(sizeof(Node) == 16, "a node is 16 bytes");

constexpr std::uint8_t WalkReached = 1;  // walk.cpp: a walk has reached the node
constexpr std::uint8_t WalkTwice = 2;    // walk.cpp: the reach pass reached it again
constexpr std::uint8_t WalkDone = 4;     // walk.cpp, for the walker: dealt with by its own pass
constexpr std::uint8_t Unexpanded = 1;   // flags of a definition: body not expanded yet (reduce/ clears it)

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
// status 1 (it needs a pool of 12 blocks or more), unless DeepMarking.
constexpr int MarkStackSize = 12000;
// With DeepMarking, the nodes a path deeper than the stack leaves to mark
// wait here; 4096 entries (16 KB) hold what the paths of one collection
// leave in all but pathological graphs, and past them a scan of the pool
// finds the rest.
constexpr int FrontierSize = 4096;

// ---- the pool (pool.cpp) ------------------------------------------------
// A list of node references with room for one entry per node of the pool,
// taken and released with the pool; a list may also serve as an array
// indexed by pool position.
struct NodeList {
    Ref* items = nullptr;
    std::size_t top = 0;  // entries in use
};
enum PoolListName {
    ReachedList,   // the walk module's: the nodes the walk under way reached
    FinishedList,  // the reducer's: nodes it gave a record in this statement
    EndList,       // the reducer's, by position: where an indirection's run
                   // ends, read only while its record says so
    PoolListCount
};
extern NodeList PoolLists[PoolListCount];

// The blocks, block b at positions b*1001...  On 64-bit x86 Linux the pool
// is mapped at a fixed address below 2 GB, so that a node's address is its
// position times 16 plus a constant the instruction carries: finding a node
// loads nothing, and a store the compiler cannot see through (a node
// written whole, a call) never makes it load the pool's address again.  The
// reducer runs some 4% fewer instructions so.  Under the sanitizers, whose
// shadow memory lies in that part of the address space, in the fuzz build
// and elsewhere, the address is a variable set when the pool is taken.
#if defined(__linux__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(KESTRIVO_FUZZ)
#define KESTRIVO_FIXED_POOL 1
constexpr std::uintptr_t PoolAddress = 0x40000000;  // 1 GB: below the program, its libraries and heap
inline Node* const Pool = reinterpret_cast<Node*>(PoolAddress);
#else
extern Node* Pool;
#endif
extern Ref PoolSize;          // (highest block number + 1) * 1001
extern std::uint32_t freenodes;  // nodes the latest sweep put on the free list
// The figures --stats reports, kept by the store whether or not they are
// shown (a few additions per collection).
extern std::uint32_t FewestFree;  // least free count seen since the driver last set it
extern std::uint64_t Collections; // collections run since start-up
extern std::uint64_t FreedNodes;  // nodes those collections put on the free list
extern bool QuietCollections;     // --quiet-gc: collections print no report

// The collector's marks, one bit a node (bit r % 64 of word r / 64), set when
// the latest marking reached the node.  Apart from Node.walk, so that a live
// node is at rest the moment the marking ends, before any sweep has passed it.
extern std::uint64_t* MarkBits;

// The free list.  A sweep gives the list of every node the marking did not
// reach, highest position first; the list is never written out link by link.
// The allocator reads it straight off MarkBits: it takes a run of free
// positions at a time (a stretch of clear bits) and hands the run out from
// its top down, so the list costs no pass over the pool and a node is
// written once, when it is built.  The order is the one a walk pushing each
// free node on the front of a list gives.
//   AllocNext  the next node to hand out
//   AllocStop  the position below the run being handed out (NoNode below
//              position 0): AllocNext == AllocStop when the run is spent
//   FreeBelow  how many free nodes come after the run
// (pool.cpp keeps the rest: how far down it has read the marks.)
// A free node holds stale fields and flags; the allocator writes them all.
extern Ref AllocNext;
extern Ref AllocStop;
extern std::uint32_t FreeBelow;

// The lowest position a run of the free list has started at since start-up:
// no node below it has ever been handed out, or written.  Whoever walks the
// pool for what statements leave in it can stop there.
extern Ref LowestTaken;

// Nodes on the free list now.
inline std::uint32_t freecount() { return FreeBelow + (AllocNext - AllocStop); }
// The least free count so far, the present one included: the pool's
// high-water mark is PoolSize minus this.
inline std::uint32_t fewestfree() {
    std::uint32_t now = freecount();
    return now < FewestFree ? now : FewestFree;
}
// The free list in the order the allocator hands it out, for the pool check
// and the tests: the first node (NoNode when the list is empty), and the
// one after r.  Reads the list without taking anything.
Ref firstfree();
Ref nextfree(Ref r);
// Empties the free list, as if every free node had been handed out.
void dropfree();

// Where the allocator stands, for work that gives back every node it takes
// (the read-back): allocplace before, allocgiveback after.  Giving back
// needs two things: no collection ran since (the marks the free list is read
// off are the same), and nothing the roots lead to is a node taken since
// (reachestaken).  Then the allocator is put back where it stood, every node
// taken since is free again, and the run goes on as if they had never been
// taken: the same nodes handed out next, the same collections after.
struct AllocPlace {
    Ref next, stop;                // AllocNext, AllocStop
    std::uint32_t below;           // FreeBelow
    Ref scanbelow, wordbase;       // pool.cpp's place in the marks
    std::uint64_t wordfree;
    std::uint64_t collections;     // Collections then
    Ref first;                     // firstfree() then: the highest node it could take
};
AllocPlace allocplace();
// True, the nodes given back, when both hold; false, changing nothing, when
// not.  The caller drops its own references to the nodes first.
bool allocgiveback(const AllocPlace& place);

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

// An environment: a chain of "cons" cells ended by nil, two cells per
// binding, newest first:  cons(variable, cons(value, next binding)).  The
// reducer builds and searches them; the read-back printer searches them.
// True when p starts a whole binding: a variable cell whose right field is a
// value cell.
inline bool isbinding(Ref p) {
    return node(p).kind == CONS && node(node(p).right).kind == CONS;
}

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

// The allocator's slow course, out of line: the run is spent, so it takes
// the next run below; when there is none (or, in the stress build, every
// time) it collects with a and b as extra roots, stopping the statement
// (Stop::Exhausted) when that frees nothing; then it takes the next node.
Ref takeslow(Ref a, Ref b);

// Takes the next free node; a and b are the children of the node being
// built, which a collection must keep.  Inline: it runs for every node the
// reducer builds, and its fast course is a load, a test and a store.
inline Ref takefree(Ref a, Ref b) {
    FUZZSTEP();
#ifdef KESTRIVO_STRESS_GC
    return takeslow(a, b);
#else
    Ref r = AllocNext;
    if (r == AllocStop) [[unlikely]] return takeslow(a, b);
    AllocNext = r - 1;
    return r;
#endif
}

// Writes a whole node at rest: both bytes of bits clear, the kind and both
// fields.  Two 8-byte stores where the byte order allows, the bits and the
// kind in one, the fields in the other.
inline void setnode(Node& n, std::int32_t kind, Ref left, Ref right) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t head = std::uint64_t(std::uint32_t(kind)) << 32;
        std::uint64_t fields = left | (std::uint64_t(right) << 32);
        static_assert(offsetof(Node, kind) == 4 && offsetof(Node, left) == 8);
        std::memcpy(reinterpret_cast<unsigned char*>(&n), &head, sizeof head);
        std::memcpy(reinterpret_cast<unsigned char*>(&n) + 8, &fields, sizeof fields);
    } else {
        n = Node{0, 0, kind, left, right};
    }
}

// Turns the atom r into a definition of body, not expanded yet: every
// mention of the name now stands for the body.  Its right field keeps the
// name's AtomTable index.
inline void makedefinition(Ref r, Ref body) {
    Node& n = Pool[r];
    setnode(n, DEFINITION, body, n.right);
    n.flags = Unexpanded;
}
// Gives the definition r a new body, not expanded yet; the flags the
// reducer keeps on the node are left as they are.
inline void setdefinitionbody(Ref r, Ref body) {
    Node& n = Pool[r];
    n.left = body;
    n.flags |= Unexpanded;
}
// Whether the definition r's body is still to be expanded.
inline bool isunexpanded(Ref r) { return (Pool[r].flags & Unexpanded) != 0; }
// The definition r's body is being expanded (by reduce/): from here every
// mention of the name stands for the body as it is.
inline void setexpanded(Ref r) { Pool[r].flags &= std::uint8_t(~Unexpanded); }

// The one constructor of inner nodes.  When the free list is empty it runs a
// collection with left and right as extra roots; when that frees nothing the
// statement stops (Stop::Exhausted).  The node comes back at rest.
inline Ref makenode(Ref left, Ref right, std::int32_t kind) {
    Ref r = takefree(left, right);
    setnode(Pool[r], kind, left, right);
    return r;
}

// Two nodes at once when the run being handed out holds both: the nodes two
// calls of takefree would give, in the same order, with no collection
// possible between them.  False, taking nothing, when the run holds fewer
// (or in the builds that collect or count at every node); the caller then
// takes them one at a time.
inline bool taketwo(Ref& first, Ref& second) {
#if defined(KESTRIVO_STRESS_GC) || defined(KESTRIVO_FUZZ)
    (void)first;
    (void)second;
    return false;
#else
    Ref r = AllocNext;
    if (r - AllocStop < 2) return false;  // the run's size, AllocStop being below it
    first = r;
    second = r - 1;
    AllocNext = r - 2;
    return true;
#endif
}

// A node for a leaf (number or atom) or a start-up constant: the same course
// as makenode, with no extra roots.  It comes at rest with both fields
// NoNode; kind and fields are the caller's to set.
inline Ref takenode() {
    Ref r = takefree(NoNode, NoNode);
    setnode(Pool[r], INTEGER, NoNode, NoNode);
    return r;
}

// Makes the free list every node the latest marking did not reach (MarkBits)
// and returns how many that is, live counted by the marking; reset first
// forgets the marks, so the whole pool is free (start-up).  Nothing of the
// pool is written: the allocator reads the list off the marks.
std::uint32_t sweep(bool reset, std::uint32_t live = 0);
// Clears MarkBits for a marking (a collection, the pool check).
void clearmarks();

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

// A path deeper than the mark stack: without DeepMarking the run ends
// ("Stack ga tarimsen!", status 1).  With it (--keep-going, the terminal,
// --deep-marking; the driver sets it at start-up) the marking goes on past
// the stack and marks exactly the nodes the stack would have: the nodes the
// path leaves wait in a fixed list and are marked from there with the
// stack holding only the right fields still to walk, so a list costs no
// depth; what does not fit the list is found by a scan of the pool for
// marked nodes with unmarked fields, repeated until one finds none.
extern bool DeepMarking;
extern std::uint64_t DeepMarkings;  // markings since start-up that went past the stack

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
constexpr int RootCapacity = 16;  // the interpreter has 11
void clearroots();
void addroot(const Ref* ref);
void addroots(const Ref* table, const std::int32_t* count, std::int32_t bias);

// Whether a marking from the roots now reaches a node at a position in
// (low, high] that the latest marking did not reach: one handed out since
// that something still leads to.  Leaves the marks, the free list and every
// node as they were (the marks are copied aside while it marks); marks past
// the stack as DeepMarking does, so it never ends the run.
bool reachestaken(std::int64_t low, Ref high);

// Debug check that every node off the free list is at rest (no walk left
// open), the free list is acyclic, and free plus reachable nodes make up the
// pool.
// Returns an empty string when all holds, else what failed.
const char* poolcheck();

// ---- walks over the graph (walk.cpp) -------------------------------------
// A walk visits the graph below a term and leaves it as it found it: the
// printer, the picture writer, the warning about stuck operators and
// definition expansion each make one, and so may any new walker.  It may run
// between two statements or in the middle of a reduction (a print, a trace
// line, a picture of a step): it touches only the walk bits, never the flags,
// so what the reducer recorded is as it was when the walk ends.
//
// A walk goes:
//   walkreach(term, fields)  the reach pass: every inner node below term
//                            gets WalkReached and is listed once, in the
//                            order met; one met again gets WalkTwice
//   (or walkfirst(r) node by node, for a walker that finds its own way)
//   ... the walker's own pass: isreached, istwice, isdone, walkdone ...
//   walkend()                clears the bits of every listed node
// Walks do not nest: one ends before the next begins.  A walker declares a
// WalkScope where its walk begins, so that a stop that cuts the walk short
// (nesting too deep) ends it too.
//
// Nothing here takes a node, so a walk alone never collects.  A walker that
// builds nodes between walkreach and walkend must keep what it reached
// alive; a collection keeps the walk bits of live nodes, and a node freed
// and taken again comes back with its walk bits clear.
//
// Leaves (kinds 40 to 44) are never marked or listed: a walk stops at them,
// at a definition too.  The reach pass keeps a stack of its own and takes no
// depth: a graph of any depth can be reached.

// Which fields the reach pass follows from an inner node: both fields
// always, as the printer counts a node's uses (a one-operand node's old
// operand in its right field included); or the fields that count, the left
// one alone on a one-operand node.
enum class WalkFields { Both, Live };

// The reach pass, depth first, a node before what is below it, its left
// field before its right: the order a recursive print meets the nodes in.
void walkreach(Ref term, WalkFields fields);
// The nodes the walk has reached, in the order reached.
std::size_t walkcount();
Ref walknode(std::size_t i);
// Marks r reached and lists it: false, changing nothing, when the walk had
// reached r already.  r is an inner node.
inline bool walkfirst(Ref r) {
    Node& n = Pool[r];
    if (n.walk & WalkReached) return false;
    n.walk = WalkReached;
    NodeList& reached = PoolLists[ReachedList];
    reached.items[reached.top++] = r;  // a node is listed once: the list has room for the pool
    return true;
}
inline bool isreached(Ref r) { return (Pool[r].walk & WalkReached) != 0; }
inline bool istwice(Ref r) { return (Pool[r].walk & WalkTwice) != 0; }
inline bool isdone(Ref r) { return (Pool[r].walk & WalkDone) != 0; }
// The walker's own pass has dealt with r, a node the walk reached.
inline void walkdone(Ref r) { Pool[r].walk |= WalkDone; }
// Ends the walk: every node it listed back to walk bits zero.  Harmless when
// no walk is under way.
void walkend();
// Ends the walk when the scope it is declared in ends, however it ends (a
// stop unwinding through it included).
struct WalkScope {
    WalkScope() = default;
    WalkScope(const WalkScope&) = delete;
    WalkScope& operator=(const WalkScope&) = delete;
    ~WalkScope() { walkend(); }
};
