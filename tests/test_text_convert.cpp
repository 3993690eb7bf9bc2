// UTF-16 <-> UTF-8 conversion, checked against ICU's substituting
// converters (U+FFFD) for every kernel this CPU runs and for the public
// entry points built on the dispatched one.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "icu_oracle.h"
#include "text_convert.h"
#include "text_convert_internal.h"

namespace {

using mokavi::text::detail::Kernel;
namespace text = mokavi::text;

// ---- ICU as the oracle ------------------------------------------------------

std::string icu_to_utf8(std::u16string_view in) {
    std::string out;
    EXPECT_TRUE(mokavi_oracle::icu_to_utf8(in, out));
    return out;
}

std::u16string icu_to_utf16(std::string_view in) {
    std::u16string out;
    EXPECT_TRUE(mokavi_oracle::icu_to_utf16(in, out));
    return out;
}

std::string hex(std::string_view bytes) {
    std::string out;
    char piece[4];
    for (unsigned char b : bytes) {
        std::snprintf(piece, sizeof piece, "%02X ", b);
        out += piece;
    }
    return out;
}

std::string hex(std::u16string_view units) {
    std::string out;
    char piece[6];
    for (char16_t u : units) {
        std::snprintf(piece, sizeof piece, "%04X ", static_cast<unsigned>(u));
        out += piece;
    }
    return out;
}

// ---- Running one kernel -----------------------------------------------------
// Output buffers are heap blocks of exactly the announced size, so a kernel
// writing one byte too far is caught by ASan (and by the canary otherwise).

std::string kernel_to_utf8(const Kernel& kernel, std::u16string_view in) {
    const std::size_t bytes = kernel.utf8_length_from_utf16(in.data(), in.size());
    auto buffer = std::make_unique<char[]>(bytes + 1);
    buffer[bytes] = '\x5A';
    const std::size_t written = kernel.convert_utf16_to_utf8(in.data(), in.size(), buffer.get());
    EXPECT_EQ(written, bytes) << kernel.name << ": measured and written lengths differ";
    EXPECT_EQ(buffer[bytes], '\x5A') << kernel.name << ": wrote past the measured length";
    return std::string(buffer.get(), std::min(written, bytes));
}

std::u16string kernel_to_utf16(const Kernel& kernel, std::string_view in) {
    const std::size_t units = kernel.utf16_length_from_utf8(in.data(), in.size());
    auto buffer = std::make_unique<char16_t[]>(units + 1);
    buffer[units] = u'\x5A5A';
    const auto progress = kernel.convert_utf8_to_utf16(in.data(), in.size(), buffer.get(), units);
    EXPECT_EQ(progress.units, units) << kernel.name << ": measured and written lengths differ";
    EXPECT_EQ(progress.consumed, in.size()) << kernel.name << ": did not consume the input";
    EXPECT_EQ(buffer[units], u'\x5A5A') << kernel.name << ": wrote past the capacity";
    return std::u16string(buffer.get(), std::min(progress.units, units));
}

void expect_utf16_input_matches_icu(const Kernel& kernel, std::u16string_view in) {
    EXPECT_EQ(hex(kernel_to_utf8(kernel, in)), hex(icu_to_utf8(in)))
        << kernel.name << " on UTF-16 " << hex(in);
}

void expect_utf8_input_matches_icu(const Kernel& kernel, std::string_view in) {
    EXPECT_EQ(hex(kernel_to_utf16(kernel, in)), hex(icu_to_utf16(in)))
        << kernel.name << " on UTF-8 " << hex(in);
}

// The public entry points, as a kernel, so they go through the same checks.
const Kernel kPublicApi{
    "public", text::utf8_length_from_utf16, text::convert_utf16_to_utf8,
    text::utf16_length_from_utf8,
    [](const char* src, std::size_t length, char16_t* dst,
       std::size_t capacity) noexcept -> text::detail::Utf8ToUtf16Progress {
        // The public function reports units only; whether the whole input
        // fitted is decided by comparing with the measured length.
        const std::size_t units = text::convert_utf8_to_utf16(src, length, dst, capacity);
        return {units, units == text::utf16_length_from_utf8(src, length) ? length : 0};
    }};

std::vector<const Kernel*> kernels_under_test() {
    std::vector<const Kernel*> all;
    for (const Kernel& kernel : text::detail::usable_kernels()) all.push_back(&kernel);
    all.push_back(&kPublicApi);
    return all;
}

class ConvertTest : public ::testing::TestWithParam<const Kernel*> {
protected:
    const Kernel& kernel() const { return *GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Kernels, ConvertTest, ::testing::ValuesIn(kernels_under_test()),
                         [](const auto& info) { return std::string(info.param->name); });

// ---- Named inputs -----------------------------------------------------------

struct Utf8Case {
    const char* name;
    std::string_view bytes;
};

// Well-formed text and every class of ill-formed UTF-8: how many U+FFFD
// each produces is what ICU decides (one per maximal subpart).
const Utf8Case kUtf8Cases[] = {
    {"empty", ""},
    {"ascii", "plain ascii text"},
    {"embedded_nul", std::string_view("a\0b", 3)},
    {"two_byte", "\xC3\xA9"},
    {"three_byte", "\xE2\x82\xAC"},
    {"four_byte", "\xF0\x9D\x84\x9E"},
    {"boundaries", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {"stray_continuation", "a\x80z"},
    {"continuation_run", "\x80\xBF\x80\xBF"},
    {"overlong_c0", "\xC0\x80"},
    {"overlong_c1", "\xC1\xBF"},
    {"overlong_e0", "\xE0\x80\x80"},
    {"overlong_e0_edge", "\xE0\x9F\xBF"},
    {"overlong_f0", "\xF0\x80\x80\x80"},
    {"overlong_f0_edge", "\xF0\x8F\xBF\xBF"},
    {"surrogate_high", "\xED\xA0\x80"},
    {"surrogate_low", "\xED\xBF\xBF"},
    {"surrogate_pair_encoded", "\xED\xA0\xBD\xED\xB8\x80"},
    {"below_surrogates", "\xED\x9F\xBF"},
    {"above_max", "\xF4\x90\x80\x80"},
    {"f5_lead", "\xF5\x80\x80\x80"},
    {"f8_five_byte", "\xF8\x88\x80\x80\x80"},
    {"fc_six_byte", "\xFC\x84\x80\x80\x80\x80"},
    {"fe_ff", "\xFE\xFF"},
    {"truncated_two_at_end", "ab\xC3"},
    {"truncated_three_at_end", "ab\xE2\x82"},
    {"truncated_four_at_end", "ab\xF0\x9D\x84"},
    {"truncated_three_then_ascii", "\xE2\x82z"},
    {"truncated_four_then_ascii", "\xF0\x9D\x84z"},
    {"truncated_four_short_then_ascii", "\xF0\x9Dz"},
    {"lead_then_lead", "\xC3\xC3\xA9"},
    {"three_lead_then_two_char", "\xE2\xC3\xA9"},
    {"four_lead_then_three_char", "\xF0\xE2\x82\xAC"},
    {"lead_then_bad_second", "\xE0\x80"},
    {"continuation_after_complete", "\xC3\xA9\xA9"},
    {"mixed", "h\xC3\xA9llo \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80!"},
};

struct Utf16Case {
    const char* name;
    std::u16string_view units;
};

const Utf16Case kUtf16Cases[] = {
    {"empty", u""},
    {"ascii", u"plain ascii text"},
    {"embedded_nul", std::u16string_view(u"a\0b", 3)},
    {"latin", u"h\u00E9llo w\u00F6rld"},
    {"boundaries", u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFE\uFFFF"},
    {"pair", u"\U0001D11E"},
    {"pair_extremes", u"\U00010000\U0010FFFF"},
    {"lone_high_at_end", u"ab\xD800"},
    {"lone_high_mid", u"a\xD800z"},
    {"lone_low", u"a\xDC00z"},
    {"reversed_pair", u"\xDC00\xD800"},
    {"high_high_low", u"\xD800\xD800\xDC00"},
    {"high_low_low", u"\xD800\xDC00\xDC00"},
    {"lone_high_then_nul", std::u16string_view(u"\xDBFF\0", 2)},
    {"mixed", u"h\u00E9llo \u4E16\u754C \U0001F600!"},
};

TEST_P(ConvertTest, Utf8CasesMatchIcu) {
    for (const auto& c : kUtf8Cases) {
        SCOPED_TRACE(c.name);
        expect_utf8_input_matches_icu(kernel(), c.bytes);
    }
}

TEST_P(ConvertTest, Utf16CasesMatchIcu) {
    for (const auto& c : kUtf16Cases) {
        SCOPED_TRACE(c.name);
        expect_utf16_input_matches_icu(kernel(), c.units);
    }
}

// Each probe placed at every offset of an ASCII run, so it lands in every
// position of a vector block and across block edges, once followed by more
// ASCII and once at the very end of the input (truncation at the end).
TEST_P(ConvertTest, Utf8ProbesAtEveryBlockOffset) {
    for (const auto& c : kUtf8Cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t offset = 0; offset <= 64; ++offset) {
            std::string at_end(offset, 'x');
            at_end += c.bytes;
            expect_utf8_input_matches_icu(kernel(), at_end);
            std::string inside = at_end + std::string(96, 'y');
            expect_utf8_input_matches_icu(kernel(), inside);
            // Also behind a run of multibyte text, so non-ASCII blocks see it.
            std::string after_text;
            for (std::size_t k = 0; k < offset; ++k) after_text += k % 3 ? "\xC3\xA9" : "\xE4\xB8\x96";
            after_text += c.bytes;
            after_text += "\xF0\x9F\x98\x80 tail of the text, long enough for two more blocks....";
            expect_utf8_input_matches_icu(kernel(), after_text);
        }
    }
}

TEST_P(ConvertTest, Utf16ProbesAtEveryBlockOffset) {
    for (const auto& c : kUtf16Cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t offset = 0; offset <= 64; ++offset) {
            std::u16string at_end(offset, u'x');
            at_end += c.units;
            expect_utf16_input_matches_icu(kernel(), at_end);
            std::u16string inside = at_end + std::u16string(96, u'y');
            expect_utf16_input_matches_icu(kernel(), inside);
            std::u16string after_text;
            for (std::size_t k = 0; k < offset; ++k) after_text += k % 3 ? u"\u00E9" : u"\U0001F600";
            after_text += c.units;
            after_text += u"\u4E16 tail of the text, long enough for two more blocks....";
            expect_utf16_input_matches_icu(kernel(), after_text);
        }
    }
}

// ---- Exhaustive sweeps ------------------------------------------------------

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        out += static_cast<char16_t>(0xD7C0 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

TEST_P(ConvertTest, EveryScalarValueRoundTrips) {
    std::u16string all;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp == 0xD800) cp = 0xE000;
        append_utf16(all, cp);
    }
    const std::string utf8 = kernel_to_utf8(kernel(), all);
    ASSERT_TRUE(utf8 == icu_to_utf8(all)) << kernel().name << ": UTF-8 differs from ICU";
    ASSERT_TRUE(kernel_to_utf16(kernel(), utf8) == all) << kernel().name << ": round trip differs";
}

TEST_P(ConvertTest, EveryLoneSurrogateBecomesReplacement) {
    // Each surrogate alone between letters, and highs back to back (none
    // pairs with a following high).
    std::u16string between, highs;
    std::string expected_between, expected_highs;
    for (unsigned s = 0xD800; s <= 0xDFFF; ++s) {
        between += static_cast<char16_t>(s);
        between += u'a';
        expected_between += "\xEF\xBF\xBD" "a";
        if (s < 0xDC00) {
            highs += static_cast<char16_t>(s);
            expected_highs += "\xEF\xBF\xBD";
        }
    }
    EXPECT_EQ(kernel_to_utf8(kernel(), between), expected_between);
    EXPECT_EQ(kernel_to_utf8(kernel(), highs), expected_highs);
    EXPECT_EQ(icu_to_utf8(between), expected_between);
}

// All two-byte sequences and the three-byte ones whose third byte sits on
// an interesting edge, each closed by 'A', in one long input.
TEST_P(ConvertTest, ShortByteSequencesMatchIcu) {
    const unsigned char thirds[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                    0xBF, 0xC0, 0xC2, 0xE0, 0xED, 0xF0, 0xF4, 0xFF};
    std::string pairs, triples;
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            pairs += static_cast<char>(a);
            pairs += static_cast<char>(b);
            pairs += 'A';
            if (a < 0x80) continue;
            for (unsigned char c : thirds) {
                triples += static_cast<char>(a);
                triples += static_cast<char>(b);
                triples += static_cast<char>(c);
                triples += 'A';
            }
        }
    }
    EXPECT_TRUE(kernel_to_utf16(kernel(), pairs) == icu_to_utf16(pairs)) << kernel().name;
    EXPECT_TRUE(kernel_to_utf16(kernel(), triples) == icu_to_utf16(triples)) << kernel().name;
}

