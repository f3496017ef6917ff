// The parser: a range of starray slots becomes a term.  A range that starts
// with an operator name is that operator with its operands (more than two
// operands nest to the right); any other range is a left-nested chain of
// applications; parentheses group, and missing or stray ones are closed or
// dropped.  The parser never reports an error: an empty range is ErrorAtom.
//
// Bracket matching and counting run on a segment tree over the slots' bracket
// values (+1 for "(", -1 for ")"), kept up to date at the two places the
// parser writes slots, so matching a group or counting a range costs a
// logarithm of the statement's length instead of a scan: a chain of n
// elements parses in n log n, not n squared.
#include "reader/reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

Ref* ParseRoots = nullptr;
std::int32_t ParseRootTop = 0;
static std::int32_t ParseRootCap = 0;  // entries ParseRoots holds

// ---- bracket tree --------------------------------------------------------
// Per tree node: the sum of its slots' values, the least sum of a non-empty
// prefix, the greatest sum of a non-empty suffix.  The arrays are taken at
// start-up for the widest tree the token array can need; a statement uses
// the first 2 * Leaves entries of each.
static std::int32_t* Sum = nullptr;
static std::int32_t* MinPre = nullptr;
static std::int32_t* MaxSuf = nullptr;
static int Leaves = 0;  // a power of two; slots 0..Leaves-1 are covered
// The tree never needs more leaves than this: a statement fills at most
// TokenCapacity slots, and the next power of two above that must fit an int.
constexpr std::int64_t MaxLeaves = std::int64_t(1) << 30;

// The leaves a tree over count slots takes: the next power of two, at least 1.
static std::int64_t leavesfor(std::int64_t count) {
    std::int64_t leaves = 1;
    while (leaves < count && leaves < MaxLeaves) leaves *= 2;
    return leaves;
}

// The entries of each array of the bracket tree for a token capacity.
static std::size_t treeentries(std::int32_t tokencapacity) {
    return 2 * std::size_t(leavesfor(tokencapacity));
}

std::size_t parserbytes(std::int32_t tokencapacity) {
    return (std::size_t(tokencapacity) + 2) * sizeof(Ref) +
           3 * treeentries(tokencapacity) * sizeof(std::int32_t);
}

bool parserstart(std::int32_t tokencapacity) {
    // Every level of the parser that holds a partial term starts its range
    // at least one slot further on, so the token array bounds the depth.
    ParseRootCap = tokencapacity + 2;
    ParseRootTop = 0;
    std::size_t entries = treeentries(tokencapacity);
    ParseRoots = static_cast<Ref*>(std::malloc(std::size_t(ParseRootCap) * sizeof(Ref)));
    Sum = static_cast<std::int32_t*>(std::malloc(entries * sizeof(std::int32_t)));
    MinPre = static_cast<std::int32_t*>(std::malloc(entries * sizeof(std::int32_t)));
    MaxSuf = static_cast<std::int32_t*>(std::malloc(entries * sizeof(std::int32_t)));
    Leaves = 0;
    return ParseRoots != nullptr && Sum != nullptr && MinPre != nullptr && MaxSuf != nullptr;
}

void parserrelease() {
    std::free(ParseRoots);
    std::free(Sum);
    std::free(MinPre);
    std::free(MaxSuf);
    ParseRoots = nullptr;
    Sum = MinPre = MaxSuf = nullptr;
    ParseRootCap = ParseRootTop = 0;
    Leaves = 0;
}

static inline int bracketvalue(int slot) {
    char c = starray[slot][0];
    return c == '(' ? 1 : c == ')' ? -1 : 0;
}

static inline void combine(int k) {
    int l = 2 * k, r = 2 * k + 1;
    Sum[k] = Sum[l] + Sum[r];
    MinPre[k] = std::min(MinPre[l], Sum[l] + MinPre[r]);
    MaxSuf[k] = std::max(MaxSuf[r], Sum[r] + MaxSuf[l]);
}

