// ICU's substituting converters (U+FFFD): the output our converter must
// match byte for byte. Shared by the conversion tests and the fuzzers.
#pragma once

#include <unicode/ustring.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace mokavi_oracle {

// Preflight, then convert. False only when ICU reports an error.
inline bool icu_to_utf8(std::u16string_view in, std::string& out) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strToUTF8WithSub(nullptr, 0, &needed, in.data(), static_cast<int32_t>(in.size()), 0xFFFD,
                       nullptr, &status);
    out.assign(static_cast<std::size_t>(needed) + 1, '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &needed, in.data(),
                       static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &status);
    out.resize(static_cast<std::size_t>(needed));
    return U_SUCCESS(status);
}

inline bool icu_to_utf16(std::string_view in, std::u16string& out) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = 0;
    u_strFromUTF8WithSub(nullptr, 0, &needed, in.data(), static_cast<int32_t>(in.size()), 0xFFFD,
                         nullptr, &status);
    out.assign(static_cast<std::size_t>(needed) + 1, u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &needed, in.data(),
                         static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &status);
    out.resize(static_cast<std::size_t>(needed));
    return U_SUCCESS(status);
}

}  // namespace mokavi_oracle
