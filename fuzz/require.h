#pragma once

#include <cstdlib>

// A broken invariant: the fuzzer keeps the input that broke it.
inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}
