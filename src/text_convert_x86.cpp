// x86-64 vector kernels. SSE2 is part of the architecture, so the SSE2
// kernel needs no check; the AVX2 kernel is compiled with a target
// attribute and only offered when the CPU reports AVX2.
//
// Every loop only loads bytes inside [src, src + length) and finishes the
// last partial block with the per-character steps, so the kernels stay
// clean under ASan and valgrind.
#if defined(__x86_64__)

#include <immintrin.h>

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
        // At most 2 deducted per lane per round: flush long before int16 overflows.
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

// ---- AVX2: every kind of text in vector blocks ------------------------------

#define MOKAVI_AVX2 __attribute__((target("avx2,popcnt")))

struct ShuffleTables {
    // UTF-16 -> UTF-8: four units, each spread as [lead, middle, last, 0]
    // in a 32-bit lane, packed to their 1..3 bytes. Indexed by two bits per
    // unit: bit 0 "needs more than one byte", bit 1 "needs three".
    alignas(16) std::uint8_t pack_utf8[256][16];
    std::uint8_t pack_utf8_length[256];
    // UTF-8 -> UTF-16: eight 16-bit lanes, keeping those whose bit is set.
    alignas(16) std::uint8_t keep_units[256][16];

    constexpr ShuffleTables() : pack_utf8{}, pack_utf8_length{}, keep_units{} {
        for (unsigned index = 0; index < 256; ++index) {
            unsigned length = 0;
            for (unsigned unit = 0; unit < 4; ++unit) {
                const unsigned code = (index >> (2 * unit)) & 3;
                const unsigned first = code == 0 ? 2 : code == 1 ? 1 : 0;
                for (unsigned byte = first; byte < 3; ++byte) {
                    pack_utf8[index][length++] = static_cast<std::uint8_t>(4 * unit + byte);
                }
            }
            pack_utf8_length[index] = static_cast<std::uint8_t>(length);
            for (unsigned k = length; k < 16; ++k) pack_utf8[index][k] = 0x80;

            unsigned kept = 0;
            for (unsigned lane = 0; lane < 8; ++lane) {
                if ((index >> lane) & 1) {
                    keep_units[index][kept++] = static_cast<std::uint8_t>(2 * lane);
                    keep_units[index][kept++] = static_cast<std::uint8_t>(2 * lane + 1);
                }
            }
            for (unsigned k = kept; k < 16; ++k) keep_units[index][k] = 0x80;
        }
    }
};

constexpr ShuffleTables kShuffles{};

MOKAVI_AVX2 inline __m256i shuffle_pair(unsigned low_index, unsigned high_index,
                                        const std::uint8_t (*table)[16]) {
    const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(table[low_index]));
    const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(table[high_index]));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

MOKAVI_AVX2 inline __m256i splat16(unsigned value) {
    return _mm256_set1_epi16(static_cast<short>(value));
}

MOKAVI_AVX2 inline __m256i load256(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// Per-lane deductions (as negative counts) for 16 units, see the SSE2 kernel.
MOKAVI_AVX2 inline __m256i utf8_deductions(__m256i units, __m256i next) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ascii = _mm256_cmpeq_epi16(_mm256_and_si256(units, splat16(0xFF80)), zero);
    const __m256i below_800 = _mm256_cmpeq_epi16(_mm256_and_si256(units, splat16(0xF800)), zero);
    const __m256i pair = _mm256_and_si256(
        _mm256_cmpeq_epi16(_mm256_and_si256(units, splat16(0xFC00)), splat16(0xD800)),
        _mm256_cmpeq_epi16(_mm256_and_si256(next, splat16(0xFC00)), splat16(0xDC00)));
    return _mm256_add_epi16(_mm256_add_epi16(ascii, below_800), _mm256_add_epi16(pair, pair));
}

