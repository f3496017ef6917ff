// The output stream and the ends of a run and of a statement.
#include "run/run.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

// The longest diagnostic written in one piece: a trace line's term is cut to
// 200 characters, so every line the program writes fits.
constexpr std::size_t DiagLine = 512;

std::FILE* Output = stdout;
std::FILE* Diagnostics = stderr;
int OutputFd = -1;
char* StackLimit = nullptr;
const char* DepthPhase = "fterm";
// A write of the transcript has failed: to Output, or with the events on,
// from the capture to the transcript's own stream.
static bool outputfailed() { return std::ferror(Output) || (EventsOn && transcriptfailed()); }
// Why the first failed write to the output failed (an errno value); 0 while
// none has, or when the C library gave no reason.
static int OutputError = 0;
volatile std::sig_atomic_t Interrupts = 0;
std::int32_t InterruptsTaken = 0;
bool InterruptEnds = true;
bool InterruptsSteer = false;
void (*StepWatch)() = nullptr;
bool StatementsStopped = false;
int EndingStop = -1;
char LimitNote[LimitNoteSize] = "";

void notelimit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(LimitNote, sizeof LimitNote, format, args);
    va_end(args);
}

// The transcript's buffer: big enough that a run writing to a file makes
// few system calls.
constexpr std::size_t TranscriptBuffer = std::size_t(1) << 16;

// A descriptor under one of the process's own streams, and the reason of the
// first write to it that failed (0 while none has).
struct Channel {
    int fd;
    int error;
    char last;  // the last byte written, a line end before any
};
static Channel StandardOutput{STDOUT_FILENO, 0, '\n'};
static Channel StandardError{STDERR_FILENO, 0, '\n'};
bool DiagOwnLine = false;

// The write under the process's own streams: all of data, going on after a
// signal and after a short write; on a failure, as many bytes as were
// written (the C library then marks the stream's error), with the reason
// kept in the channel.
static ssize_t channelwrite(void* cookie, const char* data, std::size_t size) {
    Channel& c = *static_cast<Channel*>(cookie);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(c.fd, data + done, size - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;  // interrupted before a byte was written: write again
        } else {
            if (done > 0) c.last = data[done - 1];
            if (c.error == 0) c.error = n < 0 ? errno : EIO;  // no progress and no reason
            break;
        }
    }
    if (done > 0) c.last = data[done - 1];
    return ssize_t(done);
}

static std::FILE* OwnOutput = nullptr;  // the stream over StandardOutput, once made
static std::FILE* OwnErrors = nullptr;  // the stream over StandardError, once made

static std::FILE* channelstream(Channel& c, int mode, char* buffer, std::size_t size) {
    cookie_io_functions_t io{};
    io.write = channelwrite;
    std::FILE* f = fopencookie(&c, "w", io);
    if (f == nullptr) return c.fd == STDOUT_FILENO ? stdout : stderr;  // no memory: the library's own
    std::setvbuf(f, buffer, mode, size);
    return f;
}

std::FILE* standardoutput() {
    static char buffer[TranscriptBuffer];
    if (OwnOutput == nullptr) OwnOutput = channelstream(StandardOutput, _IOFBF, buffer, sizeof buffer);
    return OwnOutput;
}

std::FILE* standarderror() {
    if (OwnErrors == nullptr) OwnErrors = channelstream(StandardError, _IONBF, nullptr, 0);
    return OwnErrors;
}

void outf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Output, format, args);
    va_end(args);
}

