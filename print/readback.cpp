// Reading closures back (--readback): the normal-form line with every closure
// sub(lambda x B, E) printed as the plain lambda term it stands for, B with
// the values E binds put in for the variables.
//
// Nothing is built in the pool.  The walk carries a frame: the closures it
// has entered (whose environments bind variables) and the lambdas whose
// parameters it had to rename or that hide a binding of the same name.  A
// variable is looked up through the frame, newest first; a value is printed
// in the frame of the closure it came from.  A node printed in one frame is
// one printed term, so sharing is found per node and frame, and a node met
// twice is labelled "co<position>" as the printer labels it.  A cycle that
// leads back into a closure or lambda already entered on the way is a
// reference to where it was entered, so cyclic graphs print in finite text.
//
// Renaming: a lambda's parameter is renamed (a prime, or digits, within 8
// characters) only when a value put into its body names a free variable of
// the same name, which the parameter would otherwise capture.
#include "print/print.h"

#include "reader/reader.h"

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The walk gives up finding more sharing after this many node-and-frame
// pairs: far more than a print of 2000 items can show, and a bound on the
// work for graphs whose frames multiply.
constexpr std::size_t ReadbackPairLimit = 1000000;
// Names walked when looking for the variables a value or a body uses.
constexpr std::size_t NameWalkLimit = 100000;

// Ctrl-C while the read-back walks: it is given up (ReadbackStopped).
struct ReadbackStopped {};
static inline void interruptible() {
    if (interruptpending()) throw ReadbackStopped{};
}

// One frame entry: a closure entered (sub set) or a lambda's parameter
// printed under a name of its own (lambda set).
struct Frame {
    int parent;        // -1 for the empty frame's parent
    Ref sub;           // a closure, or NoNode
    Ref lambda;        // a lambda whose parameter this binds, or NoNode
    std::string name;  // the parameter's printed name
};

static std::vector<Frame> Frames;
static std::map<std::tuple<int, Ref, Ref, std::string>, int> FrameIndex;

struct PairState {
    int reached = 0;
    bool printed = false;
    std::uint64_t label = 0;
};
static std::unordered_map<std::uint64_t, PairState> Pairs;
static std::unordered_map<Ref, int> FirstFrame;  // the frame a node was first labelled in
static bool Counting = false;  // the pre-pass: counting reaches, printing nothing
static int Items = 0;

static int framefor(int parent, Ref sub, Ref lambda, const std::string& name) {
    auto key = std::make_tuple(parent, sub, lambda, name);
    auto it = FrameIndex.find(key);
    if (it != FrameIndex.end()) return it->second;
    Frames.push_back(Frame{parent, sub, lambda, name});
    int id = int(Frames.size()) - 1;
    FrameIndex[key] = id;
    return id;
}

// Looking variables up.  A statement's normal form may hold a closure whose
// environment has a binding for every call that led to it, and a variable
// bound past them used all over its body: a walk down the environment for
// every use made the read-back take the product of the two.  So every
// answer is kept: for an environment's binding cell and a variable, the
// value the environment from that cell binds it to; for a frame and a
// variable, what it stands for there.  A walk stops where it meets a kept
// answer and leaves one at every cell or frame it passed, so each cell and
// each frame is walked at most once per variable, and a program has at most
// AtomCapacity variables.
static inline std::uint64_t lookupkey(std::uint32_t where, Ref v) { return (std::uint64_t(where) << 32) | v; }
static std::unordered_map<std::uint64_t, Ref> EnvValues;  // (binding cell, v): the value, NoNode when unbound
// What a variable stands for in a frame: a value and the frame it is
// printed in, or (value NoNode) the name of the parameter of that frame's
// lambda, frame 0 meaning the variable's own name.
struct Meaning {
    Ref value;
    int frame;
};
static std::unordered_map<std::uint64_t, Meaning> FrameMeanings;  // (frame, v)
static std::vector<std::uint32_t> Passed;       // binding cells a walk passed, to keep its answer at
static std::vector<std::uint32_t> FramesPassed;  // frames a walk passed, likewise

