// The parser: the node shapes it builds (kinds and fields, read from the
// nodes themselves), the slots it writes, and its bracket matching on long
// and malformed statements compared with a plain scanning parser.
#include "harness.h"

#include <random>

using Parser = Kestrivo;

TEST_F(Parser, ChainsOperandsAndEmptyGroups) {
    EXPECT_TRUE(ParsesAs("f a b c;", "(0 (0 (0 f a) b) c)"));
    EXPECT_TRUE(ParsesAs("+ 1 2 3;", "(22 1 (22 2 3))"));
    EXPECT_TRUE(ParsesAs("print x;", "(4 x x)"));
    EXPECT_TRUE(ParsesAs("+ 5;", "(22 5 ErrorAtom)"));
    EXPECT_TRUE(ParsesAs("lambda x;", "(1 x ErrorAtom)"));
    EXPECT_TRUE(ParsesAs("();", "ErrorAtom"));
    EXPECT_TRUE(ParsesAs("((x));", "x"));
    EXPECT_TRUE(ParsesAs("f ();", "(0 f ErrorAtom)"));
    EXPECT_TRUE(ParsesAs("(f x;", "(0 f x)"));
    EXPECT_TRUE(ParsesAs("f x);", "(0 f x)"));
    EXPECT_TRUE(ParsesAs("x-1;", "(0 x -1)"));
    EXPECT_TRUE(ParsesAs("- 5 3;", "(23 5 3)"));
    EXPECT_TRUE(ParsesAs("[x];", "(0 (0 [ x) ])"));

    // A fresh graph of TrueNode's shape, over the same interned atoms.
    Ref t = parse("lambda x y x;");
    EXPECT_EQ(shape(t), "(1 x (1 y x))");
    EXPECT_NE(t, TrueNode);
    EXPECT_EQ(node(t).left, node(TrueNode).left);
    EXPECT_EQ(node(node(t).right).left, node(node(TrueNode).right).left);

    // The stray "(" is an atom of that name.
    Ref open = parse("+ ( ;");
    EXPECT_EQ(shape(open), "(22 ( ErrorAtom)");
    EXPECT_EQ(node(node(open).left).kind, IDENTIFIER);
    EXPECT_STREQ(AtomName[node(node(open).left).right], "(");
    Ref brackets = parse("[x];");
    EXPECT_EQ(node(node(node(brackets).left).left).kind, IDENTIFIER);
    EXPECT_EQ(node(node(brackets).right).kind, IDENTIFIER);

    // The missing ")" is written into the slot after the statement.
    EXPECT_TRUE(ParsesAs("f (g x;", "(0 f (0 g x))"));
    EXPECT_EQ(LastSlot, 3);
    EXPECT_STREQ(starray[4], ")");
    EXPECT_STREQ(starray[0], "f");
}