// Writes "kestrivo: ", lead and the formatted text as one line on
// Diagnostics, and with the events on the same line (without its line end)
// as a "diagnostic" event.  Standard error is unbuffered, so the line is put
// together first and written at once: one write a line, even for --stats
// after every statement.
static void diagv(const char* lead, const char* format, va_list args) {
    char line[DiagLine];
    int head = std::snprintf(line, sizeof line, "kestrivo: %s", lead);
    if (head < 0 || std::size_t(head) >= sizeof line) head = 0;  // a lead never is that long
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(line + head, sizeof line - std::size_t(head), format, args);
    if (n < 0) n = 0;
    std::string longer;  // a line too long for the buffer
    std::string_view text(line, std::size_t(head + n));
    if (std::size_t(head + n) + 1 >= sizeof line) {
        longer.assign(line, std::size_t(head));
        longer.resize(std::size_t(head + n));
        std::vsnprintf(longer.data() + head, std::size_t(n) + 1, format, again);
        text = longer;
    } else {
        line[head + n] = '\n';
    }
    va_end(again);
    if (EventsOn) eventwrite("diagnostic", {{"text", text}});
    // On a terminal the transcript shares: what it has written goes out
    // first, and a line it left open (a collection report, the print
    // operator's text) is ended on this side, so the message starts a line.
    if (DiagOwnLine && Output == OwnOutput && Diagnostics == OwnErrors) {
        std::fflush(Output);
        if (StandardOutput.last != '\n') {
            std::fputc('\n', Diagnostics);
            StandardOutput.last = '\n';
        }
    }
    if (longer.empty()) {
        std::fwrite(line, 1, text.size() + 1, Diagnostics);
    } else {
        longer += '\n';
        std::fwrite(longer.data(), 1, longer.size(), Diagnostics);
    }
}

void diagf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    diagv("", format, args);
    va_end(args);
}

// Flushes the output and keeps the reason of the first failed write: the one
// the process's own transcript kept when it failed, else errno as the flush
// leaves it (a caller's stream).  True while every write of the run has
// succeeded.
static bool flushed() {
    errno = 0;
    if (std::fflush(Output) != 0 && OutputError == 0) OutputError = errno;
    if (EventsOn && !eventsflush() && OutputError == 0) OutputError = errno;
    if (StandardOutput.error != 0) OutputError = StandardOutput.error;  // the reason it kept
    return !outputfailed();
}

void outflush() {
    if (!flushed()) endrun(1);
}

void outcheck() {
    if (outputfailed()) endrun(1);
}

static bool FilesLost = false;  // filelost was called in this run
void filelost() { FilesLost = true; }

std::FILE* opennewfile(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "w");
    if (f == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return f;
}

void filenotwritten(const char* path) {
    if (errno == ELOOP) diagf("cannot write '%s': it is a symbolic link", path);
    else diagf("cannot write '%s': %s", path, std::strerror(errno));
    filelost();
}

int outclose(int status) {
    if (FilesLost && (status == 0 || status == 3)) status = 1;
    FilesLost = false;  // the next run in this process starts clean
    if (!flushed()) {
        if (OutputError != 0)
            diagf("write error: %s", std::strerror(OutputError));
        else
            diagf("write error");
        OutputError = 0;  // the next run in this process starts clean
        StandardOutput.error = 0;
        std::fflush(Diagnostics);
        status = 1;
    }
    eventsclose(status);
    return status;
}

bool WarnOn = false;

void warnf(std::int64_t line, std::int32_t column, const char* format, ...) {
    char lead[64];
    if (column > 0)
        std::snprintf(lead, sizeof lead, "%lld:%d: warning: ", static_cast<long long>(line), int(column));
    else
        std::snprintf(lead, sizeof lead, "%lld: warning: ", static_cast<long long>(line));
    va_list args;
    va_start(args, format);
    if (EventsOn) {
        va_list again;
        va_copy(again, args);
        int n = std::vsnprintf(nullptr, 0, format, again);
        va_end(again);
        std::string text(std::size_t(n > 0 ? n : 0), '\0');
        va_copy(again, args);
        std::vsnprintf(text.data(), text.size() + 1, format, again);
        va_end(again);
        eventwrite("warning", {{"line", line}, {"column", column}, {"text", text}});
    }
    diagv(lead, format, args);
    va_end(args);
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

void takeinterrupt() {
    InterruptsTaken = std::int32_t(Interrupts);
    if (InterruptsTaken >= 2 && InterruptEnds) {
        diagf("interrupted again: the run ends");
        endrun(3);
    }
}

void interruptagain() {
    if (Interrupts >= 2 && InterruptEnds) takeinterrupt();
}

[[noreturn]] void depthover() {
    if (DepthPhase != nullptr) {
        outpart(Part::Report);  // it may cut a print short in the middle of its line
        outf("depth is overflow in %s\n", DepthPhase);
    }
    stopstatement(Stop::Depth);
}

#ifdef KESTRIVO_FUZZ
std::uint64_t FuzzSteps = 0;
void fuzzstep() {
    if (++FuzzSteps > FuzzStepBudget) endrun(0);
}
#endif
