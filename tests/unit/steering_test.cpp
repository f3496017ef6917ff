// Stopping a statement in the middle of its reduction: what the graph looks
// like afterwards is what lets the run go on, and a golden sees it only
// through later answers.  These pin it directly: a rewrite cut short by the
// pool's exhaustion is put back, a print in mid-reduction keeps the finished
// marks, and the step limit stops right after its last step, between
// rewrites, with the count right.
#include "harness.h"

#include "reduce/internal.h"

class Steering : public Kestrivo {
protected:
    void TearDown() override {
        MaxSteps = 0;
        TraceLines = -1;
        Kestrivo::TearDown();
    }
    // Parses and expands a statement and makes it the term under reduction.
    Ref term(const char* text) {
        Ref t = expand(parse(text));
        CurrentRoot = t;
        newnodes = 0;
        return t;
    }
    // Runs the reduction of t and returns the stop it ended with, -1 for none.
    static int reducestop(Ref t) {
        int why = -1;
        Captured c = capture([&] {
            try {
                normalize(t);
            } catch (const StatementStop& stop) {
                why = int(stop.why);
            }
        });
        return why;
    }
};

TEST_F(Steering, ARewriteCutShortByExhaustionIsPutBack) {
    SKIP_IN_STRESS_BUILD();
    Ref t = term("(lambda x x) 3;");
    Ref fn = node(t).left, arg = node(t).right;
    // Everything else the pool holds is made live, but for one free node:
    // the beta rule gets its first node and not its second.
    Ref chain = nil;
    while (freecount() > 1) {
        chain = mk(CONS, nil, chain);
        LastResult = chain;
    }
    EXPECT_EQ(reducestop(t), int(Stop::Exhausted));
    EXPECT_EQ(node(t).kind, SUB);  // as the stop left it: what insatu prints
    endcut(true);
    EXPECT_EQ(node(t).kind, APP);
    EXPECT_EQ(node(t).left, fn);
    EXPECT_EQ(node(t).right, arg);
    forgetfinished();
    EXPECT_EQ(atrest(), "");
    EXPECT_EQ(norecords(), "");
    // With the pool back, the same node reduces to its answer.
    LastResult = NoNode;
    collectnow();
    Captured c = capture([&] { t = normalize(t); });
    EXPECT_EQ(node(t).kind, INTEGER);
    EXPECT_EQ(std::int32_t(node(t).left), 3);
}

TEST_F(Steering, APrintInMidReductionKeepsTheFinishedMarks) {
    Ref t = term("(lambda p (cons p p)) (lambda y y);");
    Captured c = capture([&] { t = normalize(t); });
    ASSERT_EQ(node(t).kind, CONS);
    Ref lam = node(t).left;  // one node in both fields: the print labels it
    ASSERT_EQ(node(t).right, lam);
    ASSERT_EQ(node(lam).flags, FinishedFlag);
    ASSERT_EQ(node(t).flags, FinishedFlag);
    EXPECT_EQ(printed(t), "cons ( " + lab(lam) + " : lambda y y ) " + lab(lam) + " ");
    EXPECT_EQ(node(lam).flags, FinishedFlag);
    EXPECT_EQ(node(t).flags, FinishedFlag);
    EXPECT_EQ(atrest(), "");
    forgetfinished();
    EXPECT_EQ(norecords(), "");
}

TEST_F(Steering, TheStepLimitStopsRightAfterItsLastStep) {
    // (lambda x (* x x)) 3 takes 4 steps: beta, sub-*, lookup, *.
    Ref t = term("(lambda x (* x x)) 3;");
    MaxSteps = 2;
    steerstatement();
    EXPECT_EQ(reducestop(t), int(Stop::Limit));
    EXPECT_EQ(statementsteps(), 2u);
    forgetfinished();
    EXPECT_EQ(atrest(), "");
    EXPECT_EQ(norecords(), "");
    // Reduced on with a new budget, it takes the two steps left.
    MaxSteps = 3;
    steerstatement();
    Ref r = NoNode;
    Captured c = capture([&] { r = normalize(t); });
    EXPECT_EQ(c.status, -1);
    EXPECT_EQ(statementsteps(), 2u);
    ASSERT_EQ(node(r).kind, INTEGER);
    EXPECT_EQ(std::int32_t(node(r).left), 9);

    // One step more than the limit: stopped after the limit's own step.
    t = term("(lambda x (* x x)) 4;");
    MaxSteps = 3;
    steerstatement();
    EXPECT_EQ(reducestop(t), int(Stop::Limit));
    EXPECT_EQ(statementsteps(), 3u);
    forgetfinished();
    // One step less: nothing stops.
    t = term("(lambda x (* x x)) 5;");
    MaxSteps = 5;
    steerstatement();
    EXPECT_EQ(reducestop(t), -1);
    EXPECT_EQ(statementsteps(), 4u);
}
