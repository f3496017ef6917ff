// The full normal form for the read-back: the closures of a normal form
// opened, each applied to a variable of its own and reduced on (reduce.h).
//
//   sub(lambda x B, E)  opens to  lambda v N,  N the normal form of
//   app(sub(lambda x B, E), v) = sub(B, [x:=v] E), v a new identifier node
//
// v is a node no environment binds (bindings are found by the identifier's
// node, and v is no name's), so the engine leaves it where it stands, and N
// holds it wherever x was used.  The closures N holds are opened in turn; a
// lambda whose parameter is no name binds nothing, and its parameter is
// reduced under E, as sub(P, E), to print.
//
// The walk goes in the order the line prints: a node before what is below
// it, left field before right, a closure's parameter before its body, so
// that when the budget runs out, what is done is what the line shows first.
// Each field is brought to weak head normal form by the engine and the
// result stored back, then the walk goes on into the result's fields: under
// lambdas, into pairs, operands and opened closures, to the full normal
// form.  A field cut short leaves its node as the engine left it, and the
// printer prints "..." for every node the walk did not finish.  The walk
// keeps its own list of fields and its own set of nodes reached, outside
// the pool: the engine's reductions between two looks may walk or collect.
//
// Roots: every node the read-back builds hangs from ReadbackRoot, a chain of
// cells whose first holds the term itself.  A cell is built with the node
// it holds as its child and the chain as a root, so nothing built is ever
// loose.  The walk holds no node across a reduction, only fields: a field
// belongs to a node the chain leads to, and the engine, under the in-place
// contract, rewrites the node a field leads to rather than the field, so
// the field keeps its node alive while the engine reduces it.
#include "reduce/internal.h"

#include "print/print.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

Ref ReadbackRoot = NoNode;

// Where the allocator stood when the read-back began: what it took is given
// back when its line is printed, if nothing else leads to it.
static AllocPlace Place;

static std::uint64_t Built = 0;  // nodes the read-back took itself

// Indirections followed in one run: a ring of them is a stuck term.
constexpr int IndirectionRun = 1 << 20;

static Ref through(Ref r) {
    for (int k = 0; k < IndirectionRun && node(r).kind == IDENT; k++) r = node(r).left;
    return r;
}

// Puts r on the chain: a new cell, cons(r, chain), in front.  r is a child
// of the cell being built and the chain is a root, so a collection in
// makenode keeps both.
static Ref hang(Ref r) {
    Ref cell = makenode(r, ReadbackRoot, CONS);
    Built++;
    ReadbackRoot = cell;
    return cell;
}

// Closures opened, by what makes two of them the same term: the lambda,
// then each binding of the environment, its variable and its value
// (indirections followed), to nil.  Two closures with the same lambda and
// the same bindings read back as the same term, so the second is printed
// as the first: a term that opens to itself, over and over, prints as the
// cycle it is, not unfolded until the budget is spent.  Environments longer
// than TwinBindings are not compared: a long one is rarely met twice, and
// comparing it would cost a walk down it for every closure.
constexpr int TwinBindings = 16;
static std::map<std::vector<Ref>, Ref> Twins;

// The key of closure c, empty when its environment is too long to compare
// or ends at something other than nil.
static std::vector<Ref> twinkey(Ref c) {
    std::vector<Ref> key{node(c).left};
    Ref p = node(c).right;
    for (int k = 0; p != nil; k++) {
        if (k == TwinBindings || !isbinding(p)) return {};
        Ref value = node(p).right;
        key.push_back(node(p).left);
        key.push_back(through(node(value).left));
        p = node(value).right;
    }
    return key;
}

// A field still to look at: the node's left (0) or right (1) field.  The
// node it belongs to is one the chain leads to.
struct Field {
    Ref holder;
    int side;
};

// Opens closure c, which the chain leads to: the application of c to a new
// variable, and the parameter that is no name under c's environment, are
// hung on the chain and their cells put on the list of fields to look at.
static void open(Ref c, ReadbackGraph& graph, std::vector<Field>& todo) {
    Ref p = node(node(c).left).left;  // the parameter
    bool named = node(p).kind == IDENTIFIER;
    // The variable, an identifier of its own under the parameter's name.  c
    // hangs from the chain while takenode may collect.
    Ref v = takenode();
    Built++;
    node(v).kind = IDENTIFIER;
    node(v).right = named ? node(p).right : 0;  // a parameter that is no name binds nothing: v never shows
    // v hangs on the chain of its own: the print names it even where the
    // reduction has dropped every use of it (a cut in the middle).
    hang(v);
    Ref app = makenode(c, v, APP);  // c and v hang from the chain
    Built++;
    Ref cell = hang(app);
    graph.opened[c] = Opened{v, cell, NoNode};  // the body's cell, for now
    todo.push_back(Field{cell, 0});
    if (!named) {
        // sub(P, E): P as the closure's environment has it.
        Ref s = makenode(p, node(c).right, SUB);  // both children: P and E
        Built++;
        Ref pc = hang(s);
        graph.opened[c].param = pc;
        todo.push_back(Field{pc, 0});  // looked at first: it prints first
    }
}