MOKAVI_AVX2 std::size_t avx2_utf8_length_from_utf16(const char16_t* src,
                                                   std::size_t length) noexcept {
    // Same deduction scheme as the SSE2 kernel, 32 units a round.
    std::size_t i = 0;
    std::size_t deductions = 0;
    const __m256i ascii_bits = splat16(0xFF80);
    const __m256i minus_four = splat16(0xFFFC);
    while (i + 33 <= length) {
        __m256i acc = _mm256_setzero_si256();
        // At most 4 deducted per lane per round.
        for (int round = 0; round < 4096 && i + 33 <= length; ++round, i += 32) {
            const __m256i units = load256(src + i);
            const __m256i more = load256(src + i + 16);
            if (_mm256_testz_si256(_mm256_or_si256(units, more), ascii_bits)) {
                acc = _mm256_add_epi16(acc, minus_four);
                continue;
            }
            acc = _mm256_add_epi16(acc, utf8_deductions(units, load256(src + i + 1)));
            acc = _mm256_add_epi16(acc, utf8_deductions(more, load256(src + i + 17)));
        }
        const __m256i sums = _mm256_madd_epi16(acc, splat16(0xFFFF));
        alignas(32) std::int32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
        for (std::int32_t lane : lanes) deductions += static_cast<std::size_t>(lane);
    }
    return 3 * i - deductions + scalar::utf8_length_from_utf16(src + i, length - i);
}

MOKAVI_AVX2 std::size_t avx2_convert_utf16_to_utf8(const char16_t* src, std::size_t length,
                                                  char* dst) noexcept {
    auto* out = reinterpret_cast<unsigned char*>(dst);
    std::size_t i = 0;
    // The block loop reads the unit before each block to pair low surrogates.
    if (length > 0) i = encode_utf16_char(src, 0, length, out);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ascii_bits = splat16(0xFF80);
    const __m256i surrogate_bits = splat16(0xFC00);
    // Stores run up to 12 bytes past the block's output; each of the >= 16
    // units after the block still produces at least one byte, so they stay
    // inside the measured output.
    while (i + 32 <= length) {
        const __m256i units = load256(src + i);
        const __m256i more = load256(src + i + 16);
        if (_mm256_testz_si256(_mm256_or_si256(units, more), ascii_bits)) {
            const __m256i packed = _mm256_packus_epi16(units, more);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                _mm256_permute4x64_epi64(packed, 0xD8));
            out += 32;
            i += 32;
            continue;
        }
        const __m256i prev = load256(src + i - 1);
        const __m256i next = load256(src + i + 1);
        const __m256i high = _mm256_cmpeq_epi16(_mm256_and_si256(units, surrogate_bits),
                                                splat16(0xD800));
        const __m256i low = _mm256_cmpeq_epi16(_mm256_and_si256(units, surrogate_bits),
                                               splat16(0xDC00));
        const __m256i pair_high = _mm256_and_si256(
            high, _mm256_cmpeq_epi16(_mm256_and_si256(next, surrogate_bits), splat16(0xDC00)));
        const __m256i pair_low = _mm256_and_si256(
            low, _mm256_cmpeq_epi16(_mm256_and_si256(prev, surrogate_bits), splat16(0xD800)));
        const __m256i paired = _mm256_or_si256(pair_high, pair_low);
        const __m256i lone = _mm256_andnot_si256(paired, _mm256_or_si256(high, low));
        const __m256i w = _mm256_blendv_epi8(units, splat16(0xFFFD), lone);

        const __m256i ascii = _mm256_cmpeq_epi16(_mm256_and_si256(w, ascii_bits), zero);
        const __m256i below_800 = _mm256_cmpeq_epi16(_mm256_and_si256(w, splat16(0xF800)), zero);
        const __m256i two_bytes = _mm256_andnot_si256(ascii, below_800);
        const __m256i three_bytes =
            _mm256_andnot_si256(_mm256_or_si256(below_800, paired), _mm256_set1_epi8(-1));

        // Each unit's bytes: lead X (three-byte form only), middle Y, last
        // Z; a pair's high unit gives the first two bytes of the four, its
        // low unit the last two.
        const __m256i w6 = _mm256_srli_epi16(w, 6);
        const __m256i cont_bits = splat16(0x80);
        __m256i y = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(w6, splat16(0x3F)), cont_bits),
                                    _mm256_and_si256(two_bytes, splat16(0x40)));
        __m256i z = _mm256_blendv_epi8(
            _mm256_or_si256(_mm256_and_si256(w, splat16(0x3F)), cont_bits), w, ascii);
        const __m256i x = _mm256_or_si256(_mm256_srli_epi16(w, 12), splat16(0xE0));
        const __m256i plane = _mm256_add_epi16(_mm256_and_si256(units, splat16(0x3FF)),
                                               splat16(0x40));  // (cp - 0x10000) >> 10, + 0x40
        y = _mm256_blendv_epi8(y, _mm256_or_si256(_mm256_srli_epi16(plane, 8), splat16(0xF0)),
                               pair_high);
        z = _mm256_blendv_epi8(
            z,
            _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(plane, 2), splat16(0x3F)),
                            cont_bits),
            pair_high);
        const __m256i low_y = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(w6, splat16(0x0F)), cont_bits),
            _mm256_slli_epi16(_mm256_and_si256(prev, splat16(3)), 4));
        y = _mm256_blendv_epi8(y, low_y, pair_low);

        const __m256i xy = _mm256_or_si256(x, _mm256_slli_epi16(y, 8));
        const __m256i first_quads = _mm256_unpacklo_epi16(xy, z);  // units 0-3 | 8-11
        const __m256i second_quads = _mm256_unpackhi_epi16(xy, z);  // units 4-7 | 12-15
        const auto longer = static_cast<std::uint32_t>(~_mm256_movemask_epi8(ascii));
        const auto longest = static_cast<std::uint32_t>(_mm256_movemask_epi8(three_bytes));
        const std::uint32_t codes = (longer & 0x55555555u) | (longest & 0xAAAAAAAAu);
        const unsigned g0 = codes & 0xFF, g1 = (codes >> 8) & 0xFF, g2 = (codes >> 16) & 0xFF,
                       g3 = codes >> 24;
        const __m256i bytes_a =
            _mm256_shuffle_epi8(first_quads, shuffle_pair(g0, g2, kShuffles.pack_utf8));
        const __m256i bytes_b =
            _mm256_shuffle_epi8(second_quads, shuffle_pair(g1, g3, kShuffles.pack_utf8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes_a));
        out += kShuffles.pack_utf8_length[g0];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes_b));
        out += kShuffles.pack_utf8_length[g1];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(bytes_a, 1));
        out += kShuffles.pack_utf8_length[g2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(bytes_b, 1));
        out += kShuffles.pack_utf8_length[g3];
        i += 16;
    }
    // A block may have ended on the high half of a pair, already written as
    // the pair's first two bytes: finish it with the last two.
    if (i > 0 && i < length && is_low_surrogate(src[i]) && is_high_surrogate(src[i - 1])) {
        const unsigned unit = src[i];
        *out++ = static_cast<unsigned char>(0x80 | ((src[i - 1] & 3u) << 4) | ((unit >> 6) & 0x0F));
        *out++ = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        ++i;
    }
    while (i < length) i += encode_utf16_char(src, i, length, out);
    return static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(dst));
}

