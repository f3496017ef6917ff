// The output stream and the ends of a run and of a statement.
#include "run/run.h"

#include <cstdarg>

std::FILE* Output = stdout;
std::FILE* Diagnostics = stderr;
char* StackLimit = nullptr;
const char* DepthPhase = "fterm";

void outf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Output, format, args);
    va_end(args);
}

void diagf(const char* format, ...) {
    std::fputs("kestrivo: ", Diagnostics);
    va_list args;
    va_start(args, format);
    std::vfprintf(Diagnostics, format, args);
    va_end(args);
    std::fputc('\n', Diagnostics);
}

[[noreturn]] void endrun(int status) {
    std::fflush(Output);
    throw RunEnd{status};
}

[[noreturn]] void theend() {
    outs("THE END...................\n");
    endrun(0);
}

[[noreturn]] void stopstatement(Stop why) { throw StatementStop{why}; }

[[noreturn]] void depthover() {
    outf("depth is overflow in %s\n", DepthPhase);
    stopstatement(Stop::Depth);
}

#ifdef KESTRIVO_FUZZ
std::uint64_t FuzzSteps = 0;
void fuzzstep() {
    if (++FuzzSteps > FuzzStepBudget) endrun(0);
}
#endif
