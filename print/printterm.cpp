// Printing a term graph: the walk module's reach pass finds the nodes reached
// more than once, the print pass (printnode, printchain, printatom) writes
// the text, marking each node it prints done, and the end of the walk puts
// every node it reached back at rest, whether or not the print pass got to
// it.
#include "print/print.h"

#include "reader/reader.h"

static int ItemCount = 0; // items printed in this print

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
    while (node(r).kind == kind && !isdone(r) && !istwice(r)) {
        walkdone(r);
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
    if (isdone(r)) {  // printed already in this print
        outf("co%u ", r);
        return;
    }
    walkdone(r);
    bool shared = istwice(r);
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
}

void printterm(Ref term, bool paren) {
    WalkScope walk;
    walkreach(term, WalkFields::Both);
    ItemCount = 0;
    printnode(term, paren);
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
