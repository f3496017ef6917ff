// The node store: every term, number, name, pair, environment cell and
// definition of a run is a Node taken from one fixed pool.
//
//   field   width  meaning
//   mark    8      1 at rest; 0 while a collection, the printer's pre-pass or
//                  a definition-expansion pass has reached the node
//   shared  8      1 at rest; 0 when the printer's pre-pass reached the node
//                  twice.  On a definition (kind 40): 1 = body not expanded yet
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
// At rest: outside a collection, a print and an expansion pass every node has
// mark = 1 and shared = 1 (a definition's shared flag excepted).
//
// References are 32-bit positions in the pool (block * 1001 + position), not
// addresses: that keeps a Node at 16 bytes on every machine and gives every
// node a stable number that the printer uses as its sharing label.
#pragma once

#include <cstddef>
#include <cstdint>

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
// over 5 GB (16 bytes a node plus 4 for the printer's list) and sweeping it
// would take seconds; the bound also keeps every position below NoNode.
constexpr std::int64_t MaxBlocks = 262144;
constexpr int MarkStackSize = 12000;  // the collector's path stack

// ---- the pool (pool.cpp) ------------------------------------------------
// A list of node references with room for one entry per node of the pool,
// taken and released with the pool: the printer's list of the nodes a print
// reached, the reducer's list of the nodes it finished.
struct NodeList {
    Ref* items = nullptr;
    std::size_t top = 0;  // entries in use
};
bool liststart(NodeList& list, std::size_t poolnodes);
void listrelease(NodeList& list);

extern Node* Pool;            // blocks 0..LastBlock, block b at positions b*1001..
extern std::int32_t LastBlock;  // highest block number; LastBlock+1 blocks
extern Ref PoolSize;          // (LastBlock+1) * 1001
extern Ref FreeHead;          // first free node, NoNode when the list is empty
extern std::uint32_t freenodes;  // nodes the latest sweep put on the free list
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

// Takes the pool of lastblock+1 blocks without a word, or finds the first
// block the machine refuses; runkestrivo calls it before the evaluation stack
// takes its share of the address space, so the pool comes first.
void pooltake(std::int32_t lastblock);
// The pool for start-up (taken by pooltake, or now): reports "MEMORY OVER"
// and ends start-up when it cannot be had.
void poolstart(std::int32_t lastblock);
void poolrelease();

// The one constructor of inner nodes.  When the free list is empty it runs a
// collection with left and right as extra roots; when that frees nothing the
// run ends with the exhaustion report.  The node comes back at rest.
Ref makenode(Ref left, Ref right, std::int32_t kind);

// A node for a leaf (number or atom) or a start-up constant: the same course
// as makenode, with no extra roots.  Kind and fields are the caller's to set.
Ref takenode();

// Rebuilds the free list from every node whose mark is not 0 and returns how
// many went on it; reset first sets every flag to 1 (start-up).
std::uint32_t sweep(bool reset);

// The exhaustion report: the term under reduction when insatu is on, then
// "newnodes", then the end of the run.
[[noreturn]] void poolexhausted();

// ---- the collector (collect.cpp) ---------------------------------------
// Marks from a, b and every root, sweeps, prints the report.
void collect(Ref a, Ref b);

// Debug check that every node is at rest, the free list is acyclic with
// every free node at rest, and free plus reachable nodes make up the pool.
// Returns an empty string when all holds, else what failed.
const char* poolcheck();
