// Counting the steps, and what happens when the countdown runs out: the
// trace, the step limit and an interrupt.  The reducer's rules call stepdone once their
// rewrite is complete, so whatever stops here leaves no node half rewritten.
#include "reduce/internal.h"

#include "print/print.h"

#include <algorithm>
#include <cstdlib>
#include <string>

std::int64_t StepsLeft = 0;
std::uint64_t BetaSteps = 0;
std::uint64_t OperatorSteps = 0;
std::uint64_t MaxSteps = 0;
std::int64_t TraceLines = -1;
void (*StepLook)(std::uint64_t step, int rule, Ref n) = nullptr;

// How often, in steps, a statement that is neither traced nor limited looks
// for an interrupt: often enough to answer Ctrl-C at once (a few microseconds
// of reduction), rarely enough to cost nothing.
constexpr std::uint64_t InterruptPoll = 4096;
// A traced term is cut to this many characters, so one rewrite is one line
// that still shows the shape of a large term.
constexpr std::size_t TraceTermWidth = 200;

static std::uint64_t CountdownStart = 0;  // steps made when the countdown began
static std::int64_t Countdown = 0;        // the steps it was set to
static std::uint64_t StatementStart = 0;  // steps made when the statement began
static std::int64_t TraceShown = 0;       // trace lines shown in this statement
static std::uint64_t TraceHidden = 0;     // rewrites past the statement's trace lines
static std::uint64_t LastWatch = 0;       // steps made when the host last looked (StepWatch)
// While the profile is the only one that needs every step, the steps it
// takes before the rest of steered's look comes round again: it comes at
// the interrupt poll's pace, and at the step limit.  0 otherwise.
static std::uint64_t ProfileOnly = 0;

std::uint64_t stepcount() { return CountdownStart + std::uint64_t(Countdown - StepsLeft); }

// Starts the countdown to the next step the reducer must look at.  It is
// never less than 1, so that stepdone's test for 0 meets it exactly.
static void armsteps() {
    std::uint64_t now = stepcount();
    std::uint64_t next = InterruptPoll;
    bool everystep = TraceLines >= 0 || StepLook != nullptr;  // the trace's or the stepper's
    if (everystep || ProfileOn) next = 1;
    ProfileOnly = ProfileOn && !everystep ? InterruptPoll : 0;
    // The limit's own step is the last the statement takes: steered stops
    // the statement there, so now is always below it.
    if (MaxSteps != 0) {
        std::uint64_t left = MaxSteps - (now - StatementStart);
        next = std::min(next, left);
        ProfileOnly = std::min(ProfileOnly, left);
    }
    next = std::max<std::uint64_t>(next, 1);  // a limit met already (work aside gave back) stops at the next step
    CountdownStart = now;
    Countdown = StepsLeft = std::int64_t(next);
}

void stepsreset() {
    CountdownStart = StatementStart = LastWatch = 0;
    Countdown = StepsLeft = 0;
    BetaSteps = OperatorSteps = 0;
    StepLook = nullptr;
    armsteps();
}

void steerstatement() {
    StatementStart = stepcount();
    TraceShown = 0;
    TraceHidden = 0;
    armsteps();
}

void setsteplook(void (*look)(std::uint64_t step, int rule, Ref n)) {
    StepLook = look;
    armsteps();
}

std::uint64_t statementsteps() { return stepcount() - StatementStart; }

void endtrace() {
    if (TraceHidden != 0)
        diagf("trace: %llu more rewrites not shown", static_cast<unsigned long long>(TraceHidden));
    TraceHidden = 0;
}

std::string rulename(int rule) {
    switch (rule) {
    case RuleBeta: return "beta";
    case RuleClosure: return "closure";
    case RuleSubNil: return "sub-nil";
    case RuleSubLiteral: return "sub-literal";
    case RuleLookup: return "lookup";
    case RuleCompose: return "compose";
    case RuleSubName: return "sub-name";
    default: break;
    }
    if (rule >= RuleSubInto) return std::string("sub-") + OperatorTable[rule - RuleSubInto];
    return OperatorTable[rule];
}

