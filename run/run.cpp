// The output stream and the ends of a run and of a statement.
#include "run/run.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

// The longest diagnostic written in one piece: a trace line's term is cut to
// 200 characters, so every line the program writes fits.
constexpr std::size_t DiagLine = 512;

std::FILE* Output = stdout;
std::FILE* Diagnostics = stderr;
char* StackLimit = nullptr;
const char* DepthPhase = "fterm";
// Why the first failed write to the output failed (an errno value); 0 while
// none has, or when the C library gave no reason.
static int OutputError = 0;
volatile std::sig_atomic_t Interrupted = 0;
bool StatementsStopped = false;

void outf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Output, format, args);
    va_end(args);
}

// Standard error is unbuffered, so the line is put together first and
// written at once: one write a line, even for --stats after every statement.
void diagf(const char* format, ...) {
    static const char Prefix[] = "kestrivo: ";
    char line[DiagLine];
    std::memcpy(line, Prefix, sizeof Prefix - 1);
    std::size_t room = sizeof line - (sizeof Prefix - 1) - 1;  // and the line end
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line + sizeof Prefix - 1, room + 1, format, args);
    va_end(args);
    if (n >= 0 && std::size_t(n) <= room) {
        std::size_t length = sizeof Prefix - 1 + std::size_t(n);
        line[length++] = '\n';
        std::fwrite(line, 1, length, Diagnostics);
        return;
    }
    std::fputs(Prefix, Diagnostics);  // a line too long for the buffer goes in pieces
    va_start(args, format);
    std::vfprintf(Diagnostics, format, args);
    va_end(args);
    std::fputc('\n', Diagnostics);
}

// Flushes the output and keeps the reason of the first failed write.  True
// while every write of the run has succeeded.
static bool flushed() {
    errno = 0;
    if (std::fflush(Output) != 0 && OutputError == 0) OutputError = errno;
    return !std::ferror(Output);
}

void outflush() {
    if (!flushed()) endrun(1);
}

void outcheck() {
    if (std::ferror(Output)) endrun(1);
}

int outclose(int status) {
    if (flushed()) return status;
    if (OutputError != 0)
        diagf("write error: %s", std::strerror(OutputError));
    else
        diagf("write error");
    OutputError = 0;  // the next run in this process starts clean
    std::fflush(Diagnostics);
    return 1;
}

bool WarnOn = false;

void warnf(std::int64_t line, std::int32_t column, const char* format, ...) {
    if (column > 0)
        std::fprintf(Diagnostics, "kestrivo: %lld:%d: warning: ", static_cast<long long>(line), int(column));
    else
        std::fprintf(Diagnostics, "kestrivo: %lld: warning: ", static_cast<long long>(line));
    va_list args;
    va_start(args, format);
    std::vfprintf(Diagnostics, format, args);
    va_end(args);
    std::fputc('\n', Diagnostics);
}

[[noreturn]] void endrun(int status) {
    flushed();  // a failure is named by outclose at the end of the run
    throw RunEnd{status};
}

[[noreturn]] void theend() {
    outs("THE END...................\n");
    endrun(StatementsStopped ? 3 : 0);
}

[[noreturn]] void stopstatement(Stop why) { throw StatementStop{why, false}; }

[[noreturn]] void stopmidline(Stop why) { throw StatementStop{why, true}; }

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
