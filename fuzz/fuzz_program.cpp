// libFuzzer target: runs arbitrary program text through the whole
// interpreter in-process, as the command line would, with a small pool and a
// small token array so that collections, exhaustion and the overflow stops
// are reached often.
//
// Input layout:
//   byte 0   the pool: its low two bits pick the highest block number
//            (0, 0, 1 or 2); a value of 255 asks for block number 11, the
//            smallest pool whose collector can overflow its mark stack
//   byte 1   the token capacity: 0 to 15 as it stands (the tiny capacities
//            stop in start-up or in the first statements), otherwise
//            16 + 4 * (byte - 16)
//   rest     the program text, fed to the interpreter as its input stream
//
// Everything the interpreter prints goes to /dev/null; what is checked is that
// no input crashes it, reads or writes out of bounds, or hits undefined
// behaviour (the sanitizers), and that every run ends with status 0 or 1.
#include "driver/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::FILE* Sink = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Sink = std::fopen("/dev/null", "w");
    if (Sink == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    int lastblock = data[0] == 255 ? 11 : (data[0] & 3) == 3 ? 2 : (data[0] & 3) == 2 ? 1 : 0;
    int tokens = data[1] < 16 ? data[1] : 16 + 4 * (data[1] - 16);
    // fmemopen refuses an empty buffer on some C libraries: an empty program
    // is a buffer holding nothing but what the interpreter would reach anyway.
    static const char empty[1] = {0};
    const void* text = size > 2 ? static_cast<const void*>(data + 2) : empty;
    std::size_t length = size > 2 ? size - 2 : 0;
    std::FILE* input = fmemopen(const_cast<void*>(text), length > 0 ? length : 1, "r");
    if (input == nullptr) std::abort();
    if (length == 0) std::fgetc(input);  // consume the placeholder byte

    std::string block = std::to_string(lastblock);
    std::string capacity = std::to_string(tokens);
    const char* argv[] = {"kestrivo", "fuzz-input", block.c_str(), capacity.c_str(), nullptr};
    FuzzSteps = 0;  // the step budget is per program
    int status = runkestrivo(4, argv, input, Sink);
    std::fclose(input);
    // 2 and 3 cannot come from this command line (no option, no statement
    // steered to a stop): either would be a fault.
    if (status != 0 && status != 1) std::abort();
    return 0;
}
