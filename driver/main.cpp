// kestrivo [file [lastblock [tokencapacity]]]
#include "driver/driver.h"

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define KESTRIVO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRIVO_ASAN 1
#endif
#endif
#ifdef KESTRIVO_ASAN
// A pool or token array too large for the machine is reported ("MEMORY
// OVER"), so a refused allocation must come back as null here too.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

int main(int argc, char** argv) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return runkestrivo(argc, argv);
}
