// The unit-test fixture: the interpreter's state as start-up leaves it, set
// up afresh for every test in this process, and one helper per component
// (tokenizer, parser, printer, pool) that reports input, expected and actual
// text when a check fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "print/print.h"
#include "reader/reader.h"
#include "reduce/internal.h"
#include "store/store.h"

// The stress build collects before every allocation, so a test that builds
// nodes by hand and holds them only in local variables, or that counts on
// the order in which the free list hands nodes out, does not apply there.
#ifdef KESTRIVO_STRESS_GC
#define SKIP_IN_STRESS_BUILD() GTEST_SKIP() << "every allocation collects in this build"
constexpr bool StressBuild = true;
#else
#define SKIP_IN_STRESS_BUILD() ((void)0)
constexpr bool StressBuild = false;
#endif

// What a piece of work printed, and the status when it ended the run.
struct Captured {
    std::string text;
    int status = -1;  // -1: the run did not end
};

// Runs work with Output sent to a fresh memory stream.
inline Captured capture(const std::function<void()>& work) {
    Captured c;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* saved = Output;
    std::FILE* stream = open_memstream(&buffer, &size);
    Output = stream;
    try {
        try {
            work();
        } catch (const StatementStop& stop) {  // as the statement cycle ends it
            endstatement(stop.why);
        }
    } catch (const RunEnd& end) {
        c.status = end.status;
    }
    Output = saved;
    std::fclose(stream);
    c.text.assign(buffer, size);
    std::free(buffer);
    return c;
}

// The text with the collector's reports taken out, in the stress build only,
// where every allocation prints one.
inline std::string withoutreports(std::string text) {
    if (!StressBuild) return text;
    const std::string head = "\nGARBAGE...  END OF MARKING... freenodes = ";
    for (std::size_t at; (at = text.find(head)) != std::string::npos;) {
        std::size_t end = text.find('\n', at + head.size());
        text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    }
    return text;
}

// Sharing labels "co<digits>" renamed to co1, co2, ... in order of first
// appearance, for comparing prints of two different graphs.
inline std::string renamelabels(const std::string& text) {
    std::vector<std::string> seen;
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool label = text.compare(i, 2, "co") == 0 && i + 2 < text.size() &&
                     text[i + 2] >= '0' && text[i + 2] <= '9' &&
                     (i == 0 || text[i - 1] == ' ');
        if (!label) {
            out += text[i++];
            continue;
        }
        std::size_t j = i + 2;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') j++;
        std::string name = text.substr(i, j - i);
        std::size_t k = 0;
        while (k < seen.size() && seen[k] != name) k++;
        if (k == seen.size()) seen.push_back(name);
        out += "co" + std::to_string(k + 1);
        i = j;
    }
    return out;
}

// The label a node prints with.
inline std::string lab(Ref r) { return "co" + std::to_string(r); }

class Kestrivo : public ::testing::Test {
protected:
    void SetUp() override { boot(5, 1000); }
    void TearDown() override { shutdown(); }

    // The state start-up gives with lastblock+1 blocks and tokens slots, the
    // program text empty.
    void boot(std::int32_t lastblock, std::int32_t tokens) {
        Log = std::fopen("/dev/null", "w");
        ASSERT_NE(Log, nullptr);
        Output = Log;
        resetstate();
        feed("");
        ASSERT_EQ(pooltake(lastblock), PoolTaken);
        poolstart();
        readerstart(tokens);
        listroots();
        freenodes = sweep(true);
        makenumberconstants();
        maketermconstants();
    }

    void shutdown() {
        poolrelease();
        readerrelease();
        if (Input != nullptr) std::fclose(Input);
        Input = nullptr;
        InputStream = nullptr;
        if (Log != nullptr) std::fclose(Log);
        Log = nullptr;
        Output = stdout;
    }

    // Replaces the rest of the program text.
    void feed(const std::string& text) {
        if (Input != nullptr) std::fclose(Input);
        InputText = text.empty() ? std::string(" ") : text;
        Input = fmemopen(InputText.data(), text.empty() ? 0 : InputText.size(), "r");
        ASSERT_NE(Input, nullptr);
        InputStream = Input;
    }

