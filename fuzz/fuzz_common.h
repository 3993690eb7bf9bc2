// Shared by the conversion fuzzers: ICU as the oracle and a check that
// aborts, which libFuzzer reports as a crash with the offending input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "icu_oracle.h"

#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

inline std::string icu_to_utf8(std::u16string_view in) {
    std::string out;
    FUZZ_CHECK(mokavi_oracle::icu_to_utf8(in, out));
    return out;
}

inline std::u16string icu_to_utf16(std::string_view in) {
    std::u16string out;
    FUZZ_CHECK(mokavi_oracle::icu_to_utf16(in, out));
    return out;
}
