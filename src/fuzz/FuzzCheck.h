#pragma once

#include <cstdio>
#include <cstdlib>

// A broken rule found by a fuzz target: said, then an abort, which libFuzzer keeps as a crash and
// the replay test reports as a failure, in any build.
#define TOVAK_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)