// ---- Random mixtures ----------------------------------------------------------

// Text built from pieces chosen to stress block paths: ASCII runs of random
// length, characters of every width, and ill-formed fragments.
std::string random_utf8(std::mt19937& rng, std::size_t pieces) {
    static const std::string_view kPieces[] = {
        "a", "The quick brown fox ", "0123456789abcdefghijklmnopqrstuvwxyz", "\xC3\xA9",
        "\xDF\xBF", "\xE4\xB8\x96", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
        "\x80", "\xC3", "\xE4\xB8", "\xF0\x9F\x98", "\xED\xA0\x80", "\xC0\xAF", "\xF5", "\xFF",
        "\xE0\x80\x80", "\xF4\x90\x80\x80", std::string_view("\0", 1)};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> run(0, 40);
    std::string out;
    for (std::size_t i = 0; i < pieces; ++i) {
        const auto piece = kPieces[pick(rng)];
        const int repeat = piece.size() > 4 ? 1 : 1 + run(rng) % 8;
        for (int r = 0; r < repeat; ++r) out += piece;
        if (run(rng) < 10) out.append(static_cast<std::size_t>(run(rng)), 'q');
    }
    return out;
}

std::u16string random_utf16(std::mt19937& rng, std::size_t pieces) {
    static const std::u16string_view kPieces[] = {
        u"a", u"The quick brown fox ", u"0123456789abcdefghijklmnopqrstuvwxyz", u"\u00E9",
        u"\u07FF", u"\u0800", u"\u4E16\u754C", u"\uFFFF", u"\U0001F600", u"\U0010FFFF",
        u"\xD800", u"\xDBFF", u"\xDC00", u"\xDFFF", std::u16string_view(u"\0", 1)};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> run(0, 40);
    std::u16string out;
    for (std::size_t i = 0; i < pieces; ++i) {
        const auto piece = kPieces[pick(rng)];
        const int repeat = piece.size() > 4 ? 1 : 1 + run(rng) % 8;
        for (int r = 0; r < repeat; ++r) out += piece;
        if (run(rng) < 10) out.append(static_cast<std::size_t>(run(rng)), u'q');
    }
    return out;
}

