// The interpreter as a WebAssembly module: the page's worker hands it a
// program text and the words of a command line, and the run is the same
// runkestrivo as the console binary's; only its input and output are memory
// and the worker instead of files.
//
// What the run writes comes back as it is written.  The transcript (what
// the console binary writes to standard output) and standard error
// (statistics, warnings, reports) are each a stream whose writes call the
// worker's Module.onwrite(stream, bytes), stream 1 or 2, a line at a time.
// The worker posts them to the page in batches, at most some milliseconds
// after they were written, also in the middle of a long reduction, from
// which the reducer calls Module.onpoll (StepWatch): so when the page stops
// a run by ending the worker, what was printed up to then is on the page
// already.  The graph files of --dot go to the module's in-memory file
// system, where the worker picks each one up as it is closed.
//
// When the browser's own call stack runs out in the middle of a run, the
// module traps with no unwinding of ours; what was written up to the last
// line end has reached the worker, and it starts a fresh instance for the
// next run.
#include "driver/driver.h"
#include "run/run.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

// A line of a stream is handed over whole when it fits this buffer; a longer
// one (a term of thousands of items) goes in pieces of this size.
constexpr std::size_t WriteBuffer = 16384;

// The stream numbers onwrite is given, as the console's file descriptors.
constexpr int TranscriptStream = 1;
constexpr int ErrorStream = 2;

EM_JS(void, webwrite, (int stream, const char* bytes, int size), {
    Module["onwrite"](stream, HEAPU8.subarray(bytes, bytes + size));
});

// In the middle of a reduction: the worker posts what was written since it
// last posted, when that was long enough ago.
EM_JS(void, webpoll, (), { Module["onpoll"](); });

static ssize_t writer(void* cookie, const char* bytes, std::size_t size) {
    webwrite(int(reinterpret_cast<std::intptr_t>(cookie)), bytes, int(size));
    return ssize_t(size);
}

// A stream whose lines go to the worker as each one ends; null when the
// C library has no memory for it.
static std::FILE* linestream(int stream) {
    cookie_io_functions_t io{nullptr, writer, nullptr, nullptr};
    std::FILE* f = fopencookie(reinterpret_cast<void*>(std::intptr_t(stream)), "w", io);
    if (f != nullptr) std::setvbuf(f, nullptr, _IOLBF, WriteBuffer);
    return f;
}

extern "C" {

// Runs one program.  program: its text of size bytes (it may hold zero
// bytes).  words: the command line after the program name, one word per
// line, e.g. "--stats\n--dot=/dot\n-\n5\n1000".  Returns the exit status;
// 1 without a run when the streams cannot be had.
EMSCRIPTEN_KEEPALIVE int webrun(const char* program, int size, const char* words) {
    std::FILE* transcript = linestream(TranscriptStream);
    std::FILE* errors = linestream(ErrorStream);
    // A memory stream of no bytes cannot be opened; the empty program is
    // the empty file.
    std::FILE* input = size > 0 ? fmemopen(const_cast<char*>(program), std::size_t(size), "r")
                                : std::fopen("/dev/null", "r");
    int status = 1;
    if (transcript != nullptr && errors != nullptr && input != nullptr) {
        std::vector<std::string> line{"kestrivo"};
        for (const char* w = words; *w != '\0';) {
            const char* end = w;
            while (*end != '\0' && *end != '\n') end++;
            line.emplace_back(w, end);
            w = *end == '\n' ? end + 1 : end;
        }
        std::vector<const char*> argv;
        for (const std::string& word : line) argv.push_back(word.c_str());
        argv.push_back(nullptr);
        EndingStop = -1;  // a command line refused leaves the run before it is reset
        StepWatch = webpoll;
        status = runkestrivo(int(line.size()), argv.data(), input, transcript, errors);
        StepWatch = nullptr;
    }
    for (std::FILE* f : {input, transcript, errors})
        if (f != nullptr) std::fclose(f);  // the last line, unended, goes too
    return status;
}

// The stop that ended the last run, when a statement's stop did: 0 the pool
// exhausted, 1 nesting too deep, 2 a statement that cannot be read; -1 when
// the run ended otherwise.
EMSCRIPTEN_KEEPALIVE int webendingstop() { return EndingStop; }

}  // extern "C"
