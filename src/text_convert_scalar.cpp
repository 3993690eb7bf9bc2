// Portable per-character reference kernel.
#include "text_convert_internal.h"

namespace mokavi::text::scalar {

using detail::is_high_surrogate;
using detail::is_low_surrogate;

std::size_t utf8_length_from_utf16(const char16_t* src, std::size_t length) noexcept {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned unit = src[i];
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (is_high_surrogate(unit) && i + 1 < length && is_low_surrogate(src[i + 1])) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;  // BMP character, or an unpaired surrogate becoming U+FFFD
        }
    }
    return bytes;
}

std::size_t convert_utf16_to_utf8(const char16_t* src, std::size_t length, char* dst) noexcept {
    auto* out = reinterpret_cast<unsigned char*>(dst);
    for (std::size_t i = 0; i < length;) i += detail::encode_utf16_char(src, i, length, out);
    return static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(dst));
}

std::size_t utf16_length_from_utf8(const char* src, std::size_t length) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t units = 0;
    for (std::size_t i = 0; i < length;) {
        const auto decoded = detail::decode_utf8(s + i, length - i);
        units += decoded.code_point >= 0x10000 ? 2 : 1;
        i += decoded.bytes;
    }
    return units;
}

detail::Utf8ToUtf16Progress convert_utf8_to_utf16(const char* src, std::size_t length,
                                                  char16_t* dst, std::size_t capacity) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0, o = 0;
    while (i < length) {
        const auto decoded = detail::decode_utf8(s + i, length - i);
        const char32_t cp = decoded.code_point;
        if (cp < 0x10000) {
            if (o == capacity) break;
            dst[o++] = static_cast<char16_t>(cp);
        } else {
            if (capacity - o < 2) break;  // never half a pair
            dst[o++] = static_cast<char16_t>(0xD7C0 + (cp >> 10));
            dst[o++] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        }
        i += decoded.bytes;
    }
    return {o, i};
}

}  // namespace mokavi::text::scalar
