// The interpreter as a WebAssembly module: the page's worker hands it a
// program text and the words of a command line, and reads back the
// transcript.  The run is the same runkestrivo as the console binary's; only
// its input and output are memory instead of files.
//
// What the worker gets back:
//   - the transcript, the bytes the console binary would write to standard
//     output, from webtranscript() and webtranscriptsize();
//   - standard error's lines (the statistics), through the module's printErr;
//   - the graph files that --dot=DIR writes, from the module's in-memory file
//     system.
//
// The transcript stream is unbuffered, so the two pointers below are current
// after every write.  When the browser's own call stack runs out in the
// middle of a run, the module traps with no unwinding of ours; the worker can
// then still read what was printed up to that point, and starts a fresh
// module for the next run.
#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

static char* TranscriptBuffer = nullptr;   // open_memstream's buffer, owned by the stream
static std::size_t TranscriptSize = 0;      // bytes written so far
static std::FILE* TranscriptStream = nullptr;

extern "C" {

// Runs one program.  program: its text of size bytes (it may hold zero
// bytes).  words: the command line after the program name, one word per
// line, e.g. "--stats\n--dot=/dot\n-\n5\n1000".  Returns the exit status.
EMSCRIPTEN_KEEPALIVE int webrun(const char* program, int size, const char* words) {
    if (TranscriptStream != nullptr) std::fclose(TranscriptStream);
    std::free(TranscriptBuffer);
    TranscriptBuffer = nullptr;
    TranscriptSize = 0;
    TranscriptStream = open_memstream(&TranscriptBuffer, &TranscriptSize);
    if (TranscriptStream == nullptr) return 1;
    std::setvbuf(TranscriptStream, nullptr, _IONBF, 0);

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

    int status = runkestrivo(int(line.size()), argv.data(), input, TranscriptStream);
    std::fclose(input);
    std::fflush(stderr);
    return status;
}

EMSCRIPTEN_KEEPALIVE const char* webtranscript() { return TranscriptBuffer; }
EMSCRIPTEN_KEEPALIVE int webtranscriptsize() { return int(TranscriptSize); }

}  // extern "C"