// Byte-wise x in [lo, hi] (unsigned), via a biased signed compare.
MOKAVI_AVX2 inline __m256i bytes_in_range(__m256i x, unsigned lo, unsigned hi) {
    const __m256i biased = _mm256_add_epi8(x, _mm256_set1_epi8(static_cast<char>(0x80 - lo)));
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(-128 + static_cast<int>(hi - lo) + 1)),
                             biased);
}

MOKAVI_AVX2 inline __m256i bytes_equal(__m256i x, unsigned value) {
    return _mm256_cmpeq_epi8(x, _mm256_set1_epi8(static_cast<char>(value)));
}

// Signed byte compares against a continuation-range constant: only the
// continuation bytes 80..BF matter here, and they order the same way.
MOKAVI_AVX2 inline __m256i bytes_below(__m256i x, unsigned value) {
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(value)), x);
}
MOKAVI_AVX2 inline __m256i bytes_above(__m256i x, unsigned value) {
    return _mm256_cmpgt_epi8(x, _mm256_set1_epi8(static_cast<char>(value)));
}

// One 32-byte block of UTF-8, seen together with the block before it so
// characters may straddle the edge. After the start of the input or
// per-character work, `before` is zero: nothing is pending there (whatever
// preceded was converted as whole characters or subparts), and a lead byte
// that already became U+FFFD must not make this block's first bytes look
// like its continuation.
struct Utf8Block {
    __m256i bytes, prev1, prev2;
    // Role of each byte: the last byte of a two- or three-byte character,
    // the third or fourth byte of a four-byte one.
    __m256i ends_two, ends_three, third_of_four, ends_four;
    __m256i ascii;
    bool well_formed;
    std::uint32_t keep;  // bytes that produce a UTF-16 unit
};