    // ---- tokenizer -----------------------------------------------------
    struct Tokens {
        int last = -2;                  // what yomikomi returned
        std::vector<std::string> slot;  // slots 0..last
        std::string echo;               // what the call printed
        int status = -1;                // set when the call ended the run
    };

    // One yomikomi call from slot 0 on what LineBuffer and the program text
    // hold now.
    Tokens next() {
        Tokens t;
        Captured c = capture([&] { t.last = yomikomi(0); });
        t.echo = c.text;
        t.status = c.status;
        for (int i = 0; i <= t.last; i++) t.slot.push_back(starray[i]);
        return t;
    }

    // The first statement of text, read as input lines.
    Tokens tokenize(const std::string& text) {
        setline("");
        feed(text);
        return next();
    }

    static std::string show(const std::vector<std::string>& v) {
        std::string s = "[";
        for (std::size_t i = 0; i < v.size(); i++) s += (i ? ", \"" : "\"") + v[i] + "\"";
        return s + "]";
    }

    // The tokens of the first statement of input are exactly expected.
    ::testing::AssertionResult TokensAre(const std::string& input,
                                         const std::vector<std::string>& expected) {
        Tokens t = tokenize(input);
        if (t.status < 0 && t.slot == expected && t.last == int(expected.size()) - 1)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "input: \"" << input << "\"\n  expected: " << show(expected)
               << " (result " << int(expected.size()) - 1 << ")\n  actual:   " << show(t.slot)
               << " (result " << t.last << (t.status >= 0 ? ", the run ended" : "") << ")";
    }

    // ---- parser ----------------------------------------------------------
    int LastSlot = -1;  // the statement's last slot, as yomikomi returned it

    // Tokenizes one statement (which must end with ";") and parses it.
    Ref parse(const char* statement) {
        setline(statement);
        LastSlot = yomikomi(0);
        return fterm(0, LastSlot);
    }

    // The graph below r written out from kinds and fields: an inner node as
    // (kind left right), both fields shown whatever the kind; the shared
    // constants by name; identifiers and strings by their AtomTable name; an
    // integer by its value; a real as r<value>.  Cycles are cut at depth 40.
    static std::string shape(Ref r, int depth = 0) {
        if (r == NoNode) return "NULL";
        if (depth > 40) return "...";
        if (r == ErrorAtom) return "ErrorAtom";
        if (r == nil) return "nil";
        if (r == RealZeroNode) return "RealZeroNode";
        if (r == TrueNode) return "TrueNode";
        if (r == FalseNode) return "FalseNode";
        const Node& n = node(r);
        if (isinner(n.kind))
            return "(" + std::to_string(n.kind) + " " + shape(n.left, depth + 1) + " " +
                   shape(n.right, depth + 1) + ")";
        switch (n.kind) {
        case INTEGER:
            return std::to_string(std::int32_t(n.left));
        case REAL: {
            float f;
            std::memcpy(&f, &n.left, sizeof f);
            char text[32];
            std::snprintf(text, sizeof text, "r%g", double(f));
            return text;
        }
        case IDENTIFIER:
        case STRING:
        case DEFINITION:
            if (n.right < std::uint32_t(AtomCapacity)) return AtomName[n.right];
            return "BADATOM";
        default:
            return "BADKIND" + std::to_string(n.kind);
        }
    }

