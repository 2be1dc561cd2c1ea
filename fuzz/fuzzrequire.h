#pragma once

#include <cstdio>
#include <cstdlib>

// abort() rather than assert(): the invariants must hold in every build type.
#define FUZZ_REQUIRE(condition)                                                                              \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "invariant failed at %s:%d: %s\n", __FILE__, __LINE__, #condition);         \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