MOKAVI_AVX2 inline Utf8Block analyse_utf8_block(__m256i bytes, __m256i before) {
    Utf8Block block;
    block.bytes = bytes;
    const __m256i carried = _mm256_permute2x128_si256(before, bytes, 0x21);
    block.prev1 = _mm256_alignr_epi8(bytes, carried, 15);
    block.prev2 = _mm256_alignr_epi8(bytes, carried, 14);
    const __m256i prev3 = _mm256_alignr_epi8(bytes, carried, 13);
    block.ends_two = bytes_in_range(block.prev1, 0xC2, 0xDF);
    block.ends_three = bytes_in_range(block.prev2, 0xE0, 0xEF);
    block.third_of_four = bytes_in_range(block.prev2, 0xF0, 0xF4);
    block.ends_four = bytes_in_range(prev3, 0xF0, 0xF4);
    // Continuation bytes exactly where a lead byte before them asks for one.
    const __m256i expected = _mm256_or_si256(
        _mm256_or_si256(bytes_in_range(block.prev1, 0xC2, 0xF4), block.ends_three),
        _mm256_or_si256(block.third_of_four, block.ends_four));
    const __m256i continuation = bytes_below(bytes, 0xC0);
    __m256i error = _mm256_xor_si256(continuation, expected);
    error = _mm256_or_si256(error, bytes_in_range(bytes, 0xC0, 0xC1));
    error = _mm256_or_si256(error, bytes_in_range(bytes, 0xF5, 0xFF));
    // Second bytes with a narrower range: overlongs, surrogates, > U+10FFFF.
    // Only after E0, ED, F0 and F4, which most text never has, so look first.
    const __m256i narrow_leads = _mm256_or_si256(
        bytes_equal(_mm256_and_si256(block.prev1, _mm256_set1_epi8(static_cast<char>(0xEF))), 0xE0),
        _mm256_or_si256(bytes_equal(block.prev1, 0xED), bytes_equal(block.prev1, 0xF4)));
    if (!_mm256_testz_si256(narrow_leads, narrow_leads)) {
        error = _mm256_or_si256(
            error, _mm256_and_si256(bytes_equal(block.prev1, 0xE0), bytes_below(bytes, 0xA0)));
        error = _mm256_or_si256(
            error, _mm256_and_si256(bytes_equal(block.prev1, 0xED), bytes_above(bytes, 0x9F)));
        error = _mm256_or_si256(
            error, _mm256_and_si256(bytes_equal(block.prev1, 0xF0), bytes_below(bytes, 0x90)));
        error = _mm256_or_si256(
            error, _mm256_and_si256(bytes_equal(block.prev1, 0xF4), bytes_above(bytes, 0x8F)));
    }
    block.well_formed = _mm256_testz_si256(error, error);

    const __m256i ascii = _mm256_cmpgt_epi8(bytes, _mm256_set1_epi8(-1));
    block.ascii = ascii;
    block.keep = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
        _mm256_or_si256(ascii, block.ends_two),
        _mm256_or_si256(_mm256_or_si256(block.ends_three, block.third_of_four),
                        block.ends_four))));
    return block;
}

// Bytes of the character left open by the well-formed block ending at
// `block_end`, to hand back to the per-character code. Only a four-byte
// character open after its third byte has produced a unit (its high
// surrogate) in that block.
inline unsigned open_bytes(const unsigned char* block_end) {
    if (kUtf8SequenceLength.of[block_end[-1]] >= 2) return 1;
    if (kUtf8SequenceLength.of[block_end[-2]] >= 3) return 2;
    if (kUtf8SequenceLength.of[block_end[-3]] == 4) return 3;
    return 0;
}

