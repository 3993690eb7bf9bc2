// Shared by the conversion fuzzers: ICU as the oracle and a check that
// aborts, which libFuzzer reports as a crash with the offending input.
#pragma once

#include <unicode/ustring.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

inline std::string icu_to_utf8(std::u16string_view in) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strToUTF8WithSub(nullptr, 0, &needed, in.data(), static_cast<int32_t>(in.size()), 0xFFFD,
                       nullptr, &status);
    std::string out(static_cast<std::size_t>(needed) + 1, '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &needed, in.data(),
                       static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &status);
    FUZZ_CHECK(U_SUCCESS(status));
    out.resize(static_cast<std::size_t>(needed));
    return out;
}

inline std::u16string icu_to_utf16(std::string_view in) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strFromUTF8WithSub(nullptr, 0, &needed, in.data(), static_cast<int32_t>(in.size()), 0xFFFD,
                         nullptr, &status);
    std::u16string out(static_cast<std::size_t>(needed) + 1, u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &needed, in.data(),
                         static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &status);
    FUZZ_CHECK(U_SUCCESS(status));
    out.resize(static_cast<std::size_t>(needed));
    return out;
}
