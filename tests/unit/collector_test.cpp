// The pool and the collector: the free list's order and state, every root
// the collector keeps (each tested alone, with a control that shows the same
// nodes go once the root lets go), and the pool check catching a broken
// pool.
#include "harness.h"

#include <sys/mman.h>

using Collector = Kestrivo;

namespace {

// The free list in order, at most the pool's size of it.
std::vector<Ref> freelist() {
    std::vector<Ref> out;
    for (Ref r = firstfree(); r != NoNode && out.size() < PoolSize; r = nextfree(r)) out.push_back(r);
    return out;
}

}  // namespace

TEST_F(Collector, StartupPoolAndFreeListOrder) {
    SKIP_IN_STRESS_BUILD();
    // The default pool: 6 blocks; nil and RealZeroNode are positions 1000
    // and 999 of block 5, the first two nodes the list handed out.
    EXPECT_EQ(PoolSize, 6006u);
    EXPECT_EQ(nil, 6005u);
    EXPECT_EQ(RealZeroNode, 6004u);
    EXPECT_EQ(node(nil).kind, INTEGER);
    EXPECT_EQ(node(nil).left, 0u);
    EXPECT_EQ(node(RealZeroNode).kind, REAL);
    EXPECT_EQ(node(RealZeroNode).left, 0u);

    std::uint32_t all = 0;
    capture([&] { all = sweep(true); });
    EXPECT_EQ(all, 6006u);
    std::vector<Ref> list = freelist();
    ASSERT_EQ(list.size(), 6006u);
    for (std::size_t i = 0; i < list.size(); i++) ASSERT_EQ(list[i], Ref(6005 - i));
    shutdown();
    boot(0, 1000);
    EXPECT_EQ(PoolSize, 1001u);
    EXPECT_EQ(nil, 1000u);
    EXPECT_EQ(RealZeroNode, 999u);
}

TEST_F(Collector, SweepRebuildsTheListHighestPositionFirst) {
    SKIP_IN_STRESS_BUILD();
    // Garbage scattered among live nodes: every other node of a long
    // allocation run is kept.
    std::vector<Ref> kept, dropped;
    Ref live = nil;
    for (int i = 0; i < 200; i++) {
        Ref g = num(i);
        dropped.push_back(g);
        live = mk(CONS, num(i), live);
        kept.push_back(live);
    }
    CurrentRoot = live;
    Captured report = capture([] { collect(NoNode, NoNode); });
    std::vector<Ref> list = freelist();
    EXPECT_EQ(report.text, "\nGARBAGE...  END OF MARKING... freenodes = " +
                               std::to_string(list.size()) + "\n");
    EXPECT_EQ(freenodes, list.size());
    for (std::size_t i = 1; i < list.size(); i++)
        ASSERT_GT(list[i - 1], list[i]) << "free list out of order at entry " << i;
    std::vector<bool> on = freeset();
    for (Ref r : dropped) EXPECT_TRUE(on[r]) << "garbage node " << r << " not freed";
    for (Ref r : kept) EXPECT_FALSE(on[r]) << "live node " << r << " freed";
    EXPECT_EQ(atrest(), "");

    // makenode hands out the highest free position, at rest, with exactly
    // the given kind and fields.
    Ref highest = list.front();
    Ref made = mk(TIMES, nil, RealZeroNode);
    EXPECT_EQ(made, highest);
    EXPECT_EQ(node(made).kind, TIMES);
    EXPECT_EQ(node(made).left, nil);
    EXPECT_EQ(node(made).right, RealZeroNode);
    EXPECT_EQ(node(made).walk, 0);
    EXPECT_EQ(node(made).flags, 0);
    EXPECT_EQ(firstfree(), list[1]);
    EXPECT_EQ(freecount(), list.size() - 1);

    // A leaf comes at rest too, whatever the freed node held.
    Ref second = list[1];
    node(second).flags = FinishedFlag | Unexpanded;
    node(second).walk = WalkReached | WalkTwice;
    Ref leaf = takenode();
    EXPECT_EQ(leaf, second);
    EXPECT_EQ(node(leaf).walk, 0);
    EXPECT_EQ(node(leaf).flags, 0);
    EXPECT_EQ(node(leaf).right, NoNode);
}