TEST_P(ConvertTest, RandomMixturesMatchIcu) {
    std::mt19937 rng(20261211);
    for (int round = 0; round < 400; ++round) {
        const std::size_t pieces = round < 390 ? 1 + round % 60 : 4000;
        expect_utf8_input_matches_icu(kernel(), random_utf8(rng, pieces));
        expect_utf16_input_matches_icu(kernel(), random_utf16(rng, pieces));
    }
}

// ---- Bounded output -------------------------------------------------------------

// For every capacity: nothing written past it, the output is the longest
// whole-character prefix of the full conversion that fits, and no pair is
// split.
TEST_P(ConvertTest, ShortCapacityWritesWholeCharactersOnly) {
    std::mt19937 rng(7);
    std::vector<std::string> inputs = {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80",
                                       "a\xF0\x9F\x98\x80" "b\xC3\xA9\xE4\xB8\x96\xF0",
                                       std::string(70, 'x') + "\xF0\x9F\x98\x80" + std::string(70, 'y')};
    for (int k = 0; k < 6; ++k) inputs.push_back(random_utf8(rng, 40));
    for (const auto& in : inputs) {
        const std::u16string full = icu_to_utf16(in);
        for (std::size_t capacity = 0; capacity <= full.size() + 1; ++capacity) {
            std::vector<char16_t> buffer(capacity + 16, u'\x5A5A');
            const auto progress =
                kernel().convert_utf8_to_utf16(in.data(), in.size(), buffer.data(), capacity);
            ASSERT_LE(progress.units, capacity);
            for (std::size_t k = capacity; k < buffer.size(); ++k) {
                ASSERT_EQ(buffer[k], u'\x5A5A') << "wrote past capacity " << capacity;
            }
            const std::u16string written(buffer.data(), progress.units);
            ASSERT_EQ(hex(written), hex(full.substr(0, progress.units))) << "capacity " << capacity;
            if (progress.units < full.size()) {
                // Stopped early: only because the next character did not fit.
                const bool next_is_pair = text::detail::is_high_surrogate(full[progress.units]);
                EXPECT_LT(capacity - progress.units, next_is_pair ? 2u : 1u)
                    << "capacity " << capacity;
                if (&kernel() != &kPublicApi) {  // which reports no consumed count
                    EXPECT_LT(progress.consumed, in.size());
                    EXPECT_EQ(icu_to_utf16(in.substr(0, progress.consumed)), written);
                }
            } else {
                EXPECT_EQ(progress.consumed, in.size());
            }
        }
    }
}