// The value the environment starting at cell p binds v to, NoNode when it
// binds it nowhere.  The chain ends at nil or at a cell that starts no
// binding; an environment has fewer bindings than the pool has nodes, so a
// ring of cells ends the walk there too.
static Ref envvalue(Ref p, Ref v) {
    Passed.clear();
    Ref value = NoNode;
    for (Ref steps = 0; p != nil && isbinding(p) && steps < PoolSize; steps++) {
        auto kept = EnvValues.find(lookupkey(p, v));
        if (kept != EnvValues.end()) {
            value = kept->second;
            break;
        }
        Passed.push_back(p);
        Ref cell = node(p).right;
        if (node(p).left == v) {
            value = node(cell).left;
            break;
        }
        p = node(cell).right;
    }
    for (std::uint32_t q : Passed) EnvValues.emplace(lookupkey(q, v), value);
    return value;
}

// What variable v stands for in frame f: a value and its frame (the result
// true), or the name it prints as (false).
static bool lookupvar(Ref v, int f, Ref& value, int& vframe, std::string& name) {
    FramesPassed.clear();
    Meaning m{NoNode, 0};
    for (; f > 0; f = Frames[f].parent) {
        auto kept = FrameMeanings.find(lookupkey(std::uint32_t(f), v));
        if (kept != FrameMeanings.end()) {
            m = kept->second;
            break;
        }
        FramesPassed.push_back(std::uint32_t(f));
        const Frame& e = Frames[f];
        if (e.lambda != NoNode) {
            if (node(e.lambda).left == v) {
                m = Meaning{NoNode, f};
                break;
            }
            continue;
        }
        Ref found = envvalue(node(e.sub).right, v);
        if (found != NoNode) {
            m = Meaning{found, e.parent};
            break;
        }
    }
    for (std::uint32_t g : FramesPassed) FrameMeanings.emplace(lookupkey(g, v), m);
    if (m.value != NoNode) {
        value = m.value;
        vframe = m.frame;
        return true;
    }
    name = m.frame > 0 ? Frames[m.frame].name : std::string(AtomName[node(v).right]);
    return false;
}

// Follows indirections.
static Ref through(Ref r) {
    for (std::size_t k = 0; node(r).kind == IDENT && k < NameWalkLimit; k++) r = node(r).left;
    return r;
}

// The names a graph uses (every identifier in it), up to the walk limit.
static void namesof(Ref r, std::unordered_set<Ref>& names) {
    std::unordered_set<Ref> seen;
    std::vector<Ref> todo{r};
    while (!todo.empty() && seen.size() < NameWalkLimit) {
        interruptible();
        Ref x = todo.back();
        todo.pop_back();
        if (!seen.insert(x).second) continue;
        const Node& n = node(x);
        if (n.kind == IDENTIFIER) names.insert(x);
        if (isinner(n.kind)) {
            todo.push_back(n.left);
            todo.push_back(n.right);
        }
    }
}

// The printed names of the free variables of the values that frame f would
// put in for the variables body uses.
static void capturable(Ref body, int f, std::unordered_set<std::string>& out) {
    std::unordered_set<Ref> used;
    namesof(body, used);
    for (Ref v : used) {
        Ref value;
        int vframe;
        std::string name;
        if (!lookupvar(v, f, value, vframe, name)) continue;
        std::unordered_set<Ref> inner;
        namesof(value, inner);
        for (Ref w : inner) {
            Ref wv;
            int wf;
            std::string wname;
            if (!lookupvar(w, vframe, wv, wf, wname)) out.insert(wname);
        }
    }
}

static bool isatomname(const std::string& s) {
    for (int i = 0; i <= AtomTop; i++)
        if (s == AtomName[i]) return true;
    return false;
}

