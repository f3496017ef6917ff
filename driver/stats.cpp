// The figures of --stats: one line on standard error after each expression
// statement, and the run's total when the run ends.  The counters live where
// they are counted (the reducer's steps, the store's collections and free
// count); a statement's figures are their differences across it.
//
// The lines are an interface others parse; their form is fixed:
//   kestrivo: stats line=L newnodes=N steps=S beta=B ops=O gcs=G freed=F highwater=H time_ms=T
//   kestrivo: total statements=K newnodes=N steps=S beta=B ops=O gcs=G freed=F highwater=H time_ms=T
// The total sums the stats lines before it (highwater: their largest).
// With --readback both lines end in " readback_steps=R readback_nodes=M",
// the read-back's own cost; the figures before are the statement's at its
// normal form, the read-back's work left out.
// --profile's tables (profile.cpp) come at the same moments, after the lines.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

#include <chrono>
#include <string>

using Clock = std::chrono::steady_clock;

// One statement's figures, or the run's sum of them.
struct Figures {
    std::int64_t newnodes = 0;
    std::uint64_t steps = 0, beta = 0, ops = 0, gcs = 0, freed = 0;
    std::uint32_t highwater = 0;
    double ms = 0;
};

static bool Started = false;      // the statement cycle began: a total is due at the end
static bool Expression = false;   // the statement under way is an expression
static bool Reducing = false;     // and its newnodes count has started
static std::uint64_t Statements = 0;  // stats lines printed
static Figures Total;
static Figures Before;            // the counters when the statement began
static Clock::time_point StartTime;
// --readback: the statement's figures at its normal form, and the read-back's cost.
static bool AtNormalTaken = false;
static Figures AtNormal;
static FullCost Readback, ReadbackTotal;

void statsreset() {
    Started = Expression = false;
    Statements = 0;
    Total = Figures{};
    ReadbackTotal = FullCost{};
}

void statsbegin() {
    Started = true;
    Expression = Reducing = false;
    Before.steps = stepcount();
    Before.beta = BetaSteps;
    Before.ops = OperatorSteps;
    Before.gcs = Collections;
    Before.freed = FreedNodes;
    FewestFree = freecount();
    StartTime = Clock::now();
    AtNormalTaken = false;
    Readback = FullCost{};
    profilebegin();
}

void statsexpression() { Expression = true; }
void statsreducing() { Reducing = true; }

// The figures as the fields of a "stats" or "total" event, the read-back's
// cost last with --readback, as on the --stats line.
static void eventfigures(const char* type, const char* first, std::int64_t value, const Figures& f,
                         const FullCost& readback) {
    const EventField fields[] = {{first, value},
                                 {"newnodes", f.newnodes},
                                 {"steps", f.steps},
                                 {"beta", f.beta},
                                 {"ops", f.ops},
                                 {"gcs", f.gcs},
                                 {"freed", f.freed},
                                 {"highwater", f.highwater},
                                 {"time_ms", f.ms},
                                 {"readback_steps", readback.steps},
                                 {"readback_nodes", readback.nodes}};
    constexpr std::size_t ReadbackFields = 2;
    std::size_t count = std::size(fields) - (Options.readback ? 0 : ReadbackFields);
    eventwrite(type, fields, count);
}

// The statement's figures as they stand.
static Figures figuresnow() {
    Figures f;
    f.newnodes = Reducing ? newnodescount() : 0;
    f.steps = stepcount() - Before.steps;
    f.beta = BetaSteps - Before.beta;
    f.ops = OperatorSteps - Before.ops;
    f.gcs = Collections - Before.gcs;
    f.freed = FreedNodes - Before.freed;
    f.highwater = PoolSize - fewestfree();
    f.ms = std::chrono::duration<double, std::milli>(Clock::now() - StartTime).count();
    return f;
}

void statsnormal() {
    if (!(Options.stats || EventsOn || Options.profile)) return;
    AtNormal = figuresnow();
    AtNormalTaken = true;
}

void statsreadback(const FullCost& cost) {
    Readback.steps += cost.steps;
    Readback.nodes += cost.nodes;
}

// " readback_steps=R readback_nodes=M" with --readback, else nothing.
static std::string readbackfields(const FullCost& cost) {
    if (!Options.readback) return "";
    char text[80];
    std::snprintf(text, sizeof text, " readback_steps=%llu readback_nodes=%llu",
                  static_cast<unsigned long long>(cost.steps), static_cast<unsigned long long>(cost.nodes));
    return text;
}

void statsend() {
    if (!(Options.stats || EventsOn || Options.profile) || !Expression) return;
    Expression = false;
    Figures f = AtNormalTaken ? AtNormal : figuresnow();
    AtNormalTaken = false;
    std::int64_t line = StatementLine != 0 ? StatementLine : LineNumber;
    if (EventsOn) eventfigures("stats", "line", line, f, Readback);
    if (Options.stats)
        diagf("stats line=%lld newnodes=%lld steps=%llu beta=%llu ops=%llu gcs=%llu freed=%llu highwater=%u time_ms=%.3f%s",
              static_cast<long long>(line), static_cast<long long>(f.newnodes),
              static_cast<unsigned long long>(f.steps), static_cast<unsigned long long>(f.beta),
              static_cast<unsigned long long>(f.ops), static_cast<unsigned long long>(f.gcs),
              static_cast<unsigned long long>(f.freed), f.highwater, f.ms, readbackfields(Readback).c_str());
    ReadbackTotal.steps += Readback.steps;
    ReadbackTotal.nodes += Readback.nodes;
    Readback = FullCost{};
    profilestatement(line);
    Statements++;
    Total.newnodes += f.newnodes;
    Total.steps += f.steps;
    Total.beta += f.beta;
    Total.ops += f.ops;
    Total.gcs += f.gcs;
    Total.freed += f.freed;
    if (f.highwater > Total.highwater) Total.highwater = f.highwater;
    Total.ms += f.ms;
}

void statstotal() {
    if (!(Options.stats || EventsOn || Options.profile) || !Started) return;
    Started = false;
    const Figures& f = Total;
    if (EventsOn) eventfigures("total", "statements", std::int64_t(Statements), f, ReadbackTotal);
    if (Options.stats)
        diagf("total statements=%llu newnodes=%lld steps=%llu beta=%llu ops=%llu gcs=%llu freed=%llu highwater=%u time_ms=%.3f%s",
              static_cast<unsigned long long>(Statements), static_cast<long long>(f.newnodes),
              static_cast<unsigned long long>(f.steps), static_cast<unsigned long long>(f.beta),
              static_cast<unsigned long long>(f.ops), static_cast<unsigned long long>(f.gcs),
              static_cast<unsigned long long>(f.freed), f.highwater, f.ms, readbackfields(ReadbackTotal).c_str());
    profilerun();
}
