// The term printer: prefix form, flat chains of one operator, sharing labels
// (a node's pool position), the 2000-item cut, and every node back at rest
// after every print.
#include "harness.h"

// The graphs here are built by hand and held only by local variables.
class Printer : public Kestrivo {
protected:
    void SetUp() override {
        SKIP_IN_STRESS_BUILD();
        Kestrivo::SetUp();
    }
};

TEST_F(Printer, PrefixFormParenthesesAndChains) {
    Ref f = atom("f"), g = atom("g"), x = atom("x"), y = atom("y");
    Ref a = atom("a"), b = atom("b"), t = atom("t");

    EXPECT_TRUE(PrintsAs(TrueNode, "lambda x y x "));
    EXPECT_TRUE(PrintsAs(FalseNode, "lambda x y y "));
    EXPECT_TRUE(PrintsAs(mk(CONS, num(1), mk(CONS, num(2), nil)), "cons 1 2 0 "));
    EXPECT_TRUE(PrintsAs(mk(APP, mk(APP, f, x), y), "f x y "));
    EXPECT_TRUE(PrintsAs(mk(APP, f, mk(APP, g, x)), "f ( g x ) "));

    Ref s = mk(APP, f, x);
    EXPECT_TRUE(PrintsAs(mk(CONS, s, s), "cons ( " + lab(s) + " : f x ) " + lab(s) + " "));
    // A one-operand node: the operand is labelled, and nothing refers to it.
    EXPECT_TRUE(PrintsAs(mk(SIN, s, s), "sin ( " + lab(s) + " : f x ) "));

    Ref cycle = mk(CONS, num(1), NoNode);
    node(cycle).right = cycle;
    EXPECT_TRUE(PrintsAs(cycle, "( " + lab(cycle) + " : cons 1 " + lab(cycle) + " ) "));

    Ref tail = mk(CONS, b, nil);
    Ref head = mk(CONS, a, tail);
    EXPECT_TRUE(PrintsAs(mk(CONS, head, tail),
                         "cons ( cons a ( " + lab(tail) + " : cons b 0 ) ) " + lab(tail) + " "));

    Ref env = mk(CONS, x, mk(CONS, num(5), nil));
    EXPECT_TRUE(PrintsAs(mk(SUB, t, env), "sub t ( cons x 5 0 ) "));
    EXPECT_TRUE(PrintsAs(num(7), "7 "));
}

TEST_F(Printer, AtomsAndNumbers) {
    EXPECT_TRUE(PrintsAs(atom("f"), "f "));
    EXPECT_TRUE(PrintsAs(atom("'abc"), "'abc "));
    EXPECT_TRUE(PrintsAs(ErrorAtom, "'ERROR!! "));
    EXPECT_TRUE(PrintsAs(nil, "0 "));
    EXPECT_TRUE(PrintsAs(RealZeroNode, "0 "));
    EXPECT_TRUE(PrintsAs(num(-17), "-17 "));
    EXPECT_TRUE(PrintsAs(num(-2147483647 - 1), "-2147483648 "));
    auto real = [](float v) {
        Ref r = takenode();
        node(r).kind = REAL;
        std::memcpy(&node(r).left, &v, sizeof v);
        return r;
    };
    EXPECT_TRUE(PrintsAs(real(1.5f), "1.5 "));
    EXPECT_TRUE(PrintsAs(real(0.1f), "0.1 "));
    EXPECT_TRUE(PrintsAs(real(-2.5f), "-2.5 "));
    EXPECT_TRUE(PrintsAs(real(1e10f), "1e+10 "));
    EXPECT_TRUE(PrintsAs(real(123456789.0f), "1.23457e+08 "));
    EXPECT_TRUE(PrintsAs(real(1.0f / 0.0f), "inf "));
    // A definition not expanded prints as its name.
    Ref d = atom("fact");
    node(d).kind = DEFINITION;
    node(d).left = num(3);
    EXPECT_TRUE(PrintsAs(mk(APP, d, num(5)), "fact 5 "));
}

TEST_F(Printer, ChainsAndLabels) {
    Ref f = atom("f"), g = atom("g"), x = atom("x"), y = atom("y");

    // Application chains: the function part of an application prints flat.
    EXPECT_TRUE(PrintsAs(mk(APP, mk(APP, f, x), mk(APP, g, y)), "f x ( g y ) "));
    EXPECT_TRUE(PrintsAs(mk(APP, mk(LAMBDA, x, x), y), "( lambda x x ) y "));
    EXPECT_TRUE(PrintsAs(mk(APP, f, x), "( f x ) ", true));
    // An operator chain stops at another kind.
    EXPECT_TRUE(PrintsAs(mk(CONS, num(1), mk(LAMBDA, x, x)), "cons 1 ( lambda x x ) "));
    EXPECT_TRUE(PrintsAs(mk(PLUS, num(1), mk(PLUS, num(2), num(3))), "+ 1 2 3 "));
    EXPECT_TRUE(PrintsAs(mk(PLUS, mk(PLUS, num(1), num(2)), num(3)), "+ ( + 1 2 ) 3 "));

    // A shared node ends a chain and prints as an operand with its label.
    Ref inner = mk(LAMBDA, y, x);
    Ref outer = mk(LAMBDA, x, inner);
    EXPECT_TRUE(PrintsAs(mk(CONS, outer, inner),
                         "cons ( lambda x ( " + lab(inner) + " : lambda y x ) ) " + lab(inner) + " "));

    // f f after expansion: both fields hold the one body node.
    Ref body = mk(LAMBDA, x, x);
    Ref self = mk(APP, body, body);
    std::string expected = "( " + lab(body) + " : lambda x x ) " + lab(body) + " ";
    EXPECT_TRUE(PrintsAs(self, expected));
    // The same unchanged graph prints the same text again.
    EXPECT_TRUE(PrintsAs(self, expected));

    // Labels are unique to their node.
    Ref p = mk(APP, f, x), q = mk(APP, g, x);
    EXPECT_TRUE(PrintsAs(mk(CONS, p, mk(CONS, q, mk(CONS, p, q))),
                         "cons ( " + lab(p) + " : f x ) ( " + lab(q) + " : g x ) " + lab(p) + " " +
                             lab(q) + " "));
    EXPECT_NE(p, q);

    // A cycle through the right side of a chain.
    Ref second = mk(CONS, num(2), NoNode);
    Ref first = mk(CONS, num(1), second);
    node(second).right = first;
    EXPECT_TRUE(PrintsAs(first, "( " + lab(first) + " : cons 1 2 " + lab(first) + " ) "));
}