// A name for parameter x that none of the names in taken is, nor any name
// of the program: x', x'', then x1, x2, ... within 8 characters.
static std::string freshname(const std::string& x, const std::unordered_set<std::string>& taken) {
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

// Whether a leaf of this kind has a name in the atom table (its right field
// indexes it): a definition, an identifier, a string.
static bool hasname(std::int32_t kind) { return kind == DEFINITION || kind == IDENTIFIER || kind == STRING; }

// The frame for the body of lambda l printed in frame f, and the name its
// parameter prints as.  A parameter that is no name (the parser takes any
// term there: lambda 5 x, lambda (f x) x) binds nothing and has no name: the
// frame is f, name is left empty and the parameter prints as a term
// (rbparam).
static int enterlambda(Ref l, int f, std::string& name) {
    // Met again inside itself: the frame it was first entered in.
    for (int g = f; g > 0; g = Frames[g].parent)
        if (Frames[g].lambda == l) {
            name = Frames[g].name;
            return g;
        }
    Ref x = node(l).left;
    name.clear();
    if (!hasname(node(x).kind)) return f;
    name = AtomName[node(x).right];
    if (f == 0 || node(x).kind != IDENTIFIER) return f;
    std::unordered_set<std::string> taken;
    capturable(node(l).right, f, taken);
    Ref value;
    int vframe;
    std::string outer;
    bool hides = lookupvar(x, f, value, vframe, outer);  // x bound by a closure around
    if (taken.count(name)) name = freshname(name, taken);
    else if (!hides) return f;
    return framefor(f, NoNode, l, name);
}

// The frame inside closure s entered from frame f.
static int enterclosure(Ref s, int f) {
    for (int g = f; g > 0; g = Frames[g].parent)
        if (Frames[g].sub == s) return g;
    return framefor(f, s, NoNode, "");
}

static inline std::uint64_t pairkey(Ref r, int f) { return (std::uint64_t(std::uint32_t(f)) << 32) | r; }

// The line is put together here and written whole once the read-back has
// come to its end, so a read-back given up part way has written nothing.
static std::string Line;

static void emit(const char* s) {
    if (!Counting) Line += s;
}

// A label, "co<label> " or with " : " after it where it is defined.
static void emitlabel(std::uint64_t label, bool definition) {
    char text[40];
    std::snprintf(text, sizeof text, definition ? "co%llu : " : "co%llu ",
                  static_cast<unsigned long long>(label));
    emit(text);
}


static void rbnode(Ref r, int f, bool paren);

// The parameter of lambda l, entered from frame f with the name enterlambda
// gave it: that name, or a parameter that is no name as the printer prints
// it, an operand read back in frame f.
static void rbparam(Ref l, int f, const std::string& name) {
    Ref x = node(l).left;
    if (!hasname(node(x).kind)) {
        rbnode(x, f, true);
        return;
    }
    emit(name.c_str());
    emit(" ");
    Items++;
}

// r and frame f with closures, indirections and variables resolved to the
// node and frame that print for them; false with name set for a variable
// that prints as a name.
static bool resolve(Ref& r, int& f, std::string& name) {
    for (std::size_t k = 0; k < NameWalkLimit; k++) {
        r = through(r);
        const Node& n = node(r);
        if (n.kind == IDENTIFIER) {
            Ref value;
            int vframe;
            if (!lookupvar(r, f, value, vframe, name)) return false;
            r = value;
            f = vframe;
            continue;
        }
        if (n.kind == SUB && node(n.left).kind == LAMBDA && n.right != nil) {
            f = enterclosure(r, f);
            r = n.left;
            continue;
        }
        return true;
    }
    return true;
}

static void rbatom(Ref r) {
    const Node& n = node(r);
    char text[32];
    if (n.kind == INTEGER) std::snprintf(text, sizeof text, "%d ", std::int32_t(n.left));
    else if (n.kind == REAL) std::snprintf(text, sizeof text, "%g ", double(realvalue(n.left)));
    else {
        emit(AtomName[n.right]);
        emit(" ");
        return;
    }
    emit(text);
}

// The printer's printchain, with a lambda chain's frames carried along.
static void rbchain(Ref r, int f, std::int32_t kind) {
    for (;;) {
        std::string name;
        Ref x = r;
        int g = f;
        if (!resolve(x, g, name) || node(x).kind != kind || g != f) break;
        PairState& st = Pairs[pairkey(x, f)];
        if (Counting) {
            if (++st.reached > 1 || Pairs.size() > ReadbackPairLimit) return;
        } else if (st.printed || st.reached > 1) {
            break;
        } else {
            st.printed = true;
        }
        if (kind == LAMBDA) {
            std::string pname;
            int body = enterlambda(x, f, pname);
            if (Items <= PrintItemLimit) rbparam(x, f, pname);
            f = body;
            r = node(x).right;
        } else {
            rbnode(node(x).left, f, true);
            r = node(x).right;
        }
    }
    rbnode(r, f, true);
}

static void rbnode(Ref r, int f, bool paren) {
    stackguard();
    interruptible();
    if (!Counting && Items > PrintItemLimit) return;
    std::string name;
    Ref reached = r;  // what the label names: the closure, not its lambda
    if (!resolve(r, f, name)) {  // a variable printed as its name
        emit(name.c_str());
        emit(" ");
        Items++;
        return;
    }
    Node& n = node(r);
    if (!isinner(n.kind)) {
        rbatom(r);
        Items++;
        return;
    }
    PairState& st = Pairs[pairkey(r, f)];
    if (Counting) {
        if (++st.reached > 1 || Pairs.size() > ReadbackPairLimit) return;
    } else if (st.printed) {
        emitlabel(st.label, false);
        return;
    }
    st.printed = !Counting;
    bool shared = st.reached > 1;
    if (!Counting && shared) {
        // The node's position, as the printer labels it; the same node
        // printed in a second frame is a second term and gets a number past
        // every position.
        auto first = FirstFrame.emplace(r, f).first;
        Ref at = isinner(node(reached).kind) ? reached : r;
        st.label = first->second == f ? at : std::uint64_t(PoolSize) + Pairs.size() + at;
    }
    if (paren || shared) emit("( ");
    if (shared) {
        emitlabel(st.label, true);
        Items++;
    }
    if (n.kind == LAMBDA) {
        std::string pname;
        int body = enterlambda(r, f, pname);
        emit("lambda ");
        Items++;
        rbparam(r, f, pname);
        rbchain(n.right, body, LAMBDA);
    } else if (isoneoperand(n.kind)) {
        emit(OperatorTable[n.kind]);
        emit(" ");
        Items++;
        rbnode(n.left, f, true);
        if (Counting && n.right != n.left) rbnode(n.right, f, true);
        else if (Counting) rbnode(n.left, f, true);  // as the printer's pre-pass counts it
    } else if (n.kind == APP) {
        Ref l = n.left;
        int lf = f;
        std::string lname;
        bool flat = resolve(l, lf, lname) && node(l).kind == APP;
        rbnode(n.left, f, !flat);
        rbnode(n.right, f, true);
    } else {
        emit(OperatorTable[n.kind]);
        emit(" ");
        Items++;
        rbnode(n.left, f, true);
        rbchain(n.right, f, n.kind);
    }
    if (paren || shared) emit(") ");
}

// Forgets everything one read-back kept.
static void readbackclear() {
    Frames.clear();
    FrameIndex.clear();
    Pairs.clear();
    FirstFrame.clear();
    EnvValues.clear();
    FrameMeanings.clear();
    Line.clear();
}

void printreadback(Ref term) {
    readbackclear();
    Frames.assign(1, Frame{-1, NoNode, NoNode, ""});
    try {
        Counting = true;
        Items = 0;
        rbnode(term, 0, false);
        Counting = false;
        Items = 0;
        rbnode(term, 0, false);
    } catch (const ReadbackStopped&) {
        // Ctrl-C: the line is printed as without the option, so the
        // statement still shows its normal form.
        readbackclear();
        takeinterrupt();
        printterm(term, false);
        diagf("%lld: read-back interrupted: the normal form is printed as it is",
              static_cast<long long>(StatementLine != 0 ? StatementLine : LineNumber));
        StatementsStopped = true;
        return;
    } catch (...) {
        readbackclear();
        throw;
    }
    outs(Line.c_str());
    readbackclear();
}
