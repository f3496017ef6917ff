// The profile (--profile): where the steps of a reduction go.  Every step,
// every beta step, every operator step and every node built is charged to a
// cost centre: the definition whose text the rewritten node was made from,
// or the statement, for a node of the statement's own text.
//
// Each node's centre is kept beside the pool, in a side array indexed by
// pool position that is taken only when the profile is on (one byte a
// node): the parser's nodes get theirs when the statement that wrote them
// is read (a definition's text its name's centre, an expression's the
// statement's), and reduction hands centres on as it builds:
//   app(lambda x B, A)  =>  sub(B, [x:=A])         the node now stands for
//                          the lambda's body: it takes the lambda's centre,
//                          and so does the step
//   sub(k(A, B), E)  =>  k(sub(A, E), sub(B, E))   the node copies k(A, B)
//                          and keeps its centre; the two delayed
//                          substitutions take it too
//   sub(sub(T, E2), E)  =>  sub(T, E2' E)          the delayed substitutions
//                          of E2' take the node's centre
// and every other step is charged to the centre the rewritten node has.  A
// node no text wrote (the truth values, start-up's constants) has no centre:
// applying it leaves the node its caller's, and a step on such a node is
// the statement's.  The figures are counted in the step door of steps.cpp
// (every step passes through steered while the profile is on), so a run
// without the option does not test for it anywhere.
//
// A lambda that is a definition's whole term (its outermost lambda) is its
// entry: applying it is one call of the definition, counted as an entry.
//
// Bounds: CentreCount - 3 (125) names can have a centre of their own, more
// than the atom table can hold (the static_assert below), so every name has
// one; "(more names)" is only there should the atom table outgrow them.
#include "reduce/internal.h"

#include "reader/reader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

bool ProfileOn = false;

namespace {

// A centre is 7 bits of a node's byte; the eighth marks an entry.
constexpr int CentreCount = 128;
constexpr std::uint8_t StatementCentre = 0;          // "(statement)"
constexpr std::uint8_t MoreCentre = CentreCount - 2;  // "(more names)": the table is full
constexpr std::uint8_t NoCentre = CentreCount - 1;    // no text wrote the node
constexpr std::uint8_t EntryBit = 0x80;
static_assert(AtomCapacity <= CentreCount - 3, "every name the atom table can hold has a centre of its own");
constexpr std::uint8_t CentreBits = 0x7F;

// The centres' names: a definition's name (at most 8 characters), or one in
// brackets, which no name can be.
constexpr int CentreNameSlot = 16;
char CentreName[CentreCount][CentreNameSlot];
int CentreTop = 1;  // centres named so far

std::vector<std::uint8_t> Origins;  // by pool position: centre and entry bit
std::uint8_t* Origin = nullptr;     // its first byte

struct Costs {
    std::uint64_t entries = 0, steps = 0, beta = 0, ops = 0, newnodes = 0;
};
Costs Statement[CentreCount];  // the statement under way
Costs Run[CentreCount];        // every statement that printed its table
std::uint32_t LastNewnodes = 0;  // newnodes at the latest step
std::uint64_t Statements = 0;    // tables printed

// The centre of the definition whose atom is d, named on first use.
std::uint8_t centreof(Ref d) {
    const char* name = AtomName[node(d).right];
    for (int c = 1; c < CentreTop; c++)
        if (std::strcmp(CentreName[c], name) == 0) return std::uint8_t(c);
    if (CentreTop == MoreCentre) return MoreCentre;
    std::snprintf(CentreName[CentreTop], CentreNameSlot, "%s", name);
    return std::uint8_t(CentreTop++);
}

inline std::uint8_t centre(Ref n) { return Origin[n] & CentreBits; }
inline void setcentre(Ref n, std::uint8_t c) { Origin[n] = std::uint8_t((Origin[n] & EntryBit) | c); }

}  // namespace

void profilestart() {
    CentreTop = 1;
    std::snprintf(CentreName[StatementCentre], CentreNameSlot, "%s", "(statement)");
    std::snprintf(CentreName[MoreCentre], CentreNameSlot, "%s", "(more names)");
    std::fill(std::begin(Statement), std::end(Statement), Costs{});
    std::fill(std::begin(Run), std::end(Run), Costs{});
    LastNewnodes = 0;
    Statements = 0;
    if (!ProfileOn) {
        std::vector<std::uint8_t>().swap(Origins);
        Origin = nullptr;
        return;
    }
    Origins.assign(PoolSize, NoCentre);
    Origin = Origins.data();
}

void profileclaim(Ref term, Ref definition) {
    if (!ProfileOn || term == NoNode) return;
    std::uint8_t c = definition == NoNode ? StatementCentre : centreof(definition);
    std::unordered_set<Ref> seen;
    std::vector<Ref> todo{term};
    while (!todo.empty()) {
        Ref r = todo.back();
        todo.pop_back();
        const Node& x = node(r);
        if (!isinner(x.kind) || !seen.insert(r).second) continue;  // leaves are never rewritten
        Origin[r] = c;
        todo.push_back(x.left);
        if (!isoneoperand(x.kind)) todo.push_back(x.right);
    }
    if (definition != NoNode && node(term).kind == LAMBDA) Origin[term] |= EntryBit;
}

