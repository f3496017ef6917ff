// The operator rules on values: what "car" to "=s" give for operands of
// given kinds and payloads, apart from any node.  The engine writes the
// answer into the operator node (primops.cpp); the reference reducer builds
// it in its own tree (reference.cpp).  One table of rules, so the two can
// never differ on an operator.
//
// An operand is given as a node (its kind, and its left field: an integer, or
// a real's bits) and its identity (a string atom is the same text exactly
// when it is the same interned node).  A one-operand operator looks at its
// first operand only.  A rule that applies hands its answer to a sink, which
// has one member for each kind of answer:
//   integer(bits)  real(bits)  truth(bool)  head()  tail()  error()
// (head and tail: the parts of the pair operand, for "car" and "cdr"; error:
// the string atom 'ERROR!!, "car" or "cdr" of another datum), and returns
// true; a rule whose operands are not of the kinds it works on returns false
// and hands nothing.  The sink is a template parameter, so the engine's rule
// writes its node as directly as if it were written out here.
//
// Integer arithmetic wraps in 32 bits (computed unsigned); reals are single
// precision, computed in double and rounded once.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "store/store.h"

// Rounds v to single precision.  A finite v beyond the largest single is an
// overflow: it becomes the infinity of its sign, as IEEE rounding has it (the
// conversion itself is left undefined by the language for such values).
inline std::uint32_t singlebits(double v) {
    constexpr double most = std::numeric_limits<float>::max();
    float f = v > most   ? std::numeric_limits<float>::infinity()
              : v < -most ? -std::numeric_limits<float>::infinity()
                          : float(v);
    return realbits(f);
}

// Integers, reals, string atoms and pairs are what a type test can rule out;
// anything else (a free variable, a function, a stuck term) leaves it stuck.
inline bool isdatum(std::int32_t k) { return k == INTEGER || k == REAL || k == STRING || k == CONS; }

inline std::int32_t truncated(float x) {
    double t = std::trunc(double(x));
    if (!(t >= -2147483648.0 && t <= 2147483647.0))  // out of range, or not a number
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(t);
}

// The one-operand rules, kinds "car" to "trunc".
template <class Sink>
inline bool unaryrule(Sink& to, std::int32_t op, const Node& operand) {
    std::int32_t ka = operand.kind;
    switch (op) {
    case CAR:  // car (cons H T) => H;  car datum => 'ERROR!!
    case CDR:  // cdr (cons H T) => T;  cdr datum => 'ERROR!!
        if (ka == CONS) op == CAR ? to.head() : to.tail();
        else if (isdatum(ka)) to.error();
        else return false;
        return true;
    case COM:
    case INTATOM:
    case REALATOM:
    case STRATOM: {  // test datum => true when of the tested kind, else false
        std::int32_t wanted = op == COM ? CONS : op == INTATOM ? INTEGER : op == REALATOM ? REAL : STRING;
        if (ka == wanted) to.truth(true);
        else if (isdatum(ka)) to.truth(false);
        else return false;
        return true;
    }
    default: break;
    }
    if (op <= FLOAT) {
        if (ka != INTEGER) return false;
        std::int32_t v = std::int32_t(operand.left);
        if (op == ABS) to.integer(v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v));
        else to.real(singlebits(double(float(v))));  // float: nearest single, ties to even
        return true;
    }
    if (ka != REAL) return false;
    double x = realvalue(operand.left);
    switch (op) {
    case ARCTAN: to.real(singlebits(std::atan(x))); break;
    case COS: to.real(singlebits(std::cos(x))); break;
    case EXP: to.real(singlebits(std::exp(x))); break;
    case LN: to.real(singlebits(std::log(x))); break;
    case SIN: to.real(singlebits(std::sin(x))); break;
    case SQRT: to.real(singlebits(std::sqrt(x))); break;
    case ABSR: to.real(singlebits(std::fabs(x))); break;
    default: to.integer(std::uint32_t(truncated(float(x)))); break;  // trunc
    }
    return true;
}

// The two-operand rules, kinds "+" to "=s"; ida and idb are the operands'
// identities.
template <class Sink>
inline bool binaryrule(Sink& to, std::int32_t op, Ref ida, const Node& first, Ref idb, const Node& second) {
    if (op == EQS) {  // same text is the same interned atom
        if (first.kind != STRING || second.kind != STRING) return false;
        to.truth(ida == idb);
        return true;
    }
    if (op <= LE) {
        if (first.kind != INTEGER || second.kind != INTEGER) return false;
        std::uint32_t a = first.left, b = second.left;
        std::int32_t i = std::int32_t(a), j = std::int32_t(b);
        switch (op) {
        case PLUS: to.integer(a + b); return true;
        case MINUS: to.integer(a - b); return true;
        case TIMES: to.integer(a * b); return true;
        case DIV:
            if (j == 0) return false;
            // the one quotient that does not fit wraps back to itself
            to.integer(j == -1 ? 0u - a : std::uint32_t(i / j));
            return true;
        case MOD:
            if (j == 0) return false;
            to.integer(j == -1 ? 0u : std::uint32_t(i % j));
            return true;
        case EQ: to.truth(i == j); return true;
        case LT: to.truth(i < j); return true;
        case NE: to.truth(i != j); return true;
        default: to.truth(i <= j); return true;
        }
    }
    if (first.kind != REAL || second.kind != REAL) return false;
    double x = realvalue(first.left), y = realvalue(second.left);
    switch (op) {
    case PLUSR: to.real(singlebits(x + y)); return true;
    case MINUSR: to.real(singlebits(x - y)); return true;
    case TIMESR: to.real(singlebits(x * y)); return true;
    case DIVR: to.real(singlebits(x / y)); return true;
    case EQR: to.truth(x == y); return true;
    case LTR: to.truth(x < y); return true;
    case NER: to.truth(x != y); return true;
    default: to.truth(x <= y); return true;
    }
}