// ---- Public contract ------------------------------------------------------------

struct CharString {
    void operator()(char* p) const { std::free(p); }
};
using Utf8Buffer = std::unique_ptr<char, CharString>;

TEST(TextContract, DocumentedExamples) {
    const char16_t e_acute[] = u"\u00E9";
    Utf8Buffer utf8(text::Wide2UTF(e_acute));
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8.get(), "\xC3\xA9");
    EXPECT_EQ(text::UTF2WideLen("\xC3\xA9"), 1);
    char16_t back[4] = {};
    EXPECT_EQ(text::UTF2Wide("\xC3\xA9", back, 4), 2);
    EXPECT_EQ(back[0], u'\u00E9');
    EXPECT_EQ(back[1], u'\0');

    const char16_t clef[] = u"\U0001D11E";
    Utf8Buffer clef_utf8(text::Wide2UTF(clef));
    ASSERT_NE(clef_utf8, nullptr);
    EXPECT_STREQ(clef_utf8.get(), "\xF0\x9D\x84\x9E");
    EXPECT_EQ(text::UTF2WideLen(clef_utf8.get()), 2);

    Utf8Buffer empty(text::Wide2UTF(u""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty.get()[0], '\0');
    EXPECT_EQ(text::UTF2WideLen(""), 0);
    EXPECT_EQ(text::utf16_strlen(u""), 0u);
}

