// The short line of a stopped statement: the term a stop left, as far as
// about a line and a half of text, so a learner sees what the statement was
// doing rather than a dump of the machine.  Indirections are followed, not
// printed (a value passed on is shown as the value); sharing is not
// labelled, so a part reached twice is printed twice, and a cycle is
// printed round until the cut.  The walk reads the graph and writes no flag,
// so it can run in the middle of anything.
#include "print/print.h"

#include "reader/reader.h"

#include <string>
#include <unordered_map>

// Indirections followed in one run before the rest is printed as it is: a
// ring of them (a stuck term) would go round for ever.
constexpr int IndirectionRun = 1 << 20;

static std::string Short;
// The nodes the pre-pass met and how often (2 for twice or more); a node
// printed already has 3.
static std::unordered_map<Ref, int> Met;
// Nodes visited: a cycle through the function side of applications prints
// nothing per turn, so the walk is also cut after this many.
static std::size_t Visits = 0;
constexpr std::size_t VisitLimit = 4 * StoppedLineWidth;

static bool full() { return Short.size() >= StoppedLineWidth || Visits > VisitLimit; }

static void word(const char* s) {
    Short += s;
    Short += ' ';
}

static Ref followed(Ref r) {
    for (int k = 0; k < IndirectionRun && node(r).kind == IDENT; k++) r = node(r).left;
    return r;
}

// Pre-pass: the inner nodes the print can reach within VisitLimit nodes,
// counted, each descended into once.
static void meet(Ref r) {
    stackguard();
    while (Visits <= VisitLimit) {
        r = followed(r);
        const Node& n = node(r);
        if (!isinner(n.kind)) return;
        Visits++;
        int& count = Met[r];
        if (count++ > 0) {
            count = 2;
            return;
        }
        meet(n.left);
        if (isoneoperand(n.kind)) return;
        r = n.right;
    }
}

static void shortnode(Ref r, bool paren);

// A right-nested chain of one operator, flat, as the printer prints it
// (a labelled link ends the chain and prints as an operand).
static bool plainlink(Ref r, std::int32_t kind) {
    auto met = Met.find(r);
    return node(r).kind == kind && (met == Met.end() || met->second == 1);
}
static void shortchain(Ref r, std::int32_t kind) {
    for (r = followed(r); plainlink(r, kind) && !full(); r = followed(node(r).right)) {
        Met[r] = 3;
        shortnode(node(r).left, true);
    }
    shortnode(r, true);
}

static void shortnode(Ref r, bool paren) {
    stackguard();
    if (full()) return;
    Visits++;
    r = followed(r);
    const Node& n = node(r);
    if (!isinner(n.kind)) {
        char text[32];
        if (n.kind == INTEGER) std::snprintf(text, sizeof text, "%d", std::int32_t(n.left));
        else if (n.kind == REAL) std::snprintf(text, sizeof text, "%g", double(realvalue(n.left)));
        word(n.kind == INTEGER || n.kind == REAL ? text : AtomName[n.right]);
        return;
    }
    auto met = Met.find(r);
    int count = met == Met.end() ? 1 : met->second;
    char label[24];
    std::snprintf(label, sizeof label, "co%u", r);
    if (count == 3) {  // printed already
        word(label);
        return;
    }
    bool shared = count == 2;
    if (shared) met->second = 3;
    if (paren || shared) word("(");
    if (shared) {
        word(label);
        word(":");
    }
    if (n.kind == APP) {
        shortnode(n.left, node(followed(n.left)).kind != APP);
        shortnode(n.right, true);
    } else {
        word(OperatorTable[n.kind]);
        shortnode(n.left, true);
        if (!isoneoperand(n.kind)) shortchain(n.right, n.kind);
    }
    if ((paren || shared) && !full()) word(")");
}

void printstopped(Ref term) {
    Short.clear();
    Met.clear();
    Visits = 0;
    meet(term);
    Visits = 0;
    shortnode(term, false);
    if (full()) Short += "...";
    outs(Short.c_str());
    Short.clear();
    Met.clear();
}
