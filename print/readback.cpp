// Printing a read-back graph (--readback): the normal form with every closure
// the reducer opened printed as "lambda x" and the full normal form it
// opened to (print.h).  The graph it prints is the pool's, seen through the
// opened closures: a closure's fields are not followed, its parameter and
// its opened body are.
//
// Three passes, none of which writes the pool: a count of the nodes the
// print can reach, to find the ones reached twice (labelled as printterm
// labels them); the free variables of the bodies whose parameter is named,
// worked out once a node; and the print.  Their tables are this file's own,
// so the walk bits stay free for whoever else walks.
//
// Names.  A lambda binds its parameter's node (an identifier, interned: one
// node a name) and an opened closure binds the variable of its own it was
// applied to.  A variable prints as the name the nearest lambda around it
// that binds it was given, and as its own name when none does.  A lambda is
// given its parameter's name, unless a variable free in its body prints as
// that name: the lambda would capture it, so it takes another.
#include "print/print.h"

#include "reader/reader.h"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

// Indirections followed in one run before the rest prints as it is: a ring
// of them (a stuck term) would go round for ever.
constexpr int IndirectionRun = 1 << 20;

static const ReadbackGraph* Graph = nullptr;

// r with indirections followed, and a closure the same as one opened
// before taken as that one.
static Ref through(Ref r) {
    for (int k = 0; k < IndirectionRun; k++) {
        if (node(r).kind == IDENT) {
            r = node(r).left;
            continue;
        }
        auto twin = Graph->same.find(r);
        if (twin == Graph->same.end()) break;
        r = twin->second;
    }
    return r;
}

static bool isclosure(const Node& n) { return n.kind == SUB && node(n.left).kind == LAMBDA; }

// How a node prints, read back (or, raw, as printterm prints it): what it
// binds, the fields the print goes on to and whether each prints raw, or
// "..." for a node the read-back did not finish.  An opened closure goes on
// to its parameter and its body; a lambda's parameter that is no name, and
// whatever a stuck "sub" or a ring of indirections holds, print raw.
struct Shape {
    bool cut = false;
    Ref binds = NoNode;
    Ref fields[2] = {NoNode, NoNode};
    bool raw[2] = {false, false};
};

static Shape shapeof(Ref r, bool raw) {
    const Node& n = node(r);
    Shape s;
    if (!raw && !Graph->reached.count(r)) {
        s.cut = true;
        return s;
    }
    if (!raw && isclosure(n)) {
        const Opened& o = Graph->opened.at(r);  // a closure reached is opened
        if (o.param == NoNode) s.binds = o.variable;
        else s.fields[0] = o.param;
        s.fields[1] = o.body;
        return s;
    }
    if (n.kind == LAMBDA) {
        // The parameter is a field as well: a lambda printed raw prints it
        // ("lambda x y x"), and one whose parameter is no name binds nothing.
        if (node(n.left).kind == IDENTIFIER) s.binds = n.left;
        s.fields[0] = n.left;
        s.raw[0] = true;
        s.fields[1] = n.right;
        s.raw[1] = raw;
        return s;
    }
    bool inside = raw || n.kind == SUB || n.kind == IDENT;
    s.fields[0] = n.left;
    s.raw[0] = inside;
    if (!isoneoperand(n.kind)) {  // a one-operand node's right field is past
        s.fields[1] = n.right;
        s.raw[1] = inside;
    }
    return s;
}

// ---- the count: nodes reached twice ----------------------------------------
static std::unordered_map<Ref, int> Reached;  // 1 once, 2 twice or more

static void countreach(Ref term) {
    std::vector<std::pair<Ref, bool>> todo{{term, false}};
    while (!todo.empty()) {
        auto [r, raw] = todo.back();
        todo.pop_back();
        r = through(r);
        if (!isinner(node(r).kind)) continue;
        int& k = Reached[r];
        if (k++ > 0) {
            k = 2;
            continue;
        }
        Shape s = shapeof(r, raw);
        for (int i = 1; i >= 0; i--)
            if (s.fields[i] != NoNode) todo.emplace_back(s.fields[i], s.raw[i]);
    }
}

