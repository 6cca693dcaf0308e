#pragma once
// What every fuzz target does when a property that must hold for any input
// does not: say which, and abort so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace fuzz
