// libFuzzer target: runs arbitrary program text through the whole
// interpreter in-process, as the command line would, with a small pool and a
// small token array so that collections, exhaustion and the overflow stops
// are reached often, and with the options the input picks.
//
// Input layout:
//   byte 0   the pool: its low two bits pick the highest block number
//            (0, 0, 1 or 2); a value of 255 asks for block number 11, the
//            smallest pool whose collector can overflow its mark stack
//   byte 1   the token capacity: 0 to 15 as it stands (the tiny capacities
//            stop in start-up or in the first statements), otherwise
//            16 + 4 * (byte - 16)
//   byte 2   the options, one bit each (FuzzOptions, bit 0 first)
//   rest     the program text, fed to the interpreter as its input stream
//
// Everything the interpreter prints goes to /dev/null, its pictures to a
// folder of the process's own; what is checked is that no input crashes it,
// reads or writes out of bounds, or hits undefined behaviour (the
// sanitizers), and that every run ends with status 0 or 1, or 3 where an
// option lets a statement stop and the run go on.
//
// With KESTRIVO_FUZZ_REPORT set in the environment the process says as it
// ends how many of the inputs it ran used each option ("fuzz: options: ..."):
// fuzz/run.sh replays the corpus so to report what the fuzzing exercised.
#include "driver/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

static std::FILE* Sink = nullptr;
static std::string DotFolder;  // --dot's folder, made at start, removed at exit

// The options byte 2 picks, bit 0 first; --dot writes in DotFolder.  A
// step limit small enough to stop many of the fuzzer's programs; a trace
// cut short, so that a long reduction costs its steps and not its lines.
struct FuzzOption {
    const char* word;
    bool stops;  // lets a statement stop and the run go on: status 3
};
static const FuzzOption FuzzOptions[8] = {
    {"--readback", false},   {"--trace=20", false}, {"--keep-going", true},
    {"--max-steps=300", true}, {"--warn", false},   {"--dot", false},
    {"--stats", false},      {"--events=-", false},
};
static std::uint64_t Inputs = 0;          // inputs run
static std::uint64_t OptionRuns[8] = {};  // of those, the ones with each option

static void report() {
    std::fprintf(stderr, "fuzz: options: %llu inputs", static_cast<unsigned long long>(Inputs));
    for (int i = 0; i < 8; i++)
        std::fprintf(stderr, ", %s %llu", FuzzOptions[i].word, static_cast<unsigned long long>(OptionRuns[i]));
    std::fprintf(stderr, "\n");
}

static void removefolder() {
    std::error_code ignored;
    std::filesystem::remove_all(DotFolder, ignored);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Sink = std::fopen("/dev/null", "w");
    if (Sink == nullptr) std::abort();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrivo-dot.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) std::abort();
    DotFolder = name.data();
    std::atexit(removefolder);
    if (std::getenv("KESTRIVO_FUZZ_REPORT") != nullptr) std::atexit(report);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    int lastblock = data[0] == 255 ? 11 : (data[0] & 3) == 3 ? 2 : (data[0] & 3) == 2 ? 1 : 0;
    int tokens = data[1] < 16 ? data[1] : 16 + 4 * (data[1] - 16);
    // fmemopen refuses an empty buffer on some C libraries: an empty program
    // is a buffer holding nothing but what the interpreter would reach anyway.
    static const char empty[1] = {0};
    const void* text = size > 3 ? static_cast<const void*>(data + 3) : empty;
    std::size_t length = size > 3 ? size - 3 : 0;
    std::FILE* input = fmemopen(const_cast<void*>(text), length > 0 ? length : 1, "r");
    if (input == nullptr) std::abort();
    if (length == 0) std::fgetc(input);  // consume the placeholder byte

    std::vector<std::string> words{"kestrivo"};
    bool stops = false;
    Inputs++;
    for (int i = 0; i < 8; i++) {
        if (!(data[2] >> i & 1)) continue;
        OptionRuns[i]++;
        stops = stops || FuzzOptions[i].stops;
        std::string word = FuzzOptions[i].word;
        if (word == "--dot") word += "=" + DotFolder;
        words.push_back(word);
    }
    words.insert(words.end(), {"fuzz-input", std::to_string(lastblock), std::to_string(tokens)});
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    FuzzSteps = 0;  // the step budget is per program
    int status = runkestrivo(int(words.size()), argv.data(), input, Sink, Sink);
    std::fclose(input);
    // 2 cannot come from these command lines, nor 3 without an option that
    // lets a statement stop (no Ctrl-C comes): either would be a fault.
    if (status != 0 && status != 1 && !(status == 3 && stops)) std::abort();
    return 0;
}
