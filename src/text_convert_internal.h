// Internals of the UTF-16 <-> UTF-8 converter: the portable reference
// kernel, the per-character steps every kernel shares for tails and
// ill-formed stretches, and the table of kernels the dispatcher picks from.
// Tests and fuzzers use it to run every kernel the CPU supports against ICU.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "text_convert.h"

namespace mokavi::text {

namespace detail {

// What a bounded UTF-8 -> UTF-16 conversion achieved: units written and
// input bytes consumed (consumed == length means the whole text fitted).
struct Utf8ToUtf16Progress {
    std::size_t units;
    std::size_t consumed;
};

// One complete implementation of the length-based core.
struct Kernel {
    const char* name;
    std::size_t (*utf8_length_from_utf16)(const char16_t* src, std::size_t length) noexcept;
    std::size_t (*convert_utf16_to_utf8)(const char16_t* src, std::size_t length,
                                         char* dst) noexcept;
    std::size_t (*utf16_length_from_utf8)(const char* src, std::size_t length) noexcept;
    Utf8ToUtf16Progress (*convert_utf8_to_utf16)(const char* src, std::size_t length,
                                                 char16_t* dst, std::size_t capacity) noexcept;
};

// Every kernel this CPU can run, the portable reference first and the one
// the public functions use last.
std::span<const Kernel> usable_kernels() noexcept;
const Kernel& active_kernel() noexcept;

// Wide2UTF with the allocator as a parameter, so the out-of-memory
// fallback can be exercised.
char* wide_to_utf8_with(const char16_t* text, void* (*allocate)(std::size_t)) noexcept;

// ---- Per-character steps ------------------------------------------------

inline constexpr char32_t kReplacement = 0xFFFD;

constexpr bool is_high_surrogate(unsigned unit) { return (unit & 0xFC00) == 0xD800; }
constexpr bool is_low_surrogate(unsigned unit) { return (unit & 0xFC00) == 0xDC00; }
constexpr bool is_continuation(unsigned byte) { return (byte & 0xC0) == 0x80; }

// Bytes of the UTF-8 sequence a lead byte announces; 0 for bytes that can
// never start one (continuations, C0, C1, F5..FF).
inline constexpr struct Utf8SequenceLengths {
    std::uint8_t of[256];
    constexpr Utf8SequenceLengths() : of{} {
        for (unsigned b = 0; b < 256; ++b) {
            of[b] = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
        }
    }
} kUtf8SequenceLength{};

struct DecodedChar {
    char32_t code_point;  // kReplacement for an ill-formed subpart
    std::size_t bytes;    // bytes consumed, at least 1
};

// Decodes the character (or maximal ill-formed subpart) at the start of
// `s`, which has `available` >= 1 bytes. A subpart ends at the first byte
// that cannot continue it; that byte is not consumed.
inline DecodedChar decode_utf8(const unsigned char* s, std::size_t available) noexcept {
    const unsigned lead = s[0];
    if (lead < 0x80) return {lead, 1};
    const unsigned length = kUtf8SequenceLength.of[lead];
    if (length == 0) return {kReplacement, 1};
    // The second byte's range excludes overlongs, surrogates and values
    // past U+10FFFF; later bytes are plain continuations.
    unsigned low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    else if (lead == 0xED) high = 0x9F;
    else if (lead == 0xF0) low = 0x90;
    else if (lead == 0xF4) high = 0x8F;
    if (available < 2 || s[1] < low || s[1] > high) return {kReplacement, 1};
    if (length == 2) return {((lead & 0x1F) << 6) | (s[1] & 0x3Fu), 2};
    if (available < 3 || !is_continuation(s[2])) return {kReplacement, 2};
    if (length == 3) return {((lead & 0x0F) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu), 3};
    if (available < 4 || !is_continuation(s[3])) return {kReplacement, 3};
    return {((lead & 0x07) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
                (s[3] & 0x3Fu),
            4};
}

// Encodes the character (or unpaired surrogate, as U+FFFD) starting at
// src[i] into `out`, returning the units consumed (1 or 2).
inline std::size_t encode_utf16_char(const char16_t* src, std::size_t i, std::size_t length,
                                     unsigned char*& out) noexcept {
    unsigned unit = src[i];
    if (unit < 0x80) {
        *out++ = static_cast<unsigned char>(unit);
        return 1;
    }
    if (unit < 0x800) {
        *out++ = static_cast<unsigned char>(0xC0 | (unit >> 6));
        *out++ = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        return 1;
    }
    if ((unit & 0xF800) == 0xD800) {
        if (is_high_surrogate(unit) && i + 1 < length && is_low_surrogate(src[i + 1])) {
            const char32_t cp = 0x10000 + ((unit - 0xD800) << 10) + (src[i + 1] - 0xDC00u);
            *out++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
            *out++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            return 2;
        }
        unit = kReplacement;
    }
    *out++ = static_cast<unsigned char>(0xE0 | (unit >> 12));
    *out++ = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (unit & 0x3F));
    return 1;
}

}  // namespace detail

// The portable reference kernel: plain per-character loops, used on CPUs
// without vector support and as the oracle the fast kernels are tested
// against.
namespace scalar {
std::size_t utf8_length_from_utf16(const char16_t* src, std::size_t length) noexcept;
std::size_t convert_utf16_to_utf8(const char16_t* src, std::size_t length, char* dst) noexcept;
std::size_t utf16_length_from_utf8(const char* src, std::size_t length) noexcept;
detail::Utf8ToUtf16Progress convert_utf8_to_utf16(const char* src, std::size_t length,
                                                  char16_t* dst, std::size_t capacity) noexcept;
}  // namespace scalar

#if defined(__x86_64__)
namespace detail::x86 {
// Whole ASCII blocks with SSE2, everything else per character.
extern const Kernel kSse2Kernel;
// Every kind of text in vector blocks; only valid when the CPU has AVX2.
extern const Kernel kAvx2Kernel;
bool cpu_has_avx2() noexcept;
}  // namespace detail::x86
#endif

}  // namespace mokavi::text
