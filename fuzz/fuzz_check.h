#pragma once
// A property that must hold for any input: when it does not, say which and
// abort, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

namespace fuzz {
inline void check(bool condition, const char *what)
{
    if (!condition)
        std::fprintf(stderr, "invariant broken: %s\n", what), std::abort();
}
} // namespace fuzz