MOKAVI_AVX2 std::size_t avx2_utf16_length_from_utf8(const char* src, std::size_t length) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0, units = 0;
    __m256i before = _mm256_setzero_si256();
    bool may_be_open = false;  // the last block was multibyte text
    const auto reopen = [&] {  // back to the last character boundary
        if (!may_be_open) return;
        const unsigned open = open_bytes(s + i);
        i -= open;
        units -= open == 3;
    };
    while (i + 32 <= length) {
        const __m256i bytes = load256(s + i);
        if (_mm256_movemask_epi8(bytes) == 0 && !(may_be_open && open_bytes(s + i) != 0)) {
            units += 32;
            i += 32;
            before = bytes;
            may_be_open = false;
            continue;
        }
        const Utf8Block block = analyse_utf8_block(bytes, before);
        if (!block.well_formed) {
            const std::size_t block_end = i + 32;
            reopen();
            while (i < block_end) units += utf8_char_units(s, i, length);
            before = _mm256_setzero_si256();
            may_be_open = false;
            continue;
        }
        units += static_cast<std::size_t>(_mm_popcnt_u32(block.keep));
        i += 32;
        before = bytes;
        may_be_open = true;
    }
    reopen();
    while (i < length) units += utf8_char_units(s, i, length);
    return units;
}

template <int Half>
MOKAVI_AVX2 inline __m128i half(__m256i v) {
    if constexpr (Half == 0) return _mm256_castsi256_si128(v);
    else return _mm256_extracti128_si256(v, 1);
}

// Converts 16 bytes of a well-formed block (half 0 or 1) and appends the
// units their `keep` bits select. Writes 16 units at dst + o whatever is kept.
template <int Half>
MOKAVI_AVX2 inline void convert_utf8_half(const Utf8Block& block, char16_t* dst, std::size_t& o) {
    const __m256i b0 = _mm256_cvtepu8_epi16(half<Half>(block.bytes));
    const __m256i b1 = _mm256_cvtepu8_epi16(half<Half>(block.prev1));
    const __m256i b2 = _mm256_cvtepu8_epi16(half<Half>(block.prev2));
    const __m256i c0 = _mm256_and_si256(b0, splat16(0x3F));
    const __m256i c1 = _mm256_and_si256(b1, splat16(0x3F));
    const __m256i two = _mm256_or_si256(_mm256_slli_epi16(c1, 6), c0);
    // The lead's marker bits shift out of the 16-bit lane.
    const __m256i three = _mm256_or_si256(two, _mm256_slli_epi16(b2, 12));
    const __m256i low_surrogate = _mm256_or_si256(_mm256_and_si256(two, splat16(0x3FF)),
                                                  splat16(0xDC00));
    const __m256i high_surrogate = _mm256_add_epi16(
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b2, splat16(7)), 8),
                                        _mm256_slli_epi16(c1, 2)),
                        _mm256_srli_epi16(c0, 4)),
        splat16(0xD7C0));
    __m256i units = b0;
    units = _mm256_blendv_epi8(units, two, _mm256_cvtepi8_epi16(half<Half>(block.ends_two)));
    units = _mm256_blendv_epi8(units, three, _mm256_cvtepi8_epi16(half<Half>(block.ends_three)));
    units = _mm256_blendv_epi8(units, high_surrogate,
                               _mm256_cvtepi8_epi16(half<Half>(block.third_of_four)));
    units = _mm256_blendv_epi8(units, low_surrogate, _mm256_cvtepi8_epi16(half<Half>(block.ends_four)));
    const unsigned keep = (block.keep >> (16 * Half)) & 0xFFFF;
    units = _mm256_shuffle_epi8(units, shuffle_pair(keep & 0xFF, keep >> 8, kShuffles.keep_units));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_castsi256_si128(units));
    o += static_cast<std::size_t>(_mm_popcnt_u32(keep & 0xFF));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_extracti128_si256(units, 1));
    o += static_cast<std::size_t>(_mm_popcnt_u32(keep >> 8));
}

// Byte-interleaving within each 128-bit lane: interleave<0> gives 16-bit
// lanes for block positions 0-7 and 16-23, interleave<1> for 8-15 and 24-31.
template <int Which>
MOKAVI_AVX2 inline __m256i interleave(__m256i low, __m256i high) {
    if constexpr (Which == 0) return _mm256_unpacklo_epi8(low, high);
    else return _mm256_unpackhi_epi8(low, high);
}