static inline void setleaf(int slot, int v) {
    int k = Leaves + slot;
    Sum[k] = MinPre[k] = MaxSuf[k] = v;
}

// Covers slots 0..count-1 of the current statement.
static void buildtree(std::int64_t count) {
    count = std::min(count, std::int64_t(TokenCapacity));
    std::int64_t leaves = leavesfor(count);
    Leaves = int(leaves);
    std::size_t bytes = 2 * std::size_t(leaves) * sizeof(std::int32_t);
    std::memset(Sum, 0, bytes);
    std::memset(MinPre, 0, bytes);
    std::memset(MaxSuf, 0, bytes);
    for (int i = 0; i < std::min(count, leaves); i++) setleaf(i, bracketvalue(i));
    for (int k = leaves - 1; k >= 1; k--) combine(k);
}

// Writes a token into a slot and keeps the tree in step.
static void setslot(int slot, const char* text) {
    std::strcpy(starray[slot], text);
    if (slot >= Leaves) {  // past the cover: rebuild wider
        buildtree(std::max(2 * std::int64_t(Leaves), std::int64_t(slot) + 1));
        return;
    }
    setleaf(slot, bracketvalue(slot));
    for (int k = (Leaves + slot) / 2; k >= 1; k /= 2) combine(k);
}

static int rangesum(int lo, int hi) {
    int s = 0;
    for (int l = lo + Leaves, r = hi + Leaves + 1; l < r; l /= 2, r /= 2) {
        if (l & 1) s += Sum[l++];
        if (r & 1) s += Sum[--r];
    }
    return s;
}

// The first slot j >= a whose running sum from a drops below 0, or -1.
static int findforward(int k, int nl, int nr, int a, int& acc) {
    if (nr < a) return -1;
    if (nl >= a) {
        if (acc + MinPre[k] >= 0) {
            acc += Sum[k];
            return -1;
        }
        if (nl == nr) return nl;
    }
    int mid = (nl + nr) / 2;
    int j = findforward(2 * k, nl, mid, a, acc);
    return j >= 0 ? j : findforward(2 * k + 1, mid + 1, nr, a, acc);
}

// The last slot j <= b whose running sum from j up to b rises above 0, or -1.
static int findbackward(int k, int nl, int nr, int b, int& acc) {
    if (nl > b) return -1;
    if (nr <= b) {
        if (acc + MaxSuf[k] <= 0) {
            acc += Sum[k];
            return -1;
        }
        if (nl == nr) return nl;
    }
    int mid = (nl + nr) / 2;
    int j = findbackward(2 * k + 1, mid + 1, nr, b, acc);
    return j >= 0 ? j : findbackward(2 * k, nl, mid, b, acc);
}

// ---- the parser ----------------------------------------------------------
constexpr int NoMatch = -999;

// The slot of the bracket that closes the group opened at s, scanning toward
// limit: s itself when s holds no bracket, NoMatch when the group does not
// close by limit.  The token at s counts as opening for a forward scan and
// as closing for a backward one, whichever it is.
static int matchparen(int s, int limit, bool forward) {
    char c = starray[s][0];
    if (c != '(' && c != ')') return s;
    if (s == limit) return NoMatch;
    int acc = 0;
    if (forward) {
        int j = findforward(1, 0, Leaves - 1, s + 1, acc);
        return j >= 0 && j <= limit ? j : NoMatch;
    }
    int j = findbackward(1, 0, Leaves - 1, s - 1, acc);
    return j >= 0 && j >= limit ? j : NoMatch;
}

// The operator whose name is text, or -1.
static int opindex(const char* text) {
    for (int k = 0; k < OperatorCount; k++)
        if (std::strcmp(text, OperatorTable[k]) == 0) return k;
    return -1;
}

