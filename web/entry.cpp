// The interpreter as a WebAssembly module: the page's worker hands it a
// program text and the words of a command line, and reads back the
// transcript.  The run is the same runkestrivo as the console binary's; only
// its input and output are memory instead of files.
//
// What the worker gets back:
//   - the transcript, the bytes the console binary would write to standard
//     output, from webtranscript() and webtranscriptsize();
//   - what it would write to standard error (statistics, diagnostics), from
//     webdiagnostics() and webdiagnosticssize();
//   - the graph files that --dot=DIR writes, from the module's in-memory file
//     system.
//
// Both streams are unbuffered, so their buffer and size are current after
// every write.  When the browser's own call stack runs out in the
// middle of a run, the module traps with no unwinding of ours; the worker can
// then still read what was printed up to that point, and starts a fresh
// module for the next run.
#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

// A memory stream and what it has taken so far.
struct Capture {
    char* buffer = nullptr;  // open_memstream's buffer, owned by the stream
    std::size_t size = 0;    // bytes written so far
    std::FILE* stream = nullptr;
};
static Capture Transcript;
static Capture Errors;

// Forgets the last run's text and opens a fresh stream.
static bool capture(Capture& c) {
    if (c.stream != nullptr) std::fclose(c.stream);
    std::free(c.buffer);
    c = Capture{};
    c.stream = open_memstream(&c.buffer, &c.size);
    if (c.stream == nullptr) return false;
    std::setvbuf(c.stream, nullptr, _IONBF, 0);
    return true;
}

extern "C" {

// Runs one program.  program: its text of size bytes (it may hold zero
// bytes).  words: the command line after the program name, one word per
// line, e.g. "--stats\n--dot=/dot\n-\n5\n1000".  Returns the exit status.
EMSCRIPTEN_KEEPALIVE int webrun(const char* program, int size, const char* words) {
    if (!capture(Transcript) || !capture(Errors)) return 1;

    // A memory stream of no bytes cannot be opened; the empty program is
    // the empty file.
    std::FILE* input = size > 0 ? fmemopen(const_cast<char*>(program), std::size_t(size), "r")
                                : std::fopen("/dev/null", "r");
    if (input == nullptr) return 1;

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

    int status = runkestrivo(int(line.size()), argv.data(), input, Transcript.stream, Errors.stream);
    std::fclose(input);
    return status;
}

EMSCRIPTEN_KEEPALIVE const char* webtranscript() { return Transcript.buffer; }
EMSCRIPTEN_KEEPALIVE int webtranscriptsize() { return int(Transcript.size); }
EMSCRIPTEN_KEEPALIVE const char* webdiagnostics() { return Errors.buffer; }
EMSCRIPTEN_KEEPALIVE int webdiagnosticssize() { return int(Errors.size); }

}  // extern "C"
