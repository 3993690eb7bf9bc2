// x86-64 vector kernels. SSE2 is part of the architecture, so the SSE2
// kernel needs no check; the AVX2 kernel is compiled with a target
// attribute and only offered when the CPU reports AVX2.
//
// Every loop only loads bytes inside [src, src + length) and finishes the
// last partial block with the per-character steps, so the kernels stay
// clean under ASan and valgrind.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <cstring>

#include "text_convert_internal.h"

namespace mokavi::text::detail::x86 {
namespace {

// ---- SSE2: ASCII a block at a time ---------------------------------------

std::size_t sse2_utf8_length_from_utf16(const char16_t* src, std::size_t length) noexcept {
    // Bytes = 3 per unit, minus 2 per ASCII unit, minus 1 per other unit
    // below U+0800, minus 2 per high surrogate followed by a low one (the
    // pair is 3 + 3 - 2 = 4 bytes). Lanes accumulate the deductions as
    // negative counts.
    std::size_t i = 0;
    std::size_t deductions = 0;
    const __m128i ascii_bits = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i two_byte_bits = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate_bits = _mm_set1_epi16(static_cast<short>(0xFC00));
    const __m128i high_tag = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i low_tag = _mm_set1_epi16(static_cast<short>(0xDC00));
    const __m128i zero = _mm_setzero_si128();
    while (i + 9 <= length) {
        __m128i acc = zero;
        // At most 4 deducted per lane per round: flush long before int16 overflows.
        for (int round = 0; round < 4096 && i + 9 <= length; ++round, i += 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 1));
            const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(units, ascii_bits), zero);
            const __m128i below_800 = _mm_cmpeq_epi16(_mm_and_si128(units, two_byte_bits), zero);
            const __m128i pair = _mm_and_si128(
                _mm_cmpeq_epi16(_mm_and_si128(units, surrogate_bits), high_tag),
                _mm_cmpeq_epi16(_mm_and_si128(next, surrogate_bits), low_tag));
            acc = _mm_add_epi16(acc, _mm_add_epi16(ascii, below_800));
            acc = _mm_add_epi16(acc, _mm_add_epi16(pair, pair));
        }
        alignas(16) std::int32_t sums[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(acc, _mm_set1_epi16(-1)));
        deductions += static_cast<std::size_t>(sums[0]) + static_cast<std::size_t>(sums[1]) +
                      static_cast<std::size_t>(sums[2]) + static_cast<std::size_t>(sums[3]);
    }
    // A pair straddling i had its high unit counted as 1 byte above, so the
    // reference counting its low unit alone as 3 completes the 4.
    return 3 * i - deductions + scalar::utf8_length_from_utf16(src + i, length - i);
}

std::size_t sse2_convert_utf16_to_utf8(const char16_t* src, std::size_t length,
                                       char* dst) noexcept {
    auto* out = reinterpret_cast<unsigned char*>(dst);
    const __m128i ascii_bits = _mm_set1_epi16(static_cast<short>(0xFF80));
    std::size_t i = 0;
    while (i < length) {
        if (i + 16 <= length) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 8));
            const __m128i any = _mm_and_si128(_mm_or_si128(a, b), ascii_bits);
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
                out += 16;
                i += 16;
                continue;
            }
            // Mixed block: per character up to its end, then try vectors again.
            const std::size_t block_end = i + 16;
            while (i < block_end) i += encode_utf16_char(src, i, length, out);
            continue;
        }
        i += encode_utf16_char(src, i, length, out);
    }
    return static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(dst));
}

// Units for the character or subpart at s[i], advancing i past it.
inline std::size_t utf8_char_units(const unsigned char* s, std::size_t& i,
                                   std::size_t length) noexcept {
    const auto decoded = decode_utf8(s + i, length - i);
    i += decoded.bytes;
    return decoded.code_point >= 0x10000 ? 2 : 1;
}

std::size_t sse2_utf16_length_from_utf8(const char* src, std::size_t length) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0, units = 0;
    while (i + 16 <= length) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(bytes) == 0) {
            units += 16;
            i += 16;
            continue;
        }
        const std::size_t block_end = i + 16;
        while (i < block_end) units += utf8_char_units(s, i, length);
    }
    while (i < length) units += utf8_char_units(s, i, length);
    return units;
}

// Writes the character or subpart at s[i] if it fits; false when it does not.
inline bool put_utf8_char(const unsigned char* s, std::size_t& i, std::size_t length,
                          char16_t* dst, std::size_t& o, std::size_t capacity) noexcept {
    const auto decoded = decode_utf8(s + i, length - i);
    const char32_t cp = decoded.code_point;
    if (cp < 0x10000) {
        if (o == capacity) return false;
        dst[o++] = static_cast<char16_t>(cp);
    } else {
        if (capacity - o < 2) return false;
        dst[o++] = static_cast<char16_t>(0xD7C0 + (cp >> 10));
        dst[o++] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
    i += decoded.bytes;
    return true;
}

Utf8ToUtf16Progress sse2_convert_utf8_to_utf16(const char* src, std::size_t length, char16_t* dst,
                                               std::size_t capacity) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0, o = 0;
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= length && capacity - o >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(bytes) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o + 8),
                             _mm_unpackhi_epi8(bytes, zero));
            o += 16;
            i += 16;
            continue;
        }
        const std::size_t block_end = i + 16;
        while (i < block_end) {
            if (!put_utf8_char(s, i, length, dst, o, capacity)) return {o, i};
        }
    }
    while (i < length) {
        if (!put_utf8_char(s, i, length, dst, o, capacity)) break;
    }
    return {o, i};
}

}  // namespace

const Kernel kSse2Kernel{"sse2", sse2_utf8_length_from_utf16, sse2_convert_utf16_to_utf8,
                         sse2_utf16_length_from_utf8, sse2_convert_utf8_to_utf16};

// Placeholder until the AVX2 paths land: same functions, separate entry.
const Kernel kAvx2Kernel{"avx2", sse2_utf8_length_from_utf16, sse2_convert_utf16_to_utf8,
                         sse2_utf16_length_from_utf8, sse2_convert_utf8_to_utf16};

bool cpu_has_avx2() noexcept {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}

}  // namespace mokavi::text::detail::x86

#endif  // __x86_64__
