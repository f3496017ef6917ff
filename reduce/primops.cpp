// The operator rules, applied to an operator node.  reduce has already
// brought the operands to weak head normal form and stored them back; the
// rule (operators.h) looks only at their kinds and payloads.  Its answer is
// written into the operator node: a number, or an indirection to a shared
// truth value, to 'ERROR!! or to the selected part of a pair.  When the
// operands are not of the kinds it needs the node is left stuck.  No rule
// builds a node.
#include "reduce/internal.h"
#include "reduce/operators.h"

namespace {
// Writes a rule's answer over operator node n, whose first operand is a.
// Each member forced inline: left to itself the compiler kept the truth
// values' out of line, a call for every comparison.
#define SINK __attribute__((always_inline))
struct NodeSink {
    Ref n;
    const Node& a;
    SINK void integer(std::uint32_t v) { setnumber(INTEGER, v); }
    SINK void real(std::uint32_t bits) { setnumber(REAL, bits); }
    SINK void truth(bool t) { makeident(n, t ? TrueNode : FalseNode); }
    SINK void head() { makeident(n, a.left); }   // a is the pair: car (cons H T) => H
    SINK void tail() { makeident(n, a.right); }  // cdr (cons H T) => T
    SINK void error() { makeident(n, ErrorAtom); }
    SINK void setnumber(std::int32_t kind, std::uint32_t v) {
        Node& x = node(n);
        x.kind = kind;
        x.left = v;
    }
};
#undef SINK
}  // namespace

bool applyoperator(Ref n) {
    const Node& x = node(n);
    std::int32_t k = x.kind;
    const Node& a = node(x.left);
    NodeSink to{n, a};
    bool done;
    if (k >= PLUS) {
        done = binaryrule(to, k, x.left, a, x.right, node(x.right));
    } else {
        done = unaryrule(to, k, a);
    }
    if (!done) return false;
    OperatorSteps++;
    stepdone(k, n);
    return true;
}
