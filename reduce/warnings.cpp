// The reducer's warning (--warn): an operator that a normal form still holds
// because its operands are not of the kinds it works on.  Such an operator
// is printed unreduced without a word; this says which one and why.
//
// An operator is reported only when each of its operands is a value of a
// definite kind (a number, a string, a function, a pair): then no later
// substitution can make it reduce.  An operand that is a free name or a
// stuck application leaves the operator merely waiting, and says nothing.
#include "reduce/reduce.h"

// Beyond this many in one normal form only their count is reported: a list
// built from one mistake would otherwise repeat the same line for every
// element.
constexpr int StuckWarningLimit = 10;

// The kind of a value, as the warning names it; null for what is not a value.
static const char* valuekind(Ref r) {
    const Node& n = node(r);
    switch (n.kind) {
    case INTEGER: return "an integer";
    case REAL: return "a real";
    case STRING: return "a string";
    case CONS: return "a pair";
    case LAMBDA: return "a function";
    case SUB: return node(n.left).kind == LAMBDA ? "a function" : nullptr;
    default: return nullptr;
    }
}

// The warning for node r, when it is an operator stuck on values.
static bool warnoperator(Ref r, std::int64_t line, bool say) {
    const Node& n = node(r);
    if (n.kind < CAR || n.kind > EQS) return false;  // not an operator with a rule
    const char* a = valuekind(n.left);
    if (a == nullptr) return false;
    const char* name = OperatorTable[n.kind];
    if (isoneoperand(n.kind)) {
        if (say) warnf(line, 0, "'%s' is left unreduced: its operand is %s", name, a);
        return true;
    }
    const char* b = valuekind(n.right);
    if (b == nullptr) return false;
    if (!say) return true;
    if ((n.kind == DIV || n.kind == MOD) && node(n.left).kind == INTEGER && node(n.right).kind == INTEGER)
        warnf(line, 0, "'%s' is left unreduced: division by zero", name);
    else
        warnf(line, 0, "'%s' is left unreduced: its operands are %s and %s", name, a, b);
    return true;
}

void warnstuck(Ref normalform, std::int64_t line) {
    // Every inner node the normal form holds, once, in the order a print
    // meets them (a walk: only left counts on a one-operand node).
    int found = 0;
    {
        WalkScope walk;
        walkreach(normalform, WalkFields::Live);
        for (std::size_t i = 0; i < walkcount(); i++)
            if (warnoperator(walknode(i), line, found < StuckWarningLimit)) found++;
    }
    if (found > StuckWarningLimit)
        warnf(line, 0, "%d more operators are left unreduced in this normal form", found - StuckWarningLimit);
}