TEST_F(Parser, OperatorsAndGroups) {
    // A lone operator name is an atom, also alone in a group.
    for (const char* name : {"+;", "lambda;", "print;", "app;", "=s;"}) {
        Ref r = parse(name);
        EXPECT_EQ(node(r).kind, IDENTIFIER) << name;
        EXPECT_EQ(std::string(AtomName[node(r).right]) + ";", name);
    }
    EXPECT_TRUE(ParsesAs("(+) 1;", "(0 + 1)"));
    // Names beginning with "-" are numbers.
    EXPECT_TRUE(ParsesAs("-;", "0"));
    EXPECT_TRUE(ParsesAs("-r;", "-66"));
    EXPECT_NE(parse("-;"), nil);

    // An operator name first in a group is an operator again.
    EXPECT_TRUE(ParsesAs("f (car x);", "(0 f (6 x x))"));
    EXPECT_TRUE(ParsesAs("+ (f 1) 2;", "(22 (0 f 1) 2)"));
    EXPECT_TRUE(ParsesAs("= a b;", "(27 a b)"));
    EXPECT_TRUE(ParsesAs("app f x;", "(0 f x)"));
    EXPECT_TRUE(ParsesAs("ident x;", "(5 x x)"));
    EXPECT_TRUE(ParsesAs("sub t e;", "(2 t e)"));
    EXPECT_TRUE(ParsesAs("cons 1 2 3 0;", "(3 1 (3 2 (3 3 nil)))"));
    EXPECT_TRUE(ParsesAs("0 0.0 true false;", "(0 (0 (0 nil RealZeroNode) TrueNode) FalseNode)"));

    // More than two operands nest to the right, a unary operator included.
    EXPECT_TRUE(ParsesAs("print a b;", "(4 a b)"));
    EXPECT_TRUE(ParsesAs("print a b c;", "(4 a (4 b c))"));
    EXPECT_TRUE(ParsesAs("lambda x y z body;", "(1 x (1 y (1 z body)))"));
    EXPECT_TRUE(ParsesAs("lambda x f x;", "(1 x (1 f x))"));
    EXPECT_TRUE(ParsesAs("lambda x (f x);", "(1 x (0 f x))"));

    // A one-operand node holds its single operand, one node, in both fields.
    Ref s = parse("sin (f x);");
    EXPECT_EQ(shape(s), "(18 (0 f x) (0 f x))");
    EXPECT_EQ(node(s).left, node(s).right);
    Ref p = parse("+ (f x);");
    EXPECT_EQ(shape(p), "(22 (0 f x) ErrorAtom)");

    // A chain goes on after a group operand; the ")" that closed the group,
    // slot 4, then holds the operator's name.
    EXPECT_TRUE(ParsesAs("+ (f 1) 2 3;", "(22 (0 f 1) (22 2 3))"));
    EXPECT_STREQ(starray[4], "+");
    EXPECT_STREQ(starray[0], "+");
    EXPECT_TRUE(ParsesAs("cons (f) (g) (h) (i);", "(3 f (3 g (3 h i)))"));
    EXPECT_STREQ(starray[3], "cons");
    EXPECT_STREQ(starray[6], "cons");
    EXPECT_STREQ(starray[9], ")");  // the last two operands need no chain

    // Malformed brackets: closed at the end, dropped at the start or end.
    EXPECT_TRUE(ParsesAs("f (g (h x;", "(0 f (0 g (0 h x)))"));
    EXPECT_STREQ(starray[6], ")");
    EXPECT_STREQ(starray[7], ")");
    EXPECT_TRUE(ParsesAs("f x) y;", "(0 (0 f x) y)"));
    EXPECT_TRUE(ParsesAs("((f x;", "(0 f x)"));
    EXPECT_TRUE(ParsesAs(") f;", "(0 ) f)"));
    EXPECT_TRUE(ParsesAs("f ) (;", "f"));
}

TEST_F(Parser, ApplicationOfALambdaSharesItsVariableAtom) {
    Ref a = parse("(lambda x (* x x)) 3;");
    ASSERT_EQ(LastSlot, 9);
    const char* slots[] = {"(", "lambda", "x", "(", "*", "x", "x", ")", ")", "3"};
    for (int i = 0; i <= 9; i++) EXPECT_STREQ(starray[i], slots[i]) << "slot " << i;
    ASSERT_EQ(shape(a), "(0 (1 x (24 x x)) 3)");
    Ref l = node(a).left, n = node(a).right, m = node(l).right;
    Ref x = AtomNode[0];
    EXPECT_STREQ(AtomName[0], "x");
    EXPECT_EQ(node(l).left, x);
    EXPECT_EQ(node(m).left, x);
    EXPECT_EQ(node(m).right, x);
    // Built in the order M, L, N, A; the free list hands out the highest
    // position first.
    if (!StressBuild) {
        EXPECT_GT(m, l);
        EXPECT_GT(l, n);
        EXPECT_GT(n, a);
    }
}

// ---- bracket matching against a plain scanning parser ---------------------

namespace {

struct Overflow {};

// The parser as a plain scan: every bracket match walks the slots one by
// one.  It works on its own copy of the slots.
struct ScanParser {
    std::vector<std::string> slot;
    static constexpr int NoMatch = -999;

    int matchparen(int s, int limit, bool forward) {
        char c = slot[s][0];
        if (c != '(' && c != ')') return s;
        if (s == limit) return NoMatch;
        int depth = forward ? -1 : 1;
        for (;;) {
            s += forward ? 1 : -1;
            char d = slot[s][0];
            if (d == ')') depth++;
            else if (d == '(') depth--;
            if (depth == 0) return s;
            if (s == limit) return NoMatch;
        }
    }

    void closeparen(int lo, int& hi) {
        int b = 0;
        for (int i = lo; i <= hi; i++) {
            if (slot[i][0] == '(') b++;
            else if (slot[i][0] == ')') b--;
        }
        if (b <= 0) return;
        if (hi + b >= int(slot.size())) throw Overflow{};
        for (int i = 1; i <= b; i++) slot[hi + i] = ")";
        hi += b;
    }

    static int opindex(const std::string& t) {
        for (int k = 0; k < OperatorCount; k++)
            if (t == OperatorTable[k]) return k;
        return -1;
    }