TEST_F(Collector, NodesTakenTwoAtATimeAreTheListsNextTwo) {
    SKIP_IN_STRESS_BUILD();
    // Live and free nodes in stretches of one to three, so that runs of the
    // free list end everywhere: two nodes taken at once are the next two of
    // the list, and a run holding one node is refused, taking nothing.
    Ref live = nil;
    for (int i = 0; i < 120; i++) {
        for (int k = 0; k < i % 3 + 1; k++) num(i);  // garbage
        for (int k = 0; k < (i + 1) % 3; k++) live = mk(CONS, nil, live);
    }
    CurrentRoot = live;
    collectnow();
    std::vector<Ref> list = freelist();
    ASSERT_GT(list.size(), 200u);
    std::size_t at = 0;
    int refused = 0;
    for (int i = 0; i < 100; i++) {
        Ref first = NoNode, second = NoNode;
        if (taketwo(first, second)) {
            ASSERT_EQ(first, list[at]) << "pair " << i;
            ASSERT_EQ(second, list[at + 1]) << "pair " << i;
            at += 2;
        } else {
            refused++;
            ASSERT_EQ(firstfree(), list[at]) << "a refusal took a node";
            ASSERT_EQ(takenode(), list[at]);
            at++;
        }
        ASSERT_EQ(freecount(), list.size() - at);
    }
    EXPECT_GT(refused, 0) << "no run ended with one node";
}

// Nodes taken after allocplace are given back when nothing leads to them
// and no collection ran: the free list is then as it was, node for node.
// One of them still reached keeps them all taken, and so does a collection
// in between; giving back changes nothing when it is refused.
TEST_F(Collector, NodesTakenSinceAPlaceAreGivenBackWhenNothingLeadsToThem) {
    SKIP_IN_STRESS_BUILD();
    Ref live = nil;  // a used pool: live and free nodes mixed
    for (int i = 0; i < 50; i++) {
        num(i);
        live = mk(CONS, nil, live);
    }
    CurrentRoot = live;
    collectnow();
    const std::vector<Ref> before = freelist();

    AllocPlace place = allocplace();
    for (int i = 0; i < 30; i++) mk(CONS, num(i), nil);
    EXPECT_TRUE(allocgiveback(place));
    EXPECT_EQ(freelist(), before);

    Ref kept = NoNode;
    for (int i = 0; i < 30; i++) kept = mk(CONS, num(i), nil);
    LastResult = kept;
    std::vector<Ref> taken = freelist();
    EXPECT_FALSE(allocgiveback(place));
    EXPECT_EQ(freelist(), taken);
    LastResult = NoNode;
    EXPECT_TRUE(allocgiveback(place));
    EXPECT_EQ(freelist(), before);

    mk(CONS, num(1), nil);
    collectnow();
    taken = freelist();
    EXPECT_FALSE(allocgiveback(place));
    EXPECT_EQ(freelist(), taken);
    EXPECT_STREQ(poolcheck(), "");
}

TEST_F(Collector, MakenodeKeepsTheChildrenOfTheNodeItBuilds) {
    SKIP_IN_STRESS_BUILD();
    Ref a = mk(APP, num(10), mk(LAMBDA, atom("v"), num(11)));
    Ref b = mk(CONS, num(1), mk(CONS, num(2), nil));
    Ref z = mk(APP, num(3), num(4));  // reached by nothing
    Snapshot sa = snapshot(a), sb = snapshot(b), sz = snapshot(z);
    dropfree();  // the list has run out
    Ref c = NoNode;
    Captured report = capture([&] { c = mk(CONS, a, b); });
    EXPECT_EQ(report.text, "\nGARBAGE...  END OF MARKING... freenodes = " +
                               std::to_string(freenodes) + "\n");
    EXPECT_TRUE(Kept("makenode's left child", sa));
    EXPECT_TRUE(Kept("makenode's right child", sb));
    EXPECT_TRUE(Freed("a node reached by nothing", sz, c));  // c may reuse one
    EXPECT_EQ(node(c).left, a);
    EXPECT_EQ(node(c).right, b);
    EXPECT_EQ(freenodes, freelist().size() + 1);  // c was the head
    EXPECT_EQ(atrest(), "");
}