// Supplies the ")" a range lacks after its last slot and raises hi.
static void closeparen(int lo, int& hi) {
    int b = rangesum(lo, hi);
    if (b <= 0) return;
    if (std::int64_t(hi) + b >= TokenCapacity) slotoverflow();
    if (WarnOn) {  // the b brackets left open, found from the end, told from the start
        std::vector<int> open;
        int depth = 0;
        for (int j = hi; j >= lo; j--) {
            if (starray[j][0] == ')') depth++;
            else if (starray[j][0] != '(') continue;
            else if (depth > 0) depth--;
            else open.push_back(j);
        }
        for (auto j = open.rbegin(); j != open.rend(); ++j) warnclosed(*j);
    }
    for (int i = 1; i <= b; i++) {
        setslot(hi + i, ")");
        if (KeepPlaces) TokenPlace[hi + i] = TokenPlace[hi];
    }
    hi += b;
}

static void pushroot(Ref r) {
    if (ParseRootTop == ParseRootCap) std::abort();  // deeper than the token array allows
    ParseRoots[ParseRootTop++] = r;
}

static Ref parserange(int lo, int hi);

// An application chain: the last element applied to the chain before it.
static Ref fapply(int lo, int hi) {
    closeparen(lo, hi);
    int m = matchparen(hi, lo, false);
    if (m == NoMatch) {  // a ")" that closes nothing
        if (WarnOn) warndropclose(hi);
        return parserange(lo, hi - 1);
    }
    Ref function = parserange(lo, m - 1);
    pushroot(function);  // kept while the argument is built
    Ref argument = parserange(m, hi);
    ParseRootTop--;
    return makenode(function, argument, APP);
}

static Ref parserange(int lo, int hi) {
    stackguard();
    if (hi < lo) return ErrorAtom;
    if (lo == hi) {
        Ref leaf = fatom(starray[lo]);
        if (WarnOn) noteleaf(leaf, lo);
        return leaf;
    }
    if (std::strcmp(starray[lo], "(") == 0) {
        int m = matchparen(lo, hi, true);
        if (m == hi) return parserange(lo + 1, hi - 1);      // one group
        if (m == NoMatch) {  // never closed: dropped
            if (WarnOn) warndropopen(lo);
            return parserange(lo + 1, hi);
        }
        return fapply(lo, hi);
    }
    int k = opindex(starray[lo]);
    if (k < 0) return fapply(lo, hi);
    int m = matchparen(lo + 1, hi, true);  // end of the first operand
    // With warnings on, the parser keeps track of the parameters in scope,
    // so that a name neither defined nor bound can be told.
    bool binder = WarnOn && k == LAMBDA;
    if (m == hi || m == NoMatch) {
        if (binder) paramstart();
        Ref a = parserange(lo + 1, hi);
        if (binder) paramend();
        return makenode(a, isoneoperand(k) ? a : ErrorAtom, k);
    }
    if (binder) paramstart();
    Ref first = parserange(lo + 1, m);
    if (binder) {
        paramend();
        scopepush(first);
    }
    pushroot(first);  // kept while the second operand is built
    int m2 = matchparen(m + 1, hi, true);
    Ref second;
    if (m2 == hi || m2 == NoMatch) {
        second = parserange(m + 1, hi);
    } else {
        // More than one element follows: the rest is the same operator again,
        // read from the operand's last slot with the name written over it.
        setslot(m, OperatorTable[k]);
        second = parserange(m, hi);
    }
    ParseRootTop--;
    if (binder) scopepop();
    return makenode(first, second, k);
}

Ref fterm(int lo, int hi) {
    ParseRootTop = 0;
    if (WarnOn) notesstart();
    // A statement and the ")" the parser may add after it must fit the tree:
    // past half a billion tokens it counts as an overflow of the token array.
    if (2 * (std::int64_t(hi) + 1) + 2 > MaxLeaves) slotoverflow();
    if (hi >= lo) buildtree(2 * (std::int64_t(hi) + 1) + 2);
    return parserange(lo, hi);
}