TEST_F(Printer, OneOperandNodesPrintOnlyTheirLeftField) {
    // Reduction replaces the left field of a one-operand node and leaves the
    // old operand in the right one, which the pre-pass still walks.
    Ref f = atom("f"), x = atom("x"), y = atom("y");
    Ref old = mk(CONS, y, mk(APP, f, y));
    Ref k = mk(CAR, mk(APP, f, x), old);
    EXPECT_TRUE(PrintsAs(k, "car ( f x ) "));
    // Also when the old operand is reached twice (a cycle), so that the
    // pre-pass marks it shared.
    Ref ring = mk(CONS, y, NoNode);
    node(ring).right = ring;
    EXPECT_TRUE(PrintsAs(mk(ABS, num(3), ring), "abs 3 "));
    EXPECT_TRUE(PrintsAs(mk(CONS, mk(ABS, num(3), ring), num(4)), "cons ( abs 3 ) 4 "));
}

TEST_F(Printer, CutAfter2000Items) {
    shutdown();
    boot(20, 1000);
    auto list = [](const std::vector<Ref>& items) {
        Ref l = nil;
        for (std::size_t i = items.size(); i-- > 0;) l = mk(CONS, items[i], l);
        return l;
    };
    auto numbers = [](int from, int to) {
        std::string s;
        for (int i = from; i <= to; i++) s += std::to_string(i) + " ";
        return s;
    };

    // "cons" and then 2000 elements: 2001 items.
    std::vector<Ref> items;
    for (int i = 1; i <= 3000; i++) items.push_back(num(i));
    Ref whole = list(items);
    EXPECT_TRUE(PrintsAs(whole, "cons " + numbers(1, 2000)));

    // A sub-term already begun still prints its ")".
    EXPECT_TRUE(PrintsAs(mk(APP, atom("f"), whole), "f ( cons " + numbers(1, 1999) + ") "));

    // A sub-term that starts with the counter at exactly 2000 prints its
    // label and its operator name; shared nodes that the cut leaves
    // unprinted are put back to rest all the same.
    Ref p = mk(PLUS, atom("a"), atom("b"));
    Ref q = mk(APP, atom("g"), atom("y"));
    std::vector<Ref> cut(items.begin(), items.begin() + 1999);
    for (Ref r : {p, p, q, q}) cut.push_back(r);
    EXPECT_TRUE(PrintsAs(list(cut), "cons " + numbers(1, 1999) + "( " + lab(p) + " : + ) "));
    std::vector<Ref> unshared(items.begin(), items.begin() + 1999);
    unshared.push_back(mk(PLUS, atom("a"), atom("b")));
    EXPECT_TRUE(PrintsAs(list(unshared), "cons " + numbers(1, 1999) + "( + ) "));

    // Nesting deeper than the cut: every "( " begun gets its ") ".
    Ref nest = atom("x");
    for (int i = 0; i < 2100; i++) nest = mk(APP, atom("f"), nest);
    std::string deep = "f ";
    for (int i = 0; i < 2000; i++) deep += "( f ";
    for (int i = 0; i < 2000; i++) deep += ") ";
    EXPECT_TRUE(PrintsAs(nest, deep));
    EXPECT_STREQ(poolcheck(), "");
}

// --readback reads a closure back as the lambda it stands for; Ctrl-C while
// it works gives it up, and the line is printed as without the option.
TEST_F(Printer, ReadbackGivesWayToCtrlC) {
    Ref x = atom("x"), y = atom("y");
    Ref closure = mk(SUB, mk(LAMBDA, y, x), mk(CONS, x, mk(CONS, num(5), nil)));
    auto readback = [&] {
        readbackforget();
        outs(readbackline(closure).c_str());
    };
    Captured plain = capture(readback);
    EXPECT_EQ(plain.text, "lambda y 5 ");

    char* said = nullptr;
    std::size_t size = 0;
    std::FILE* errors = open_memstream(&said, &size);
    std::FILE* saved = Diagnostics;
    Diagnostics = errors;
    StatementsStopped = false;
    Interrupts = InterruptsTaken + 1;  // a Ctrl-C waits to be acted on
    Captured given = capture(readback);
    Diagnostics = saved;
    std::fclose(errors);
    std::string diagnostic(said, size);
    std::free(said);
    EXPECT_EQ(given.text, "sub ( lambda y x ) ( cons x 5 0 ) ");
    EXPECT_FALSE(interruptpending());
    EXPECT_TRUE(StatementsStopped);
    EXPECT_NE(diagnostic.find("read-back interrupted: the normal form is printed as it is"),
              std::string::npos) << diagnostic;
    EXPECT_STREQ(poolcheck(), "");
    Interrupts = InterruptsTaken = 0;
    StatementsStopped = false;
}