TEST_F(Collector, SharedConstantsAreRoots) {
    SKIP_IN_STRESS_BUILD();
    // With the atom table and the statement roots out of the way, the
    // constants are kept by their own roots, the atoms x and y with them.
    std::int32_t top = AtomTop;
    AtomTop = -1;
    Snapshot t = snapshot(TrueNode), f = snapshot(FalseNode), n = snapshot(nil),
             r = snapshot(RealZeroNode), e = snapshot(ErrorAtom);
    Snapshot garbage = snapshot(mk(CONS, num(5), num(6)));
    collectnow();
    EXPECT_TRUE(Kept("TrueNode", t));
    EXPECT_TRUE(Kept("FalseNode", f));
    EXPECT_TRUE(Kept("nil", n));
    EXPECT_TRUE(Kept("RealZeroNode", r));
    EXPECT_TRUE(Kept("ErrorAtom", e));
    EXPECT_TRUE(Freed("garbage", garbage));
    EXPECT_EQ(t.refs.size(), 4u);  // two lambdas, x, y
    AtomTop = top;
    // Everything start-up built is reachable: the pool less those nodes.
    collectnow();
    EXPECT_EQ(freenodes, 6006u - 9u);  // 4 lambdas, x, y, nil, RealZeroNode, ErrorAtom
}

TEST_F(Collector, StatementRootsAreRoots) {
    SKIP_IN_STRESS_BUILD();
    auto graph = [] { return mk(APP, mk(LAMBDA, atom("p"), num(1)), mk(CONS, num(2), num(3))); };

    Ref g = graph();
    Snapshot current = snapshot(g);
    CurrentRoot = g;
    collectnow();
    EXPECT_TRUE(Kept("CurrentRoot", current));
    CurrentRoot = NoNode;
    AtomTop = StartupAtomTop;  // let go of p as well
    collectnow();
    EXPECT_TRUE(Freed("after CurrentRoot let go", current));

    g = graph();
    Snapshot last = snapshot(g);
    LastResult = g;
    collectnow();
    EXPECT_TRUE(Kept("LastResult", last));
    LastResult = NoNode;
    AtomTop = StartupAtomTop;
    collectnow();
    EXPECT_TRUE(Freed("after LastResult let go", last));
}

TEST_F(Collector, AtomTableEntriesAndDefinitionBodiesAreRoots) {
    SKIP_IN_STRESS_BUILD();
    // An atom only the table names.
    Snapshot name = snapshot(atom("zz"));
    Snapshot text = snapshot(atom("'zz"));
    collectnow();
    EXPECT_TRUE(Kept("an identifier in the atom table", name));
    EXPECT_TRUE(Kept("a string in the atom table", text));

    // A definition and its body, which only the definition reaches.
    setline("d = cons 7 (f 8);");
    int n = yomikomi(0);
    Ref d = NoNode;
    capture([&] { d = defname(n); });
    ASSERT_NE(d, NoNode);
    ASSERT_EQ(node(d).kind, DEFINITION);
    Snapshot def = snapshot(d);
    ASSERT_EQ(def.refs.size(), 6u);  // d, the "cons", 7, the application, f and 8
    collectnow();
    EXPECT_TRUE(Kept("a definition in the atom table", def));

    // Cut back, the table no longer holds them; a term that mentions the
    // definition still keeps its body.
    AtomTop = StartupAtomTop;
    CurrentRoot = mk(APP, d, num(1));
    collectnow();
    EXPECT_TRUE(Kept("a definition a term mentions", def));
    EXPECT_TRUE(Freed("a forgotten identifier", name));
    EXPECT_TRUE(Freed("a forgotten string", text));
    CurrentRoot = NoNode;
    collectnow();
    EXPECT_TRUE(Freed("a forgotten definition", def));
}

