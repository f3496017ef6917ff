// Walks over the graph: the reach pass's order and its marks, and the
// promise every walker makes: it touches only the walk bits, so the
// reducer's records and a definition's state are as they were when a print,
// a picture or the stuck-operator warning ends, and no walk bit is left set,
// not even when a stop cuts the walk short.
#include "harness.h"

#include <cstdio>
#include <cstdlib>

// The graphs here are built by hand.  Every node a test builds is held
// among the parser's roots, as a partial term is, so that a collection
// (before every allocation, in the stress build) keeps the whole graph.
class Walk : public Kestrivo {
protected:
    static Ref held(Ref r) {
        ParseRoots[ParseRootTop++] = r;  // a few dozen nodes: the table has a slot per token
        return r;
    }
    static Ref mk(std::int32_t kind, Ref left, Ref right) { return held(Kestrivo::mk(kind, left, right)); }
    static Ref num(std::int32_t v) { return held(Kestrivo::num(v)); }

    void TearDown() override {
        WarnOn = false;
        Kestrivo::TearDown();
    }

    // What work writes on a stream of its own, and on Diagnostics.
    struct Written {
        std::string text, diagnostics;
    };
    static Written written(const std::function<void(std::FILE*)>& work) {
        char *text = nullptr, *diag = nullptr;
        std::size_t textsize = 0, diagsize = 0;
        std::FILE* to = open_memstream(&text, &textsize);
        std::FILE* saved = Diagnostics;
        Diagnostics = open_memstream(&diag, &diagsize);
        work(to);
        std::fclose(Diagnostics);
        Diagnostics = saved;
        std::fclose(to);
        Written w{std::string(text, textsize), std::string(diag, diagsize)};
        std::free(text);
        std::free(diag);
        return w;
    }

    // Everything a walker makes of t: its print, its picture, the warnings
    // about its stuck operators, and its trace-style print on another stream.
    static std::string walked(Ref t) {
        Written w = written([&](std::FILE* to) {
            printtermto(to, t, false);
            std::fputs("\n", to);
            writedot(t, to, "walked");
            warnstuck(t, 7);
        });
        return w.text + w.diagnostics + printed(t);
    }

    // The flags of every node of the pool.
    static std::vector<std::uint8_t> flagsnow() {
        std::vector<std::uint8_t> f(PoolSize);
        for (Ref r = 0; r < PoolSize; r++) f[r] = node(r).flags;
        return f;
    }
};

TEST_F(Walk, TheReachPassMeetsNodesInPrintOrderAndMarksTheSharedOnes) {
    //   a = app(b, c), b = app(d, e), c = cons(d, s), s = sin(e) with e in
    //   both its fields; d and e hold leaves.
    Ref d = mk(CONS, num(1), num(2));
    Ref e = mk(CONS, atom("x"), atom("y"));
    Ref b = mk(APP, d, e);
    Ref s = mk(SIN, e, e);
    Ref c = mk(CONS, d, s);
    Ref a = mk(APP, b, c);

    walkreach(a, WalkFields::Both);
    ASSERT_EQ(walkcount(), 6u);
    std::vector<Ref> order;
    for (std::size_t i = 0; i < walkcount(); i++) order.push_back(walknode(i));
    EXPECT_EQ(order, (std::vector<Ref>{a, b, d, e, c, s}));
    for (Ref r : order) EXPECT_TRUE(isreached(r)) << r;
    // d is met from b and from c; e from b and twice from s, whose old
    // operand the printer counts as a use.
    for (Ref r : order) EXPECT_EQ(istwice(r), r == d || r == e) << r;
    walkend();
    EXPECT_EQ(atrest(), "");

    // Following only the fields that count, s's right field is not a use.
    walkreach(a, WalkFields::Live);
    EXPECT_EQ(walkcount(), 6u);
    EXPECT_TRUE(istwice(d));
    EXPECT_TRUE(istwice(e));  // from b and from s's left field
    walkend();
    walkreach(s, WalkFields::Live);
    EXPECT_FALSE(istwice(e));
    walkend();
    EXPECT_EQ(atrest(), "");

    // A leaf, a definition included, is never marked: the walk stops there.
    Ref def = atom("dd");
    makedefinition(def, a);
    walkreach(def, WalkFields::Both);
    EXPECT_EQ(walkcount(), 0u);
    walkend();
    EXPECT_EQ(atrest(), "");
}

TEST_F(Walk, PrintsPicturesAndWarningsLeaveEveryRecordAsItWas) {
    // Every shape a walker meets: a shared application, the one-operand node
    // over it, a ring, a closure with its environment, an operator stuck on
    // an integer and a string, and two definitions, one not yet expanded.
    Ref shared = mk(APP, atom("f"), num(2));
    Ref one = mk(SIN, shared, shared);
    Ref ring = mk(CONS, num(1), nil);
    node(ring).right = ring;
    Ref env = mk(CONS, atom("x"), mk(CONS, num(5), nil));
    Ref closure = mk(SUB, mk(LAMBDA, atom("y"), atom("x")), env);
    Ref stuck = mk(PLUS, num(1), atom("'a"));
    Ref waiting = atom("dw");
    makedefinition(waiting, mk(APP, atom("g"), shared));
    Ref expanded = atom("de");
    makedefinition(expanded, ring);
    node(expanded).flags = 0;
    Ref t = mk(CONS, one, mk(CONS, ring, mk(CONS, closure, mk(CONS, stuck,
                                                                mk(CONS, waiting, mk(CONS, expanded, nil))))));
    WarnOn = true;
    std::string plain = walked(t);
    ASSERT_NE(plain.find("co" + std::to_string(shared)), std::string::npos);
    ASSERT_NE(plain.find("'+' is left unreduced"), std::string::npos);

    // Every combination of the reducer's records, spread over the inner
    // nodes; the definitions keep theirs.
    std::vector<Ref> nodes = nodesof(t);
    int i = 0;
    for (Ref r : nodes)
        if (isinner(node(r).kind)) node(r).flags = std::uint8_t((i++ % 8) << 1);
    ASSERT_GE(i, 8);
    node(waiting).flags |= ReducerFlags;
    std::vector<std::uint8_t> before = flagsnow();

    EXPECT_EQ(walked(t), plain);  // the records change nothing a walker shows
    EXPECT_EQ(flagsnow(), before);
    EXPECT_EQ(atrest(), "");
}

TEST_F(Walk, AStopInTheMiddleOfAPrintEndsItsWalk) {
    Ref shared = mk(APP, atom("f"), num(2));
    Ref t = mk(CONS, mk(SIN, shared, shared), shared);
    node(shared).flags = FinishedFlag | LookupFlag;
    // A depth guard that every frame below this one passes: the print pass
    // stops at its first node, after the reach pass has marked them all.
    char here;
    char* saved = StackLimit;
    StackLimit = &here + 1;
    Captured c = capture([&] { printterm(t, false); });
    StackLimit = saved;
    EXPECT_EQ(c.text.rfind("depth is overflow in ", 0), 0u) << c.text;
    EXPECT_EQ(atrest(), "");
    EXPECT_EQ(node(shared).flags, FinishedFlag | LookupFlag);
}
