#pragma once
// FM_CHECK: an invariant of our own code that stays on in release builds.
// Never use it on input from the network or from a device document; that
// input gets quiet, defined handling instead.

#include <cstdio>
#include <cstdlib>

#define FM_CHECK(cond, msg)                                                                        \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #cond, msg); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