// ---- free variables ----------------------------------------------------------
// The free variables of each node, sorted, worked out after those of the
// nodes below it without recursion (a list may be as long as the pool).  A
// node met again below itself (a cycle) counts as having none there: a
// cycle adds no variable that its nodes do not have already.  A node read
// back and printed raw has one entry, made the way it was first met.
static std::unordered_map<Ref, std::vector<Ref>> Free;

static const std::vector<Ref>& freevars(Ref root, bool rootraw) {
    root = through(root);
    struct Frame {
        Ref r;
        bool raw;
        bool opened;
    };
    std::vector<Frame> stack{{root, rootraw, false}};
    std::unordered_set<Ref> open;
    while (!stack.empty()) {
        Frame f = stack.back();
        if (Free.count(f.r)) {
            stack.pop_back();
            continue;
        }
        const Node& n = node(f.r);
        if (!isinner(n.kind)) {
            Free[f.r] = n.kind == IDENTIFIER ? std::vector<Ref>{f.r} : std::vector<Ref>{};
            stack.pop_back();
            continue;
        }
        Shape s = shapeof(f.r, f.raw);
        if (!f.opened) {
            stack.back().opened = true;
            open.insert(f.r);
            for (int i = 0; i < 2; i++) {
                if (s.fields[i] == NoNode) continue;
                Ref c = through(s.fields[i]);
                if (!Free.count(c) && !open.count(c)) stack.push_back({c, s.raw[i], false});
            }
            continue;
        }
        std::vector<Ref> vars;
        for (Ref c : s.fields) {
            if (c == NoNode) continue;
            auto it = Free.find(through(c));
            if (it == Free.end()) continue;  // a cycle back to a node still open
            std::vector<Ref> both;
            std::set_union(vars.begin(), vars.end(), it->second.begin(), it->second.end(), std::back_inserter(both));
            vars.swap(both);
        }
        if (s.binds != NoNode) vars.erase(std::remove(vars.begin(), vars.end(), s.binds), vars.end());
        Free[f.r] = std::move(vars);
        open.erase(f.r);
        stack.pop_back();
    }
    return Free[root];
}

// ---- names ---------------------------------------------------------------------
// The lambdas around the node being printed, innermost last: what each binds
// and the name it was given.
static std::vector<std::pair<Ref, std::string>> Scope;

static std::string nameof(Ref v) {
    for (auto it = Scope.rbegin(); it != Scope.rend(); ++it)
        if (it->first == v) return it->second;
    return AtomName[node(v).right];
}

static bool isatomname(const std::string& s) {
    for (int i = 0; i <= AtomTop; i++)
        if (s == AtomName[i]) return true;
    return false;
}

// The name for a lambda binding v over body: v's own, or when a free
// variable of body prints as that, x', x'', then x1, x2 ... within 8
// characters, none a name the program has or one the body's free
// variables print as.
static std::string namefor(Ref v, Ref body, bool raw) {
    std::string x = AtomName[node(v).right];
    std::unordered_set<std::string> taken;
    for (Ref w : freevars(body, raw))
        if (w != v) taken.insert(nameof(w));
    if (!taken.count(x)) return x;
    for (std::string s = x; s.size() < std::size_t(MaxWord);) {
        s += "'";
        if (!taken.count(s) && !isatomname(s)) return s;
    }
    for (int k = 1;; k++) {
        std::string digits = std::to_string(k);
        std::string s = x.substr(0, std::min(x.size(), std::size_t(MaxWord) - digits.size())) + digits;
        if (!taken.count(s) && !isatomname(s)) return s;
    }
}

// ---- the print -------------------------------------------------------------------
static std::string Line;
static int Items = 0;
static std::unordered_set<Ref> Printed;

static void word(const std::string& s) {
    Line += s;
    Line += ' ';
}