    ::testing::AssertionResult ParsesAs(const char* statement, const std::string& expected) {
        Ref t = parse(statement);
        std::string actual = shape(t);
        if (actual == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "statement: \"" << statement
                                             << "\"\n  expected: " << expected
                                             << "\n  actual:   " << actual;
    }

    // ---- printer ---------------------------------------------------------
    static std::string printed(Ref t, bool paren = false) {
        return capture([&] { printterm(t, paren); }).text;
    }

    // Every node of the pool at rest but the free ones (whose bits are stale
    // until the allocator hands them out): its walk bits zero, no walk left
    // open.
    static std::string atrest() {
        std::vector<bool> free = freeset();
        for (Ref r = 0; r < PoolSize; r++)
            if (!free[r] && node(r).walk != 0)
                return "node " + std::to_string(r) + " has walk bits " + std::to_string(node(r).walk);
        return "";
    }

    // No node off the free list carries a record of the reducer's.
    static std::string norecords() {
        std::vector<bool> free = freeset();
        for (Ref r = 0; r < PoolSize; r++)
            if (!free[r] && (node(r).flags & ReducerFlags) != 0)
                return "node " + std::to_string(r) + " has flags " + std::to_string(node(r).flags);
        return "";
    }

    // t prints exactly as expected, and leaves every node at rest.
    static ::testing::AssertionResult PrintsAs(Ref t, const std::string& expected,
                                               bool paren = false) {
        std::string actual = printed(t, paren);
        std::string rest = atrest();
        if (actual == expected && rest.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "term: " << shape(t) << "\n  expected: \""
                                             << expected << "\"\n  actual:   \"" << actual
                                             << "\"" << (rest.empty() ? "" : "\n  after: " + rest);
    }

    // ---- pool ------------------------------------------------------------
    static Ref mk(std::int32_t kind, Ref left, Ref right) { return makenode(left, right, kind); }
    static Ref num(std::int32_t v) {
        Ref r = takenode();
        node(r).kind = INTEGER;
        node(r).left = std::uint32_t(v);
        return r;
    }
    static Ref atom(const char* name) { return fatom(name); }

    // Which nodes are on the free list (walking at most the pool's size).
    static std::vector<bool> freeset() {
        std::vector<bool> on(PoolSize, false);
        Ref r = firstfree();
        for (Ref steps = 0; r != NoNode && steps < PoolSize; steps++, r = nextfree(r)) on[r] = true;
        return on;
    }

    // The nodes reachable from t through the fields of inner nodes and
    // through a definition's body, each once.
    static std::vector<Ref> nodesof(Ref t) {
        std::vector<Ref> out;
        std::vector<bool> seen(PoolSize, false);
        std::vector<Ref> todo{t};
        while (!todo.empty()) {
            Ref r = todo.back();
            todo.pop_back();
            if (r == NoNode || r >= PoolSize || seen[r]) continue;
            seen[r] = true;
            out.push_back(r);
            const Node& n = node(r);
            if (isinner(n.kind)) {
                todo.push_back(n.left);
                todo.push_back(n.right);
            } else if (n.kind == DEFINITION) {
                todo.push_back(n.left);
            }
        }
        return out;
    }

    struct Snapshot {
        std::vector<Ref> refs;
        std::vector<Node> content;
    };
    static Snapshot snapshot(Ref t) {
        Snapshot s;
        s.refs = nodesof(t);
        for (Ref r : s.refs) s.content.push_back(node(r));
        return s;
    }

    // Every node of the snapshot survived: not on the free list, kind and
    // the fields that its kind gives a meaning unchanged, at rest.
    static ::testing::AssertionResult Kept(const char* root, const Snapshot& s) {
        std::vector<bool> on = freeset();
        for (std::size_t i = 0; i < s.refs.size(); i++) {
            Ref r = s.refs[i];
            const Node& was = s.content[i];
            const Node& is = node(r);
            bool fields = is.kind == was.kind;
            if (isinner(is.kind) || is.kind == DEFINITION)
                fields = fields && is.left == was.left && is.right == was.right;
            else if (is.kind == IDENTIFIER || is.kind == STRING)
                fields = fields && is.right == was.right;
            else
                fields = fields && is.left == was.left;
            if (on[r] || !fields || is.walk != 0)
                return ::testing::AssertionFailure()
                       << "root " << root << ": node " << r << " (kind " << was.kind << ")"
                       << (on[r] ? " is on the free list" : " changed");
        }
        return ::testing::AssertionSuccess();
    }

    // Every node of the snapshot is on the free list (or is the node
    // handed out since, when there is one).
    static ::testing::AssertionResult Freed(const char* what, const Snapshot& s,
                                            Ref handedout = NoNode) {
        std::vector<bool> on = freeset();
        for (Ref r : s.refs)
            if (!on[r] && r != handedout)
                return ::testing::AssertionFailure()
                       << what << ": node " << r << " (kind " << node(r).kind
                       << ") was not freed";
        return ::testing::AssertionSuccess();
    }

    // A collection with no extra roots, its report thrown away.
    static void collectnow() { capture([] { collect(NoNode, NoNode); }); }

    std::FILE* Log = nullptr;
    std::FILE* Input = nullptr;
    std::string InputText;
};