std::string termtext(Ref t, std::size_t width) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* to = open_memstream(&text, &size);
    if (to == nullptr) return "...";  // no memory for the text
    try {
        printtermto(to, t, false);
    } catch (const StatementStop&) {
        // Too deep to print here (the print's walk is ended); the reduction
        // goes on, and meets the depth guard itself if the term really is
        // that deep.
        std::fputs("...", to);
    }
    std::fclose(to);
    std::string term(text, size);
    std::free(text);
    while (!term.empty() && term.back() == ' ') term.pop_back();
    if (width != 0 && term.size() > width) term = term.substr(0, width) + "...";
    return term;
}

// "trace K RULE coN ", the trace line before its term.
static std::string tracehead(std::uint64_t step, int rule, Ref n) {
    char head[96];
    std::snprintf(head, sizeof head, "trace %llu %s co%u ", static_cast<unsigned long long>(step),
                  rulename(rule).c_str(), n);
    return head;
}

std::string traceline(std::uint64_t step, int rule, Ref n) {
    return tracehead(step, rule, n) + termtext(n, TraceTermWidth);
}

// The trace's line of step k, on standard error and as an event.
static void traceshow(std::uint64_t step, int rule, Ref n) {
    std::string term = termtext(n, TraceTermWidth);
    if (EventsOn)
        eventwrite("step", {{"step", step}, {"rule", rulename(rule)}, {"node", n}, {"term", term}});
    diagf("%s%s", tracehead(step, rule, n).c_str(), term.c_str());
}

// steered's look at a step beyond the profile's charge: the trace, the
// stepper's look, the host's, an interrupt, the limit; then the countdown
// armed again.  Apart from steered, so that a step only the profile wants
// does not pay for this one's frame.
[[gnu::noinline]] static void lookatstep(int rule, Ref n) {
    std::uint64_t step = statementsteps();
    if (TraceLines >= 0) {
        if (TraceShown < TraceLines) {
            traceshow(step, rule, n);
            TraceShown++;
        } else {
            TraceHidden++;
        }
    }
    if (StepLook != nullptr) StepLook(step, rule, n);
    // The host's look comes at the interrupt poll's pace even when the trace,
    // the profile or the frames send every step here.
    if (StepWatch != nullptr && stepcount() - LastWatch >= InterruptPoll) {
        LastWatch = stepcount();
        StepWatch();
    }
    if (interruptpending()) {
        takeinterrupt();
        stopstatement(Stop::Interrupt);
    }
    if (MaxSteps != 0 && step >= MaxSteps) stopstatement(Stop::Limit);
    // Armed again from the steps made now, not from where the countdown
    // began: a look that ended its window above has re-armed it already.
    armsteps();
}

void steered(int rule, Ref n, Ref source) {
    if (ProfileOn) {
        profilestep(rule, n, source);
        // Only the profile wants this step: the countdown is 1 again, one
        // step further on, and nothing else is looked at.
        if (ProfileOnly > 1) {
            ProfileOnly--;
            Countdown++;
            StepsLeft = 1;
            return;
        }
    }
    lookatstep(rule, n);
}

StepsAside stepaside(std::uint64_t budget) {
    StepsAside saved{stepcount(), BetaSteps, OperatorSteps, StatementStart, MaxSteps, TraceLines, StepLook, ProfileOn};
    StatementStart = saved.steps;
    MaxSteps = budget;
    TraceLines = -1;
    StepLook = nullptr;
    ProfileOn = false;
    armsteps();
    return saved;
}

std::uint64_t stepback(const StepsAside& saved) {
    std::uint64_t made = stepcount() - saved.steps;
    CountdownStart = saved.steps;
    Countdown = StepsLeft = 0;
    BetaSteps = saved.beta;
    OperatorSteps = saved.ops;
    StatementStart = saved.statementstart;
    MaxSteps = saved.maxsteps;
    TraceLines = saved.tracelines;
    StepLook = saved.look;
    ProfileOn = saved.profile;
    armsteps();
    return made;
}