// The walk: each field brought to weak head normal form by the engine, the
// result stored back (the in-place contract), then the fields of the result
// put on the list, left on top.
static FullEnd walk(Ref term, ReadbackGraph& graph) {
    std::vector<Field> todo{{hang(term), 0}};  // the term is a child: kept even where no root leads to it
    while (!todo.empty()) {
        Field f = todo.back();
        todo.pop_back();
        Node& h = node(f.holder);
        Ref was = f.side == 0 ? h.left : h.right;
        Ref r = reduce(was);
        if (r != was) {
            // A lookup record relies on an environment cell's fields as they
            // are (normalize.cpp does the same).
            if (h.kind == CONS && (h.flags & LookupFlag)) forgetlookups();
            (f.side == 0 ? h.left : h.right) = r;
        }
        r = through(r);
        Node& n = node(r);
        if (!isinner(n.kind) || graph.reached.count(r)) continue;
        if (n.kind == SUB && node(n.left).kind == LAMBDA) {  // a closure
            if (graph.same.count(r)) continue;
            std::vector<Ref> key = twinkey(r);
            if (!key.empty()) {
                auto twin = Twins.emplace(std::move(key), r);
                if (!twin.second) {
                    graph.same[r] = twin.first->second;
                    continue;
                }
            }
            if (graph.opened.size() >= ReadbackOpens) return FullEnd::Opens;
            if (interruptpending()) {  // a safe point, as every step is: between two rewrites
                takeinterrupt();
                stopstatement(Stop::Interrupt);
            }
            open(r, graph, todo);
            graph.reached.insert(r);  // opened whole: the printer finds its entry
            continue;
        }
        graph.reached.insert(r);
        switch (n.kind) {
        case SUB:    // stuck: it prints as it stands
        case IDENT:  // a ring of indirections, likewise
            continue;
        case LAMBDA:  // the body, under the binder; the parameter prints as written
            todo.push_back(Field{r, 1});
            continue;
        default:
            if (!isoneoperand(n.kind)) todo.push_back(Field{r, 1});
            todo.push_back(Field{r, 0});
            continue;
        }
    }
    return FullEnd::Done;
}

FullEnd fullform(Ref term, std::uint64_t budget, ReadbackGraph& graph, FullCost& cost) {
    graph.opened.clear();
    graph.reached.clear();
    graph.same.clear();
    Twins.clear();
    graph.cut = false;
    // Nothing of this shows in the transcript: collections print no report,
    // nesting too deep stops the read-back without the statement's line, and
    // what a "print" in an unfinished part prints is dropped (the caller
    // says where its own line begins).
    bool quiet = QuietCollections;
    const char* phase = DepthPhase;
    std::FILE* output = Output;
    char* dropped = nullptr;
    std::size_t droppedsize = 0;
    std::FILE* drop = open_memstream(&dropped, &droppedsize);
    if (drop != nullptr) Output = drop;
    QuietCollections = true;
    DepthPhase = nullptr;
    std::uint32_t statementnodes = newnodes;
    std::uint64_t gcs = Collections, freed = FreedNodes;
    Built = 0;
    Place = allocplace();
    StepsAside aside = stepaside(budget);
    // Puts back what the read-back changed for its time: also when the run
    // ends inside it (a second Ctrl-C from a pipe), so that the run's last
    // lines go to the transcript and not into the dropped output.
    auto putback = [&] {
        newnodes = statementnodes;
        QuietCollections = quiet;
        DepthPhase = phase;
        Output = output;
        if (drop != nullptr) std::fclose(drop);
        std::free(dropped);
    };
    FullEnd end = FullEnd::Done;
    try {
        end = walk(term, graph);
    } catch (const StatementStop& stop) {
        endcut(true);  // a rewrite the pool cut short is put back as it was
        end = stop.why == Stop::Limit       ? FullEnd::Budget
              : stop.why == Stop::Exhausted ? FullEnd::Pool
              : stop.why == Stop::Depth     ? FullEnd::Depth
                                            : FullEnd::Interrupt;
    } catch (...) {
        Twins.clear();
        stepback(aside);
        putback();
        throw;
    }
    graph.cut = end != FullEnd::Done;
    for (auto& [closure, o] : graph.opened) {  // from the cells to what they hold
        o.body = node(o.body).left;
        if (o.param != NoNode) o.param = node(o.param).left;
    }
    Twins.clear();
    cost.steps = stepback(aside);
    cost.nodes = (newnodes - statementnodes) + Built;
    cost.gcs = Collections - gcs;
    cost.freed = FreedNodes - freed;
    putback();
    return end;
}

// The nodes the read-back took are given back when it ran no collection and
// nothing but the chain leads to them: the engine writes results over the
// nodes it reduces, and the nodes of the statement's graph are normal
// already, so it leaves them as they were, except an operand of a stuck
// operator, which the engine left in weak head normal form, or a closure's
// binding there that the read-back is the first to reduce.  Then the pool
// is as the statement left it, and what comes after runs as without the
// option.  A lookup record may name a cell given back: they go.
void fullformdrop() {
    ReadbackRoot = NoNode;
    if (allocgiveback(Place)) forgetlookups();
}