TEST_F(Collector, ParserPartialResultsSurviveACollectionAnywhere) {
    // A statement with new names, numbers, groups, operator chains and a
    // unary operator, parsed with the free list running out at every one of
    // its allocations in turn.
    struct Case {
        const char* statement;
        int lo;  // the definition's body starts at slot 2
        const char* text;
    };
    const Case cases[] = {
        {"cons (f 1 (g 2)) (+ 3 (h 4) 5) newa (lambda q (sin (q 6))) 'str;", 0,
         "cons ( f 1 ( g 2 ) ) ( + 3 ( h 4 ) 5 ) newa ( lambda q ( sin ( co1 : q 6 ) ) ) 'str "},
        {"d = app (k 1.5) (car (j 2 3)) (m (n 4;", 2,
         "k 1.5 ( ( car ( co1 : j 2 3 ) ) ( m ( n 4 ) ) ) "},
    };
    for (const Case& c : cases) {
        for (int k = 0;; k++) {
            AtomTop = StartupAtomTop;
            CurrentRoot = LastResult = NoNode;
            collectnow();
            // Leave exactly k nodes on the free list; the rest is garbage.
            // (The stress build collects at every allocation anyway.)
            std::uint32_t take = StressBuild ? 0 : freenodes - std::uint32_t(k);
            for (std::uint32_t i = 0; i < take; i++) takenode();
            setline(c.statement);
            int n = yomikomi(0);
            Ref t = NoNode;
            Captured parse = capture([&] { t = fterm(c.lo, n); });
            ASSERT_EQ(parse.status, -1) << c.statement;
            bool collected = parse.text.find("GARBAGE...") != std::string::npos;
            std::vector<bool> on = freeset();
            for (Ref r : nodesof(t))
                ASSERT_FALSE(on[r]) << "node " << r << " of the term is free; " << k
                                    << " nodes were free when the parse of \"" << c.statement
                                    << "\" began";
            ASSERT_EQ(renamelabels(printed(t)), c.text)
                << k << " nodes were free when the parse began";
            ASSERT_TRUE(collected || k > 0) << "no collection with an empty free list";
            // Once the parse fits in k nodes every point has been tried.
            if (!collected || StressBuild) break;
            ASSERT_LT(k, 100);
        }
    }
}

TEST_F(Collector, PoolCheckFindsABrokenPool) {
    SKIP_IN_STRESS_BUILD();
    EXPECT_STREQ(poolcheck(), "");
    CurrentRoot = mk(CONS, num(5), mk(APP, atom("f"), atom("f")));
    EXPECT_STREQ(poolcheck(), "");
    EXPECT_EQ(atrest(), "");  // the check puts back the marks it sets

    // A node left with a walk bit set: a walk left open.
    Ref body = node(CurrentRoot).right;
    for (std::uint8_t bit : {WalkReached, WalkTwice, WalkDone}) {
        node(body).walk = bit;
        EXPECT_STRNE(poolcheck(), "") << "walk bit " << int(bit);
    }
    node(body).walk = 0;
    // The flags are records, not scratch: any of them is at rest.
    node(body).flags = ReducerFlags;
    EXPECT_STREQ(poolcheck(), "");
    node(body).flags = 0;

    // A node on the free list that is not at rest is no fault: the
    // allocator writes a node whole when it hands it out.
    Ref head = firstfree();
    node(head).walk = WalkReached | WalkDone;
    EXPECT_STREQ(poolcheck(), "");
    node(head).walk = 0;

    // A reachable node put on the free list: its mark cleared, below the
    // run the allocator is handing out.
    collectnow();
    Ref five = node(CurrentRoot).left;
    std::uint64_t word = MarkBits[five / 64];
    std::uint32_t below = FreeBelow;
    MarkBits[five / 64] &= ~(std::uint64_t(1) << (five % 64));
    FreeBelow++;
    bool listed = false;  // below the run being handed out, the list reads the cleared mark
    for (Ref r = firstfree(); r != NoNode && !listed; r = nextfree(r)) listed = r == five;
    ASSERT_TRUE(listed);
    EXPECT_STRNE(poolcheck(), "");
    MarkBits[five / 64] = word;
    FreeBelow = below;
    EXPECT_STREQ(poolcheck(), "");
}

