// kestrivo [file [lastblock [tokencapacity]]]
#include "driver/driver.h"

#include <cstdio>
#include <malloc.h>

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
    // The C library's allocator, told two things that keep the address space
    // honest under a limit on it (the run's stack is sized from what is left):
    // big blocks always come straight from the system and go straight back
    // when freed, so the search for how much of a refused pool fits leaves
    // nothing behind (a fixed threshold turns off its rising); and the one
    // thread that allocates shares the main arena instead of reserving one of
    // its own.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 1);
    return runkestrivo(argc, argv);
}
