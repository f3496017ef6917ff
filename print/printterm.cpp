// Printing a term graph: a pre-pass (markshared) finds the nodes reached more
// than once, the print pass (printnode, printchain, printatom) writes the
// text, and a last walk over the nodes the pre-pass reached puts every flag
// back to rest, whether or not the print pass got to the node.
#include "print/print.h"

#include "reader/reader.h"

static NodeList& Reached = PoolLists[ReachedList];  // nodes the pre-pass set to mark 0
// An entry of Reached whose node the reducer had finished (shared = 2)
// carries this bit, so the end of the print gives the node its 2 back.
constexpr Ref FinishedEntry = 0x80000000u;
static_assert(MaxBlocks * BlockSize < FinishedEntry, "pool positions leave the top bit free");
static bool ReachedFinished = false;  // some entry of Reached carries the bit
static int ItemCount = 0; // items printed in this print

// Pre-pass: mark 0 = reached, shared 0 = reached twice.  Recurses on left,
// loops on right, so lists and chains cost no depth.
static void markshared(Ref r) {
    stackguard();
    while (isinner(node(r).kind)) {
        Node& n = node(r);
        if (n.mark == 0) {
            n.shared = 0;
            return;
        }
        n.mark = 0;
        Ref entry = r;
        if (n.shared == 2) {  // finished by the reduction under way or the latest one
            entry |= FinishedEntry;
            ReachedFinished = true;
        }
        Reached.items[Reached.top++] = entry;
        markshared(n.left);
        r = n.right;
    }
}

static void printatom(Ref r) {
    const Node& n = node(r);
    switch (n.kind) {
    case INTEGER:
        outf("%d ", std::int32_t(n.left));
        break;
    case REAL:
        outf("%g ", double(realvalue(n.left)));
        break;
    default:  // definition, identifier, string: the name in the atom table
        outs(AtomName[n.right]);
        outs(" ");
        break;
    }
}

static void printnode(Ref r, bool paren);

// A right-nested chain of one operator prints as one operator with all its
// operands: "lambda x y body", "cons 1 2 3 0".
static void printchain(Ref r, std::int32_t kind) {
    while (node(r).kind == kind && node(r).mark == 0 && node(r).shared != 0) {
        node(r).mark = 1;
        printnode(node(r).left, true);
        r = node(r).right;
    }
    printnode(r, true);
}

static void printnode(Ref r, bool paren) {
    stackguard();
    if (ItemCount > PrintItemLimit) return;
    Node& n = node(r);
    if (!isinner(n.kind)) {
        printatom(r);
        ItemCount++;
        return;
    }
    if (n.mark != 0) {  // printed already in this print
        outf("co%u ", r);
        return;
    }
    n.mark = 1;
    bool shared = n.shared == 0;
    if (paren || shared) outs("( ");
    if (shared) {
        outf("co%u : ", r);
        ItemCount++;
    }
    if (isoneoperand(n.kind)) {
        outs(OperatorTable[n.kind]);
        outs(" ");
        ItemCount++;
        printnode(n.left, true);
    } else if (n.kind == APP) {
        printnode(n.left, node(n.left).kind != APP);
        printnode(n.right, true);
    } else {
        outs(OperatorTable[n.kind]);
        outs(" ");
        ItemCount++;
        printnode(n.left, true);
        printchain(n.right, n.kind);
    }
    if (paren || shared) outs(") ");
    if (shared) n.shared = 1;
}

void printrestore() {
    if (!ReachedFinished) {  // the usual case: every entry a plain position
        for (std::size_t i = 0; i < Reached.top; i++) {
            Node& n = node(Reached.items[i]);
            n.mark = 1;
            n.shared = 1;
        }
    } else {
        for (std::size_t i = 0; i < Reached.top; i++) {
            Ref entry = Reached.items[i];
            Node& n = node(entry & ~FinishedEntry);
            n.mark = 1;
            n.shared = (entry & FinishedEntry) != 0 ? 2 : 1;
        }
    }
    Reached.top = 0;
    ReachedFinished = false;
}

void printterm(Ref term, bool paren) {
    Reached.top = 0;
    ReachedFinished = false;
    markshared(term);
    ItemCount = 0;
    printnode(term, paren);
    printrestore();
}

void printtermto(std::FILE* to, Ref term, bool paren) {
    // Output is swapped for the print and put back however the print ends.
    struct Swap {
        std::FILE* saved = Output;
        ~Swap() { Output = saved; }
    } swap;
    Output = to;
    printterm(term, paren);
}