TEST(TextContract, NulTerminatedFormsStopAtFirstNul) {
    const char16_t wide[] = u"ab\0cd";
    EXPECT_EQ(text::utf16_strlen(wide), 2u);
    Utf8Buffer utf8(text::Wide2UTF(wide));
    EXPECT_STREQ(utf8.get(), "ab");

    const char narrow[] = "\xC3\xA9" "b\0cd";
    EXPECT_EQ(text::UTF2WideLen(narrow), 2);
    EXPECT_EQ(text::UTF2WideLen(narrow, sizeof narrow - 1), 5);
    char16_t buffer[8];
    EXPECT_EQ(text::UTF2Wide(narrow, buffer, 8), 3);
    EXPECT_EQ(std::u16string_view(buffer, 3), std::u16string_view(u"\u00E9b\0", 3));
    EXPECT_EQ(text::UTF2Wide(narrow, sizeof narrow - 1, buffer, 8), 6);
}

// Wide2UTF measures first and asks for exactly the bytes plus terminator;
// when that allocation fails it hands back the 50-byte marker buffer, and
// nullptr when even that fails.
TEST(TextContract, Wide2UtfAllocation) {
    static std::vector<std::size_t> requests;
    static int failures_left;
    auto allocate = [](std::size_t size) -> void* {
        requests.push_back(size);
        if (failures_left > 0) {
            --failures_left;
            return nullptr;
        }
        return std::malloc(size);
    };
    const char16_t text_in[] = u"a\u00E9\u4E16\U0001F600\xD800";

    requests.clear();
    failures_left = 0;
    Utf8Buffer exact(text::detail::wide_to_utf8_with(text_in, allocate));
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(exact.get(), icu_to_utf8(text_in));
    EXPECT_EQ(requests, std::vector<std::size_t>{icu_to_utf8(text_in).size() + 1});

    requests.clear();
    failures_left = 1;
    Utf8Buffer fallback(text::detail::wide_to_utf8_with(text_in, allocate));
    ASSERT_NE(fallback, nullptr);
    EXPECT_STREQ(fallback.get(), "#Wide2UTF failed");
    EXPECT_STREQ(fallback.get(), text::kWide2UtfFallback);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], 50u);

    failures_left = 2;
    EXPECT_EQ(text::detail::wide_to_utf8_with(text_in, allocate), nullptr);
}

