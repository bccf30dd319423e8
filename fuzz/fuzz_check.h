#pragma once

#include <cstdio>
#include <cstdlib>

// A property a fuzz target holds the code to: when it fails, the input is a finding, so the
// process stops as a sanitizer would and libFuzzer keeps the input.
inline void fuzz_require(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}