// A path deeper than the mark stack: the run ends without DeepMarking; with
// it, the marking goes on past the stack and frees exactly the nodes no root
// reaches.  Three shapes: a list (the stack past the path holds one entry at
// a time), a left spine of applications with a pair on the right of each
// (the right fields pile up: past the stack they go to the frontier, and
// past the frontier the pool is scanned), and garbage beside them.
TEST_F(Collector, DeepMarkingFreesWhatAnExactMarkingWould) {
    SKIP_IN_STRESS_BUILD();
    shutdown();
    boot(119, 1000);  // 120 blocks: no collection while the graphs are built
    const int depth = 30000;
    Ref one = num(1), two = num(2);
    Ref list = nil;
    for (int i = 0; i < depth; i++) list = mk(CONS, one, list);
    Ref spine = atom("f");
    for (int i = 0; i < depth; i++) spine = mk(APP, spine, mk(CONS, one, two));
    Ref three = num(3);
    Ref garbage = three;  // nothing the roots reach: not even nil
    for (int i = 0; i < 5000; i++) garbage = mk(CONS, three, garbage);
    Snapshot gone = snapshot(garbage);
    CurrentRoot = list;
    LastResult = spine;

    // What a marking must reach: everything the roots lead to.
    std::vector<bool> live(PoolSize, false);
    std::size_t count = 0;
    std::vector<Ref> roots{TrueNode, FalseNode, nil, RealZeroNode, ErrorAtom, CurrentRoot, LastResult};
    for (std::int32_t i = 0; i <= AtomTop; i++) roots.push_back(AtomNode[i]);
    for (Ref root : roots)
        for (Ref r : nodesof(root))
            if (!live[r]) {
                live[r] = true;
                count++;
            }

    DeepMarking = false;
    Captured fatal = capture([] { collect(NoNode, NoNode); });
    EXPECT_EQ(fatal.status, 1);
    EXPECT_NE(fatal.text.find("Stack ga tarimsen!"), std::string::npos) << fatal.text;

    DeepMarking = true;
    std::uint64_t before = DeepMarkings;
    collectnow();
    DeepMarking = false;
    EXPECT_EQ(DeepMarkings, before + 1);
    EXPECT_EQ(freenodes, PoolSize - count);
    EXPECT_TRUE(Freed("garbage", gone));
    std::vector<bool> on = freeset();
    std::size_t kept = 0;
    for (Ref r = 0; r < PoolSize; r++) kept += live[r] && !on[r];
    EXPECT_EQ(kept, count);
    CurrentRoot = LastResult = NoNode;
}

#ifdef KESTRIVO_FIXED_POOL
TEST_F(Collector, PoolWhoseAddressIsTakenIsRefusedWithAReport) {
    // Where the pool has a fixed address, a page already mapped inside its
    // span makes start-up refuse the pool, naming the first block that does
    // not fit below the page, small pool or big; what is mapped there stays
    // as it is, and once it is gone the pool is taken as before.
    shutdown();
    for (std::uintptr_t offset : {std::uintptr_t(0), std::uintptr_t(1) << 20}) {
        void* want = reinterpret_cast<void*>(PoolAddress + offset);
        void* other = mmap(want, 4096, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        ASSERT_EQ(other, want);
        static_cast<char*>(other)[0] = 7;
        std::int64_t fits = std::int64_t(offset / sizeof(Node) / BlockSize);  // 0, then 65 blocks
        EXPECT_EQ(pooltake(200), fits);  // 3.2 MB, asking for large pages
        EXPECT_EQ(pooltake(5), offset == 0 ? 0 : PoolTaken);
        poolrelease();
        EXPECT_EQ(static_cast<char*>(other)[0], 7);
        munmap(other, 4096);
    }
    boot(200, 1000);
    EXPECT_EQ(PoolSize, 201201u);
}
#endif

TEST_F(Collector, BigPoolAndItsListsHoldEveryPositionApart) {
    // 150 blocks (2.4 MB of nodes): the pool and its per-node lists may
    // share one mapping, carved in turn.  Every node and every entry of
    // every list is written with its own value, then all are read back: a
    // list laid over the nodes' end or over another list shows as a value
    // changed.  Then the pool goes back and is taken again, small and big.
    for (int round = 0; round < 2; round++) {
        shutdown();
        boot(149, 1000);
        ASSERT_EQ(PoolSize, 150150u);
        for (Ref r = 0; r < PoolSize; r++) setnode(Pool[r], CONS, r, ~r);
        for (int l = 0; l < PoolListCount; l++)
            for (Ref r = 0; r < PoolSize; r++) PoolLists[l].items[r] = r * PoolListCount + Ref(l);
        std::uint32_t wrong = 0;
        for (Ref r = 0; r < PoolSize; r++)
            if (Pool[r].kind != CONS || Pool[r].left != r || Pool[r].right != ~r) wrong++;
        for (int l = 0; l < PoolListCount; l++)
            for (Ref r = 0; r < PoolSize; r++)
                if (PoolLists[l].items[r] != r * PoolListCount + Ref(l)) wrong++;
        EXPECT_EQ(wrong, 0u);
        shutdown();
        boot(0, 1000);
        EXPECT_EQ(PoolSize, 1001u);
        EXPECT_EQ(nil, 1000u);
    }
}