// UTF2Wide: with room, everything plus a terminator and the count including
// it; without, the longest whole-character prefix that leaves room for the
// terminator, and 0. Never a byte at or past buffer[capacity].
TEST(TextContract, Utf2WideCapacities) {
    const std::string inputs[] = {"", "abc", "\xF0\x9F\x98\x80x\xF0\x9F\x98\x80",
                                  "\xE4\xB8\x96\xC3\xA9\xFF!" + std::string(80, 'z')};
    for (const auto& in : inputs) {
        const std::u16string full = icu_to_utf16(in);
        for (int capacity = -1; capacity <= static_cast<int>(full.size()) + 2; ++capacity) {
            SCOPED_TRACE(hex(in) + " capacity " + std::to_string(capacity));
            std::vector<char16_t> buffer(static_cast<std::size_t>(capacity < 0 ? 0 : capacity) + 8,
                                         u'\x5A5A');
            const int result = text::UTF2Wide(in.data(), in.size(), buffer.data(), capacity);
            const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
            for (std::size_t k = room; k < buffer.size(); ++k) ASSERT_EQ(buffer[k], u'\x5A5A');
            if (capacity <= 0) {
                EXPECT_EQ(result, 0);
                continue;
            }
            const std::u16string_view got(buffer.data(), std::u16string_view(buffer.data()).size());
            if (full.size() + 1 <= room) {
                EXPECT_EQ(result, static_cast<int>(full.size()) + 1);
                EXPECT_EQ(hex(got), hex(full));
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_LT(got.size(), room);
                EXPECT_EQ(hex(got), hex(full.substr(0, got.size())));
                const bool next_is_pair = text::detail::is_high_surrogate(full[got.size()]);
                EXPECT_LT(room - 1 - got.size(), next_is_pair ? 2u : 1u);
            }
        }
    }
}

// Lengths past INT32_MAX units are clamped; 2^31 + 16 zero bytes (each a
// character of its own in the length-based form) from untouched anonymous
// memory, so the test costs address space, not RAM.
TEST(TextContract, Utf2WideLenClampsToInt32Max) {
    const std::size_t length = (std::size_t{1} << 31) + 16;
    void* zeros = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
    if (zeros == MAP_FAILED) GTEST_SKIP() << "no 2 GiB of address space for the input";
    EXPECT_EQ(text::UTF2WideLen(static_cast<const char*>(zeros), length), INT32_MAX);
    EXPECT_EQ(text::utf16_length_from_utf8(static_cast<const char*>(zeros), length), length);
    munmap(zeros, length);
}

TEST(TextContract, PublicEntryPointsUseTheFastestKernel) {
    const auto kernels = text::detail::usable_kernels();
    ASSERT_FALSE(kernels.empty());
    EXPECT_STREQ(kernels.front().name, "scalar");
    EXPECT_EQ(&text::detail::active_kernel(), &kernels.back());
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_STREQ(kernels.back().name, "avx2");
    }
#endif
}

}  // namespace
