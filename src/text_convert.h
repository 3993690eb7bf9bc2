// UTF-16 <-> UTF-8 conversion used by the library's wide text mode.
//
// Internal to the library (not installed); tests, fuzzers and benchmarks
// include it directly. No function here allocates except Wide2UTF, none
// throws, and none keeps state.
//
// Ill-formed input never makes a conversion fail: each ill-formed sequence
// becomes U+FFFD, one per maximal subpart for UTF-8 input (the Unicode
// standard's recommended practice), and each unpaired surrogate in UTF-16
// input becomes U+FFFD. The output is byte-for-byte what ICU's
// u_strToUTF8WithSub / u_strFromUTF8WithSub produce with substitution 0xFFFD.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mokavi::text {

// ---- Length-based core ------------------------------------------------------
// `src` points at `length` code units; NUL has no special meaning.

// UTF-8 bytes needed for the UTF-16 input.
std::size_t utf8_length_from_utf16(const char16_t* src, std::size_t length) noexcept;
// Writes exactly utf8_length_from_utf16(src, length) bytes to `dst` (no
// terminator added) and returns that count.
std::size_t convert_utf16_to_utf8(const char16_t* src, std::size_t length, char* dst) noexcept;

// UTF-16 units needed for the UTF-8 input.
std::size_t utf16_length_from_utf8(const char* src, std::size_t length) noexcept;
// Converts as many whole characters as fit into `capacity` units of `dst`,
// never writing half a surrogate pair, and returns the units written. The
// whole input fits when capacity >= utf16_length_from_utf8(src, length).
std::size_t convert_utf8_to_utf16(const char* src, std::size_t length, char16_t* dst,
                                  std::size_t capacity) noexcept;

// Units before the first zero unit.
std::size_t utf16_strlen(const char16_t* text) noexcept;

// ---- The library's NUL-terminated bridge ------------------------------------

// Text substituted when a conversion to UTF-8 cannot produce a buffer; as
// Perl source it is a comment.
inline constexpr char kWide2UtfFallback[] = "#Wide2UTF failed";
inline constexpr std::size_t kWide2UtfFallbackSize = 50;

// Converts the NUL-terminated UTF-16 `text` into a new NUL-terminated UTF-8
// buffer from malloc, sized exactly (measured first, allocated once). If that
// allocation fails, returns a 50-byte malloc'd buffer holding
// kWide2UtfFallback; if even that fails, returns nullptr. The caller frees it.
char* Wide2UTF(const char16_t* text) noexcept;

// UTF-16 units of the NUL-terminated UTF-8 `utf8`, terminator not counted,
// clamped to INT32_MAX.
std::int32_t UTF2WideLen(const char* utf8) noexcept;
// Same, for the first `length` bytes of `utf8` (which need not be
// NUL-terminated).
std::int32_t UTF2WideLen(const char* utf8, std::size_t length) noexcept;

// Converts `length` bytes of UTF-8 into `buffer`, which holds `capacity`
// units, always NUL-terminated when capacity > 0: the longest prefix of whole
// characters that fits in capacity - 1 units, then a zero unit. Nothing is
// written at or past buffer[capacity]. Returns the units written including
// the terminator when the whole text fitted, 0 when it was cut short or
// capacity <= 0.
std::int32_t UTF2Wide(const char* utf8, std::size_t length, char16_t* buffer,
                      std::int32_t capacity) noexcept;
// Same for a NUL-terminated `utf8`.
std::int32_t UTF2Wide(const char* utf8, char16_t* buffer, std::int32_t capacity) noexcept;

}  // namespace mokavi::text
