// The operator rules.  reduce has already brought the operands to weak head
// normal form and stored them back; a rule looks only at their kinds and
// payloads.  It writes a number into the operator node, turns the node into
// an indirection to a shared truth value or a selected node, or, when the
// operands are not of the kinds it needs, leaves the node stuck.  No rule
// builds a node.  Integer arithmetic wraps in 32 bits (computed unsigned);
// reals are single precision, computed in double and rounded once.
#include "reduce/internal.h"

#include <cmath>
#include <limits>

static inline float realof(const Node& n) { return realvalue(n.left); }

static inline void setinteger(Node& n, std::uint32_t v) {
    n.kind = INTEGER;
    n.left = v;
}

// Rounds v to single precision.  A finite v beyond the largest single is an
// overflow: it becomes the infinity of its sign, as IEEE rounding has it (the
// conversion itself is left undefined by the language for such values).
static inline void setreal(Node& n, double v) {
    constexpr double most = std::numeric_limits<float>::max();
    float f = v > most   ? std::numeric_limits<float>::infinity()
              : v < -most ? -std::numeric_limits<float>::infinity()
                          : float(v);
    n.kind = REAL;
    n.left = realbits(f);
}

// Integers, reals, string atoms and pairs are what a type test can rule out;
// anything else (a free variable, a function, a stuck term) leaves it stuck.
static inline bool isdatum(std::int32_t k) {
    return k == INTEGER || k == REAL || k == STRING || k == CONS;
}

// test(A)  =>  ident(onmatch) when A is of the wanted kind, ident(onother)
// when it is some other datum.  onmatch is only read when A matches.
static bool typetest(Ref n, Ref onmatch, Ref onother, std::int32_t wanted) {
    std::int32_t k = node(node(n).left).kind;
    if (k == wanted) makeident(n, onmatch);
    else if (isdatum(k)) makeident(n, onother);
    else return false;
    return true;
}

static bool truth(Ref n, bool t) {
    makeident(n, t ? TrueNode : FalseNode);
    return true;
}

static std::int32_t truncate(float x) {
    double t = std::trunc(double(x));
    if (!(t >= -2147483648.0 && t <= 2147483647.0))  // out of range, or not a number
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(t);
}

static bool unary(Ref r) {
    Node& n = node(r);
    const Node& a = node(n.left);
    switch (n.kind) {
    case CAR:  // car (cons H T) => H;  car datum => 'ERROR!!
        return typetest(r, a.kind == CONS ? a.left : NoNode, ErrorAtom, CONS);
    case CDR:  // cdr (cons H T) => T;  cdr datum => 'ERROR!!
        return typetest(r, a.kind == CONS ? a.right : NoNode, ErrorAtom, CONS);
    case COM: return typetest(r, TrueNode, FalseNode, CONS);
    case INTATOM: return typetest(r, TrueNode, FalseNode, INTEGER);
    case REALATOM: return typetest(r, TrueNode, FalseNode, REAL);
    case STRATOM: return typetest(r, TrueNode, FalseNode, STRING);
    default: break;
    }
    if (n.kind <= FLOAT) {
        if (a.kind != INTEGER) return false;
        std::int32_t v = std::int32_t(a.left);
        if (n.kind == ABS) setinteger(n, v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v));
        else setreal(n, double(float(v)));  // float: nearest single, ties to even
        return true;
    }
    if (a.kind != REAL) return false;
    float x = realof(a);
    switch (n.kind) {
    case ARCTAN: setreal(n, std::atan(double(x))); break;
    case COS: setreal(n, std::cos(double(x))); break;
    case EXP: setreal(n, std::exp(double(x))); break;
    case LN: setreal(n, std::log(double(x))); break;
    case SIN: setreal(n, std::sin(double(x))); break;
    case SQRT: setreal(n, std::sqrt(double(x))); break;
    case ABSR: setreal(n, std::fabs(double(x))); break;
    default: setinteger(n, std::uint32_t(truncate(x))); break;  // trunc
    }
    return true;
}

static bool binary(Ref r) {
    Node& n = node(r);
    const Node& a = node(n.left);
    const Node& b = node(n.right);
    if (n.kind == EQS) {  // same text is the same interned atom
        if (a.kind != STRING || b.kind != STRING) return false;
        return truth(r, n.left == n.right);
    }
    if (n.kind <= LE) {
        if (a.kind != INTEGER || b.kind != INTEGER) return false;
        std::uint32_t u = a.left, w = b.left;
        std::int32_t i = std::int32_t(u), j = std::int32_t(w);
        switch (n.kind) {
        case PLUS: setinteger(n, u + w); return true;
        case MINUS: setinteger(n, u - w); return true;
        case TIMES: setinteger(n, u * w); return true;
        case DIV:
            if (j == 0) return false;
            // the one quotient that does not fit wraps back to itself
            setinteger(n, j == -1 ? 0u - u : std::uint32_t(i / j));
            return true;
        case MOD:
            if (j == 0) return false;
            setinteger(n, j == -1 ? 0u : std::uint32_t(i % j));
            return true;
        case EQ: return truth(r, i == j);
        case LT: return truth(r, i < j);
        case NE: return truth(r, i != j);
        default: return truth(r, i <= j);
        }
    }
    if (a.kind != REAL || b.kind != REAL) return false;
    double x = realof(a), y = realof(b);
    switch (n.kind) {
    case PLUSR: setreal(n, x + y); return true;
    case MINUSR: setreal(n, x - y); return true;
    case TIMESR: setreal(n, x * y); return true;
    case DIVR: setreal(n, x / y); return true;
    case EQR: return truth(r, x == y);
    case LTR: return truth(r, x < y);
    case NER: return truth(r, x != y);
    default: return truth(r, x <= y);
    }
}

bool applyoperator(Ref n) {
    std::int32_t k = node(n).kind;
    if (!(k >= PLUS ? binary(n) : unary(n))) return false;
    OperatorSteps++;
    stepdone(k, n);
    return true;
}
