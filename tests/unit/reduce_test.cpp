// Reduction properties the printed output cannot show on its own: every
// argument is reduced at most once (call by need), the node that held a
// reducible term is rewritten in place, and callers store the node that
// holds the result back into the field, skipping the indirection.
#include "harness.h"

namespace {

// The four lines of an expression statement, as the statement cycle runs it.
Captured statement(const char* text) {
    setline(text);
    int n = yomikomi(0);
    Captured c = capture([&] { evalexpr(n); });
    c.text = withoutreports(c.text);
    return c;
}

}  // namespace

class Reducing : public Kestrivo {
protected:
    // Parses and expands a statement and makes it the term under reduction.
    Ref term(const char* text) {
        Ref t = expand(parse(text));
        CurrentRoot = t;
        newnodes = 0;
        return t;
    }
    Ref normalized(Ref t) {
        Ref r = NoNode;
        Captured c = capture([&] { r = normalize(t); });
        EXPECT_EQ(c.status, -1);
        Printout = c.text;
        return r;
    }
    std::string Printout;  // what the reduction printed
};

TEST_F(Reducing, AnArgumentIsReducedOnce) {
    // x occurs three times; the argument prints 7 when it is reduced, and
    // it is printed once.
    Captured once = statement("(lambda x (+ x (+ x x))) ((print 7) 0 3);");
    EXPECT_EQ(once.text,
              "( lambda x ( + x x x ) ) ( ( print 7 ) 0 3 ) \n"
              "( lambda x ( + x x x ) ) ( ( print 7 ) 0 3 ) \n"
              "7 9 \n"
              "newnodes = 9\n");

    // The argument node itself is rewritten: into an indirection to 3.
    Ref t = term("(lambda x (+ x x)) ((lambda y y) 3);");
    Ref argument = node(t).right;
    Ref three = node(argument).right;
    Ref result = normalized(t);
    EXPECT_EQ(node(result).kind, INTEGER);
    EXPECT_EQ(std::int32_t(node(result).left), 6);
    EXPECT_EQ(node(argument).kind, IDENT);
    EXPECT_EQ(node(argument).left, three);
    EXPECT_EQ(newnodes, 2 + 1 + 2);

    // An operator argument becomes the number in place.
    t = term("(lambda x (cons x x)) (* 2 3);");
    Ref product = node(t).right;
    result = normalized(t);
    EXPECT_EQ(node(product).kind, INTEGER);
    EXPECT_EQ(std::int32_t(node(product).left), 6);
    EXPECT_EQ(node(result).kind, CONS);
    EXPECT_EQ(node(result).left, product);
    EXPECT_EQ(node(result).right, product);
    EXPECT_EQ(newnodes, 3);
}

TEST_F(Reducing, PrintIsTheExceptionAndPrintsAgain) {
    // "print" is never rewritten: reached through both fields of the pair,
    // it prints twice.
    Captured twice = statement("(lambda x (cons x x)) (print 1);");
    EXPECT_EQ(twice.text,
              "( lambda x ( cons x x ) ) ( print 1 ) \n"
              "( lambda x ( cons x x ) ) ( print 1 ) \n"
              "1 1 cons ( " + lab(FalseNode) + " : lambda x y y ) " + lab(FalseNode) + " \n"
              "newnodes = 3\n");
}

TEST_F(Reducing, ResultsAreStoredBackIntoFields) {
    // (lambda x x) 5: the application becomes an indirection to the 5 node,
    // and normalize returns that node itself.
    Ref t = term("(lambda x x) 5;");
    Ref five = node(t).right;
    Ref result = normalized(t);
    EXPECT_EQ(result, five);
    EXPECT_EQ(node(t).kind, IDENT);
    EXPECT_EQ(node(t).left, five);
    EXPECT_EQ(node(t).right, five);
    EXPECT_EQ(newnodes, 2);

    // A stuck application: its argument field now holds the number, not the
    // indirection that the argument node became.
    t = term("f ((lambda y y) 1);");
    Ref argument = node(t).right;
    Ref one = node(argument).right;
    EXPECT_EQ(normalized(t), t);
    EXPECT_EQ(node(t).right, one);
    EXPECT_EQ(node(argument).kind, IDENT);

    // A stuck operator, both operands.
    t = term("+ ((lambda y y) 1) ((lambda y y) z);");
    Ref left = node(node(t).left).right;
    EXPECT_EQ(normalized(t), t);
    EXPECT_EQ(node(t).kind, PLUS);
    EXPECT_EQ(node(t).left, left);
    EXPECT_EQ(node(t).right, AtomNode[AtomTop]);  // z, the newest name
    EXPECT_STREQ(AtomName[AtomTop], "z");

    // A one-operand node: only the left field takes the result; the right
    // one keeps the old operand.
    t = term("car ((lambda y y) z);");
    Ref operand = node(t).left;
    EXPECT_EQ(normalized(t), t);
    EXPECT_EQ(node(t).kind, CAR);
    EXPECT_EQ(node(node(t).left).kind, IDENTIFIER);
    EXPECT_EQ(node(t).right, operand);
    EXPECT_EQ(node(operand).kind, IDENT);

    // The body of a lambda and the parts of a pair.
    t = term("lambda w ((lambda y y) 1);");
    Ref body = node(t).right;
    Ref bodyone = node(body).right;
    EXPECT_EQ(normalized(t), t);
    EXPECT_EQ(node(t).right, bodyone);
    t = term("cons ((lambda y y) 1) ((lambda y y) 2);");
    Ref head = node(node(t).left).right, tail = node(node(t).right).right;
    EXPECT_EQ(normalized(t), t);
    EXPECT_EQ(node(t).left, head);
    EXPECT_EQ(node(t).right, tail);

    // A chain of indirections is followed to its end and not shortened.
    t = term("ident (ident (ident 7));");
    Ref second = node(t).left;
    Ref third = node(second).left;
    Ref seven = node(third).left;
    Ref r = NoNode;
    capture([&] { r = reduce(t); });
    EXPECT_EQ(r, seven);
    EXPECT_EQ(node(t).left, second);
    EXPECT_EQ(node(second).left, third);
    EXPECT_EQ(node(third).left, seven);
}