    Ref fterm(int lo, int hi) {
        if (hi < lo) return ErrorAtom;
        if (lo == hi) return fatom(slot[lo].c_str());
        std::string t = slot[lo];
        if (t == "(") {
            int m = matchparen(lo, hi, true);
            if (m == hi) return fterm(lo + 1, hi - 1);
            if (m == NoMatch) return fterm(lo + 1, hi);
            return fapply(lo, hi);
        }
        int k = opindex(t);
        if (k < 0) return fapply(lo, hi);
        int m = matchparen(lo + 1, hi, true);
        if (m == hi || m == NoMatch) {
            Ref a = fterm(lo + 1, hi);
            return makenode(a, k >= 4 && k <= 21 ? a : ErrorAtom, k);
        }
        Ref first = fterm(lo + 1, m);
        int m2 = matchparen(m + 1, hi, true);
        Ref second;
        if (m2 == hi || m2 == NoMatch) {
            second = fterm(m + 1, hi);
        } else {
            slot[m] = t;
            second = fterm(m, hi);
        }
        return makenode(first, second, k);
    }

    Ref fapply(int lo, int hi) {
        closeparen(lo, hi);
        int m = matchparen(hi, lo, false);
        if (m == NoMatch) return fterm(lo, hi - 1);
        Ref function = fterm(lo, m - 1);
        Ref argument = fterm(m, hi);
        return makenode(function, argument, APP);
    }
};

// Random statements of n tokens, heavy in brackets and operators.
std::vector<std::string> randomstatement(std::mt19937& rng, int n) {
    static const char* words[] = {"f", "g", "x", "y", "1", "2", "[", "]", "+", "lambda",
                                  "print", "car", "cons", "app", "sin", "=", "-", "0"};
    std::vector<std::string> out;
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> word(0, int(sizeof words / sizeof *words) - 1);
    int openbias = pick(rng) % 3;  // some statements lean to "(", some to ")"
    for (int i = 0; i < n; i++) {
        int p = pick(rng);
        if (p < 25 + 5 * openbias) out.push_back("(");
        else if (p < 50) out.push_back(")");
        else out.push_back(words[word(rng)]);
    }
    return out;
}

}  // namespace

// The scanning parser's partial results are held by nothing but itself.
class BracketMatching : public Kestrivo {
protected:
    void SetUp() override {
        SKIP_IN_STRESS_BUILD();
        Kestrivo::SetUp();
    }

    // Parses random statements with both parsers and compares the printed
    // terms, the slots afterwards, and whether the slot bound was hit.
    void compare(std::uint32_t seed, int rounds, int maxlength) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> length(1, maxlength);
        for (int round = 0; round < rounds; round++) {
            collectnow();
            ASSERT_GT(freenodes, std::uint32_t(8 * maxlength + 100));
            std::vector<std::string> tokens = randomstatement(rng, length(rng));
            std::string statement;
            for (std::size_t i = 0; i < tokens.size(); i++) {
                std::strcpy(starray[i], tokens[i].c_str());
                statement += tokens[i] + " ";
            }
            int hi = int(tokens.size()) - 1;

            ScanParser scan;
            for (int i = 0; i < TokenCapacity; i++) scan.slot.push_back(starray[i]);
            bool scanoverflow = false;
            Ref expected = NoNode;
            try {
                expected = scan.fterm(0, hi);
            } catch (const Overflow&) {
                scanoverflow = true;
            }

            Ref actual = NoNode;
            Captured c = capture([&] { actual = fterm(0, hi); });
            bool overflow = c.status >= 0;
            ASSERT_EQ(overflow, scanoverflow) << "statement: " << statement;
            if (overflow) {
                EXPECT_EQ(c.text, "starray is overflow in yomikomiTHE END...................\n");
                continue;
            }
            std::string want = renamelabels(printed(expected));
            std::string got = renamelabels(printed(actual));
            ASSERT_EQ(got, want) << "statement: " << statement;
            for (int i = 0; i < TokenCapacity; i++)
                ASSERT_EQ(std::string(starray[i]), scan.slot[i])
                    << "slot " << i << " after the statement: " << statement;
        }
    }
};

TEST_F(BracketMatching, LongStatementsAgreeWithAScan) {
    shutdown();
    boot(30, 1000);
    compare(20240501u, 400, 900);
}

TEST_F(BracketMatching, ShortStatementsAgreeWithAScan) {
    shutdown();
    boot(5, 1000);
    compare(7u, 3000, 24);
}

TEST_F(BracketMatching, StatementsNearTheSlotBoundAgreeWithAScan) {
    // Statements that fill most of a small token array, so that closing
    // their brackets often needs more slots than there are.
    shutdown();
    boot(5, 40);
    compare(99u, 3000, 40);
}
