// --strategies: each expression statement reduced again by the reference
// reducer under call by name, call by value and normal order, its counts
// beside call by need's, on one line of standard error:
//
//   kestrivo: strategies line=L need beta=B ops=O total=T, name beta=B ops=O total=T,
//             value ..., normal ..., saved=S[, same normal form]
//
// (one line).  total is beta plus operator steps: the substitution steps of
// call by need have no counterpart in a tree that is rewritten.  A strategy
// that does not finish says "diverges" (not within N steps, its term grown
// past the reference reducer's bound, or nested deeper than the depth guard
// allows) or "stopped" (Ctrl-C) in place of its figures.
// saved is normal order's total minus call by need's: the same order of
// reduction to the same normal form, without sharing (when the normal form
// holds no lambda, call by name makes the same steps); "saved>K" when normal
// order did not finish within N steps.  "same normal form" ends the line
// when the normal form is first-order data (numbers, string atoms, free
// names and pairs of them) and every strategy that finished reached it;
// "another normal form by S" names a strategy that reached another, which
// is a fault of one of the two reducers.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

#include <string>

static bool Copied = false;       // the statement's term is copied
static bool Reduced = false;      // and its reduction reached its normal form
static std::uint64_t BetaBefore = 0, OpsBefore = 0;  // the counters as the reduction began
static std::uint64_t NeedBeta = 0, NeedOps = 0;      // call by need's steps
static Ref NormalForm = NoNode;   // call by need's normal form, LastResult's until the line is out
static std::int64_t Line = 0;     // the statement's line

void strategiescopy(Ref expanded) {
    if (Options.strategies == 0) return;
    referencecopy(expanded);
    Copied = true;
    Reduced = false;
    BetaBefore = BetaSteps;
    OpsBefore = OperatorSteps;
}

void strategiesreduced(Ref normalform) {
    if (!Copied) return;
    Reduced = true;
    NeedBeta = BetaSteps - BetaBefore;
    NeedOps = OperatorSteps - OpsBefore;
    NormalForm = normalform;
    Line = StatementLine != 0 ? StatementLine : LineNumber;
}

static const char* endname(Finish end) {
    switch (end) {
    case Finish::Done: return "done";
    case Finish::Diverges: return "diverges";
    case Finish::Stopped: return "stopped";
    }
    return "done";
}

// One strategy's part of the line.
static std::string figures(const char* name, const StrategyRun& run) {
    std::string text = name;
    switch (run.end) {
    case Finish::Done: {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, " beta=%llu ops=%llu total=%llu", static_cast<unsigned long long>(run.beta),
                      static_cast<unsigned long long>(run.ops), static_cast<unsigned long long>(run.beta + run.ops));
        return text + buffer;
    }
    case Finish::Diverges: return text + " diverges";
    case Finish::Stopped: return text + " stopped";
    }
    return text;
}

void strategiesend() {
    if (!Copied) return;
    Copied = false;
    if (!Reduced) {  // the statement stopped before its normal form
        referencedrop();
        return;
    }
    Reduced = false;
    StrategyRun need;
    need.beta = NeedBeta;
    need.ops = NeedOps;
    static const char* const names[3] = {"name", "value", "normal"};
    const Strategy order[3] = {Strategy::Name, Strategy::Value, Strategy::Normal};
    StrategyRun runs[3];
    bool stopped = false;
    for (int k = 0; k < 3; k++) {
        if (stopped) {
            runs[k].end = Finish::Stopped;
            continue;
        }
        runs[k] = referencerun(order[k], Options.strategies, NormalForm);
        stopped = runs[k].end == Finish::Stopped;  // Ctrl-C stops the rest as well
    }
    referencedrop();
    std::string line = figures("need", need);
    for (int k = 0; k < 3; k++) line += ", " + figures(names[k], runs[k]);
    const StrategyRun& normal = runs[2];
    long long needtotal = static_cast<long long>(need.beta + need.ops);
    char saved[64];
    // normal order's steps minus need's; when it gave up, its steps so far
    // (the step that went past the budget included) are fewer than it needs
    long long past = static_cast<long long>(normal.beta + normal.ops) - needtotal;
    if (normal.end == Finish::Done)
        std::snprintf(saved, sizeof saved, ", saved=%lld", past);
    else if (normal.end == Finish::Diverges && past > 0)
        std::snprintf(saved, sizeof saved, ", saved>%lld", past - 1);
    else
        saved[0] = '\0';
    line += saved;
    bool compared = false, differs = false;
    for (int k = 0; k < 3; k++) {
        if (runs[k].agrees == 0) {
            line += std::string(", another normal form by ") + names[k];
            differs = true;
        }
        compared = compared || runs[k].agrees == 1;
    }
    if (compared && !differs) line += ", same normal form";
    if (EventsOn) {
        const char* nothing = nullptr;
        bool known = normal.end == Finish::Done, above = normal.end == Finish::Diverges && past > 0;
        eventwrite("strategies", {{"line", Line},
                                  {"need_beta", need.beta}, {"need_ops", need.ops},
                                  {"name", endname(runs[0].end)}, {"name_beta", runs[0].beta}, {"name_ops", runs[0].ops},
                                  {"value", endname(runs[1].end)}, {"value_beta", runs[1].beta}, {"value_ops", runs[1].ops},
                                  {"normal", endname(runs[2].end)}, {"normal_beta", runs[2].beta}, {"normal_ops", runs[2].ops},
                                  known ? EventField("saved", past) : EventField("saved", nothing),
                                  above ? EventField("saved_above", past - 1) : EventField("saved_above", nothing),
                                  {"normal_form", differs ? "another" : compared ? "same" : nothing}});
    }
    diagf("strategies line=%lld %s", static_cast<long long>(Line), line.c_str());
}