void profilestep(int rule, Ref n, Ref source) {
    std::uint8_t c = centre(n);
    Node& x = node(n);
    if (rule == RuleBeta || rule == RuleClosure) {
        // source is the lambda applied
        std::uint8_t l = centre(source);
        if (l != NoCentre) {
            c = l;
            setcentre(n, c);
        }
    } else if (rule >= RuleSubInto && rule < RuleBeta) {
        // source is the term copied, x its copy with a delayed substitution
        // in each field (one for both when they are the same)
        std::uint8_t t = centre(source);
        if (t != NoCentre) {
            c = t;
            setcentre(n, c);
        }
        setcentre(x.left, c);
        setcentre(x.right, c);
    } else if (rule == RuleCompose) {
        // the bindings copied hang from x's right field: variable cell,
        // value cell, and in it the delayed substitution of the value
        std::uint32_t built = (newnodes - LastNewnodes) / 3;
        Ref p = x.right;
        for (std::uint32_t i = 0; i < built; i++) {
            Ref value = node(p).right;
            setcentre(node(value).left, c);
            p = node(value).right;
        }
    }
    if (c == NoCentre) c = StatementCentre;
    Costs& k = Statement[c];
    k.steps++;
    if (rule == RuleBeta || rule == RuleClosure) {
        k.beta++;
        if (Origin[source] & EntryBit) k.entries++;
    } else if (rule < RuleSubInto) {
        k.ops++;  // an operator's rule is its kind
    }
    k.newnodes += newnodes - LastNewnodes;
    LastNewnodes = newnodes;
}

void profilebegin() {
    std::fill(std::begin(Statement), std::end(Statement), Costs{});
    LastNewnodes = 0;
}

namespace {

// A share of a total, in percent; 0 of 0 is 0.
double share(std::uint64_t part, std::uint64_t whole) { return whole == 0 ? 0.0 : 100.0 * double(part) / double(whole); }

// The table of costs: one row for each centre with any, by steps, most
// first (ties by name), then the total.  line < 0: the run's table.
void table(const Costs* costs, std::int64_t line) {
    Costs total;
    std::vector<int> rows;
    for (int c = 0; c < CentreCount; c++) {
        const Costs& k = costs[c];
        if (k.steps == 0 && k.entries == 0 && k.newnodes == 0) continue;
        rows.push_back(c);
        total.entries += k.entries;
        total.steps += k.steps;
        total.beta += k.beta;
        total.ops += k.ops;
        total.newnodes += k.newnodes;
    }
    std::sort(rows.begin(), rows.end(), [&](int a, int b) {
        if (costs[a].steps != costs[b].steps) return costs[a].steps > costs[b].steps;
        return std::strcmp(CentreName[a], CentreName[b]) < 0;
    });
    if (line >= 0) diagf("profile line=%lld", static_cast<long long>(line));
    else diagf("profile of the run, %llu statements", static_cast<unsigned long long>(Statements));
    diagf("  %-11s %8s %9s %6s %9s %6s %9s %6s %9s %6s", "centre", "entries", "steps", "share", "beta", "share",
          "ops", "share", "newnodes", "share");
    auto row = [&](const char* name, const Costs& k, bool istotal) {
        diagf("  %-11s %8llu %9llu %5.1f%% %9llu %5.1f%% %9llu %5.1f%% %9llu %5.1f%%", name,
              static_cast<unsigned long long>(k.entries), static_cast<unsigned long long>(k.steps),
              share(k.steps, total.steps), static_cast<unsigned long long>(k.beta), share(k.beta, total.beta),
              static_cast<unsigned long long>(k.ops), share(k.ops, total.ops),
              static_cast<unsigned long long>(k.newnodes), share(k.newnodes, total.newnodes));
        if (EventsOn) {
            EventField where = line >= 0 ? EventField("line", line) : EventField("line", static_cast<const char*>(nullptr));
            eventwrite("profile", {where, {"centre", istotal ? nullptr : name}, {"entries", k.entries}, {"steps", k.steps},
                                   {"beta", k.beta}, {"ops", k.ops}, {"newnodes", k.newnodes}});
        }
    };
    for (int c : rows) row(CentreName[c], costs[c], false);
    row("(total)", total, true);
}

}  // namespace

void profilestatement(std::int64_t line) {
    if (!ProfileOn) return;
    table(Statement, line);
    Statements++;
    for (int c = 0; c < CentreCount; c++) {
        Run[c].entries += Statement[c].entries;
        Run[c].steps += Statement[c].steps;
        Run[c].beta += Statement[c].beta;
        Run[c].ops += Statement[c].ops;
        Run[c].newnodes += Statement[c].newnodes;
    }
    profilebegin();
}

void profilerun() {
    if (!ProfileOn) return;
    table(Run, -1);
}