// The unit each byte position would end, for blocks without four-byte
// characters: ASCII bytes stand for themselves (masking with 7F keeps a
// continuation byte's six payload bits too), the last byte of a two- or
// three-byte character adds the byte before it, and of a three-byte one
// also the lead, whose marker bits fall off the 16-bit lane.
template <int Which>
MOKAVI_AVX2 inline __m256i bmp_units(const Utf8Block& block) {
    const __m256i pair = interleave<Which>(block.bytes, block.prev1);  // byte | previous << 8
    const __m256i ascii = interleave<Which>(block.ascii, block.ascii);
    const __m256i three = interleave<Which>(block.ends_three, block.ends_three);
    const __m256i lead_of_three =
        _mm256_slli_epi16(interleave<Which>(_mm256_setzero_si256(), block.prev2), 4);
    __m256i units = _mm256_and_si256(pair, splat16(0x7F));
    units = _mm256_or_si256(units, _mm256_andnot_si256(ascii, _mm256_and_si256(
                                                                  _mm256_srli_epi16(pair, 2),
                                                                  splat16(0x0FC0))));
    return _mm256_or_si256(units, _mm256_and_si256(three, lead_of_three));
}

MOKAVI_AVX2 inline void convert_bmp_block(const Utf8Block& block, char16_t* dst, std::size_t& o) {
    const std::uint32_t keep = block.keep;
    const __m256i first = _mm256_shuffle_epi8(
        bmp_units<0>(block),
        shuffle_pair(keep & 0xFF, (keep >> 16) & 0xFF, kShuffles.keep_units));
    const __m256i second = _mm256_shuffle_epi8(
        bmp_units<1>(block), shuffle_pair((keep >> 8) & 0xFF, keep >> 24, kShuffles.keep_units));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_castsi256_si128(first));
    o += static_cast<std::size_t>(_mm_popcnt_u32(keep & 0xFF));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_castsi256_si128(second));
    o += static_cast<std::size_t>(_mm_popcnt_u32((keep >> 8) & 0xFF));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_extracti128_si256(first, 1));
    o += static_cast<std::size_t>(_mm_popcnt_u32((keep >> 16) & 0xFF));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_extracti128_si256(second, 1));
    o += static_cast<std::size_t>(_mm_popcnt_u32(keep >> 24));
}

MOKAVI_AVX2 Utf8ToUtf16Progress avx2_convert_utf8_to_utf16(const char* src, std::size_t length,
                                                           char16_t* dst,
                                                           std::size_t capacity) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0, o = 0;
    __m256i before = _mm256_setzero_si256();
    bool may_be_open = false;  // the last block was multibyte text
    const auto reopen = [&] {  // back to the last character boundary
        if (!may_be_open) return;
        const unsigned open = open_bytes(s + i);
        i -= open;
        o -= open == 3;
    };
    // A block writes at most 32 units plus 8 of slack from its last store.
    while (i + 32 <= length && capacity - o >= 48) {
        const __m256i bytes = load256(s + i);
        if (_mm256_movemask_epi8(bytes) == 0 && !(may_be_open && open_bytes(s + i) != 0)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o),
                                _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o + 16),
                                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1)));
            o += 32;
            i += 32;
            before = bytes;
            may_be_open = false;
            continue;
        }
        const Utf8Block block = analyse_utf8_block(bytes, before);
        if (!block.well_formed) {
            const std::size_t block_end = i + 32;
            reopen();
            while (i < block_end) {
                if (!put_utf8_char(s, i, length, dst, o, capacity)) return {o, i};
            }
            before = _mm256_setzero_si256();
            may_be_open = false;
            continue;
        }
        if (_mm256_testz_si256(_mm256_or_si256(block.third_of_four, block.ends_four),
                               _mm256_set1_epi8(-1))) {
            convert_bmp_block(block, dst, o);
        } else {
            convert_utf8_half<0>(block, dst, o);
            convert_utf8_half<1>(block, dst, o);
        }
        i += 32;
        before = bytes;
        may_be_open = true;
    }
    reopen();
    while (i < length) {
        if (!put_utf8_char(s, i, length, dst, o, capacity)) break;
    }
    return {o, i};
}

}  // namespace

const Kernel kSse2Kernel{"sse2", sse2_utf8_length_from_utf16, sse2_convert_utf16_to_utf8,
                         sse2_utf16_length_from_utf8, sse2_convert_utf8_to_utf16};

const Kernel kAvx2Kernel{"avx2", avx2_utf8_length_from_utf16, avx2_convert_utf16_to_utf8,
                         avx2_utf16_length_from_utf8, avx2_convert_utf8_to_utf16};

bool cpu_has_avx2() noexcept {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}

}  // namespace mokavi::text::detail::x86

#endif  // __x86_64__