static void rbatom(Ref r) {
    const Node& n = node(r);
    char text[32];
    if (n.kind == INTEGER) {
        std::snprintf(text, sizeof text, "%d", std::int32_t(n.left));
        word(text);
    } else if (n.kind == REAL) {
        std::snprintf(text, sizeof text, "%g", double(realvalue(n.left)));
        word(text);
    } else if (n.kind == IDENTIFIER) {
        word(nameof(r));
    } else {
        word(AtomName[n.right]);
    }
}

static void rbnode(Ref r, bool paren, bool raw);

// Whether r (indirections followed) is a lambda, or a closure read back as
// one, that the chain of lambdas before it may take in: finished, not
// printed yet, not shared.
static bool chainable(Ref r) {
    const Node& n = node(r);
    return (n.kind == LAMBDA || isclosure(n)) && Graph->reached.count(r) && !Printed.count(r) && Reached[r] < 2;
}

// A lambda, or a closure read back as one, and the lambdas its body holds
// straight away: "lambda x y body".  Each binds its parameter over what
// follows it in the chain.
static void rblambdas(Ref r) {
    word("lambda");
    Items++;
    std::size_t bound = Scope.size();
    for (;;) {
        Shape s = shapeof(r, false);
        if (s.binds != NoNode) {
            std::string name = namefor(s.binds, s.fields[1], s.raw[1]);
            Scope.emplace_back(s.binds, name);
            word(name);
            Items++;
        } else {
            rbnode(s.fields[0], true, s.raw[0]);
        }
        Ref next = through(s.fields[1]);
        if (s.raw[1] || !chainable(next) || Items > PrintItemLimit) {
            rbnode(s.fields[1], true, s.raw[1]);
            break;
        }
        Printed.insert(next);
        r = next;
    }
    Scope.resize(bound);
}

static void rbnode(Ref r, bool paren, bool raw) {
    stackguard();
    if (Items > PrintItemLimit) return;
    r = through(r);
    const Node& n = node(r);
    if (!isinner(n.kind)) {
        rbatom(r);
        Items++;
        return;
    }
    char label[32];
    if (Printed.count(r)) {
        std::snprintf(label, sizeof label, "co%u", r);
        word(label);
        return;
    }
    Shape s = shapeof(r, raw);
    if (s.cut) {
        word("...");
        Items++;
        return;
    }
    Printed.insert(r);
    bool shared = Reached[r] > 1;
    if (paren || shared) word("(");
    if (shared) {
        std::snprintf(label, sizeof label, "co%u :", r);
        word(label);
        Items++;
    }
    if (!raw && (n.kind == LAMBDA || isclosure(n))) {
        rblambdas(r);
    } else if (isoneoperand(n.kind)) {
        word(OperatorTable[n.kind]);
        Items++;
        rbnode(s.fields[0], true, s.raw[0]);
    } else if (n.kind == APP) {
        rbnode(s.fields[0], node(through(s.fields[0])).kind != APP, s.raw[0]);
        rbnode(s.fields[1], true, s.raw[1]);
    } else {
        // An operator with its operands, a right-nested chain of the same
        // operator printed flat: "cons 1 2 3 0", and raw, "lambda x y x".
        word(OperatorTable[n.kind]);
        Items++;
        rbnode(s.fields[0], true, s.raw[0]);
        bool inside = s.raw[1];
        Ref next = through(s.fields[1]);
        while (node(next).kind == n.kind && !Printed.count(next) && Reached[next] < 2 && Items <= PrintItemLimit) {
            Shape t = shapeof(next, inside);
            if (t.cut) break;
            Printed.insert(next);
            rbnode(t.fields[0], true, t.raw[0]);
            inside = t.raw[1];
            next = through(t.fields[1]);
        }
        rbnode(next, true, inside);
    }
    if (paren || shared) word(")");
}

std::string readbacktext(Ref term, const ReadbackGraph& graph) {
    struct Clear {
        ~Clear() {
            Graph = nullptr;
            Reached.clear();
            Free.clear();
            Scope.clear();
            Printed.clear();
            Line.clear();
        }
    } clear;
    Graph = &graph;
    Items = 0;
    countreach(term);
    rbnode(term, false, false);
    return Line;
}
