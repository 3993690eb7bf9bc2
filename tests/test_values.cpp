// Package variables and reading/writing scalars as host text.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "perl_fixture.h"

namespace {

using mokavi_test::PerlSuite;
using mokavi_test::read_narrow;
using mokavi_test::read_wide;
using mokavi_test::TextMode;

class Values : public PerlSuite {
protected:
    MkSv* new_value(const void* text) {
        MkSv* sv = new_text(text);
        owned_.push_back(sv);
        return sv;
    }
    // The narrow read into n + 1 bytes marked 0x7f, so that what MkSvGET
    // wrote, and where it stopped, both show.
    std::vector<char> narrow_bytes(MkSv* sv) {
        const int32_t n = MkSvLEN(perl_, sv);
        std::vector<char> buffer(n + 1, '\x7f');
        MkSvGET(perl_, sv, buffer.data(), n);
        return buffer;
    }
    void TearDown() override {
        for (MkSv* sv : owned_) MkSvDeRef(perl_, sv);
        PerlSuite::TearDown();
    }
    std::vector<MkSv*> owned_;
};

// ---- Look-ups ----

TEST_F(Values, LookUpFindsOrCreates) {
    EXPECT_EQ(MkGetSV(perl_, "no_such_scalar", 0), nullptr);
    EXPECT_EQ(MkGetAV(perl_, "Some::no_such_list", 0), nullptr);
    EXPECT_EQ(MkGetHV(perl_, "no_such_hash", 0), nullptr);

    MkSv* made = MkGetSV(perl_, "made_here", 1);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(MkSvLEN(perl_, made), 0);  // undefined
    EXPECT_EQ(MkGetSV(perl_, "main::made_here", 0), made);
    ASSERT_NE(MkGetAV(perl_, "Some::list", 1), nullptr);
    EXPECT_EQ(MkGetAV(perl_, "Some::list", 0), MkGetAV(perl_, "Some::list", 1));
    ASSERT_NE(MkGetHV(perl_, "Some::table", 1), nullptr);
}

TEST_F(Values, LookUpSeesEvaluatedVariables) {
    eval("our $greeting = 'hello'; @Some::items = (1, 2, 3); 1");
    EXPECT_EQ(str(MkGetSV(perl_, "greeting", 0)), "hello");
    EXPECT_EQ(MkAvLEN(perl_, MkGetAV(perl_, "Some::items", 0)), 3);
}

TEST_F(Values, WideLookUpAndSet) {
    TextMode wide(true);
    MkSv* sv = MkGetSV(perl_, u"main::wide_\u00e9", 1);
    ASSERT_NE(sv, nullptr);
    MkSvSetPv(perl_, sv, u"\u263a");
    EXPECT_EQ(MkGetSV(perl_, u"wide_\u00e9", 0), sv);
    MkSv* chars = MkSvEval(perl_, u"no strict 'refs'; length ${\"main::wide_\u00e9\"}");
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(read_wide(perl_, chars), u"1");  // one character: the flag is on
}

// ---- The narrow read ----

TEST_F(Values, NarrowReportsBufferSizeAndCopiesTerminator) {
    MkSv* sv = new_value("abc");
    const std::vector<char> buffer = narrow_bytes(sv);
    const auto n = static_cast<int32_t>(buffer.size()) - 1;
    EXPECT_GE(n, 4);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("abc\0", 4));
    // Past the terminator: zero bytes up to n, never old contents.
    for (int32_t i = 4; i < n; ++i) EXPECT_EQ(buffer[i], '\0') << i;
    EXPECT_EQ(buffer[n], '\x7f');
}

TEST_F(Values, NarrowReadNeverShowsOldContents) {
    MkSv* sv = new_value("a long string that leaves bytes behind in the buffer");
    MkSvSetPv(perl_, sv, "ab");
    const std::vector<char> buffer = narrow_bytes(sv);
    const auto n = static_cast<int32_t>(buffer.size()) - 1;
    EXPECT_EQ(std::string(buffer.data()), "ab");
    for (int32_t i = 2; i < n; ++i) EXPECT_EQ(buffer[i], '\0') << i;
}

// Strings whose buffer the value does not own (shared or static) read back
// whole, not as empty strings.
struct SharedCase {
    const char* name;
    const char* code;
    const char* expected;
};
const SharedCase kSharedStrings[] = {
    {"true_comparison", "1 == 1", "1"},
    {"hash_key", "my %h = (key => 1); (keys %h)[0]", "key"},
    {"package_name", "__PACKAGE__", "main"},
    {"constant_string", "use constant NAME => 'fixed'; NAME", "fixed"},
};

class SharedStrings : public Values, public ::testing::WithParamInterface<SharedCase> {};

TEST_P(SharedStrings, ReadWholeInBothModes) {
    const SharedCase& c = GetParam();
    MkSv* sv = eval(c.code);
    ASSERT_NE(sv, nullptr);
    EXPECT_GE(MkSvLEN(perl_, sv), static_cast<int32_t>(std::strlen(c.expected)));
    EXPECT_EQ(str(sv), c.expected);
    TextMode wide(true);
    std::u16string expected(c.expected, c.expected + std::strlen(c.expected));
    EXPECT_EQ(read_wide(perl_, sv), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SharedStrings, ::testing::ValuesIn(kSharedStrings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Values, NarrowNumbersReportStringLength) {
    MkSv* sv = eval("42");
    EXPECT_EQ(MkSvLEN(perl_, sv), 2);
    char buffer[3] = {'\x7f', '\x7f', '\0'};
    MkSvGET(perl_, sv, buffer, 2);
    EXPECT_STREQ(buffer, "42");
}

TEST_F(Values, NarrowCopiesEmbeddedNuls) {
    MkSv* sv = eval("qq{a\\0b}");
    const std::vector<char> buffer = narrow_bytes(sv);
    ASSERT_GE(buffer.size(), 5u);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("a\0b\0", 4));
}

TEST_F(Values, NarrowShortAndNegativeLengths) {
    MkSv* sv = new_value("abcdef");
    char buffer[8];
    std::memset(buffer, 0x7f, sizeof buffer);
    MkSvGET(perl_, sv, buffer, 3);
    EXPECT_EQ(std::string(buffer, 4), "abc\x7f");
    std::memset(buffer, 0x7f, sizeof buffer);
    MkSvGET(perl_, sv, buffer, -1);
    EXPECT_EQ(buffer[0], '\x7f');
}

// ---- The wide read ----

TEST_F(Values, WideReadCountsUnitsAndTerminates) {
    TextMode wide(true);
    MkSv* sv = new_value(u"abc");
    EXPECT_EQ(MkSvLEN(perl_, sv), 3);
    char16_t buffer[5] = {u'x', u'x', u'x', u'x', u'x'};
    MkSvGET(perl_, sv, buffer, 3);
    EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"abc\0x", 5));
}

struct WideCase {
    const char* name;
    const char* code;  // narrow source
    int32_t units;
    const char16_t* text;
};
const WideCase kWideCases[] = {
    {"integer", "42", 2, u"42"},
    {"two_byte_character", "my $s = \"\\x{e9}\"; utf8::upgrade($s); $s", 1, u"\u00e9"},
    {"utf8_bytes_of_a_literal", "\"\\xC3\\xA9\"", 1, u"\u00e9"},
    {"astral_character_is_a_pair", "\"\\x{1D11E}\"", 2, u"\U0001D11E"},
    {"malformed_utf8_becomes_replacement", "\"a\\xFFb\"", 3, u"a\uFFFDb"},
};

class WideReads : public Values, public ::testing::WithParamInterface<WideCase> {};

TEST_P(WideReads, LengthAndText) {
    const WideCase& c = GetParam();
    MkSv* sv = eval(c.code);
    ASSERT_NE(sv, nullptr);
    // Wide mode reads a value's bytes as UTF-8, whether or not Perl flags
    // them as such: a lone Latin-1 byte is ill-formed and reads as U+FFFD.
    TextMode wide(true);
    EXPECT_EQ(MkSvLEN(perl_, sv), c.units);
    EXPECT_EQ(read_wide(perl_, sv), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, WideReads, ::testing::ValuesIn(kWideCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Values, WideShortReadNeverSplitsAPair) {
    TextMode wide(true);
    MkSv* sv = new_value(u"h\u00e9llo\U0001F600!");
    ASSERT_EQ(MkSvLEN(perl_, sv), 8);
    char16_t buffer[10];
    std::fill(std::begin(buffer), std::end(buffer), u'x');
    MkSvGET(perl_, sv, buffer, 6);  // the pair would need units 5 and 6
    EXPECT_EQ(std::u16string(buffer), u"h\u00e9llo");
    EXPECT_EQ(buffer[7], u'x');  // nothing past length + 1 units
    std::fill(std::begin(buffer), std::end(buffer), u'x');
    MkSvGET(perl_, sv, buffer, -5);
    EXPECT_EQ(buffer[0], u'x');
}

// ---- New, null and released values ----

TEST_F(Values, NewValueReadsEmpty) {
    MkSv* sv = MkSvNew(perl_);
    owned_.push_back(sv);
    EXPECT_EQ(MkSvLEN(perl_, sv), 0);
    char narrow = '\x7f';
    MkSvGET(perl_, sv, &narrow, 0);
    EXPECT_EQ(narrow, '\x7f');  // nothing at all
    TextMode wide(true);
    EXPECT_EQ(MkSvLEN(perl_, sv), 0);
    char16_t unit = u'x';
    MkSvGET(perl_, sv, &unit, 0);
    EXPECT_EQ(unit, u'\0');
}

TEST_F(Values, NullValueIsNeutral) {
    EXPECT_EQ(MkSvLEN(perl_, nullptr), 0);
    unsigned char bytes[4] = {0x7f, 0x7f, 0x7f, 0x7f};
    MkSvGET(perl_, nullptr, bytes, 3);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0x7f);  // exactly one zero byte
    MkSvSetPv(perl_, nullptr, "ignored");
    MkSvDeRef(perl_, nullptr);

    TextMode wide(true);
    std::memset(bytes, 0x7f, sizeof bytes);
    MkSvGET(perl_, nullptr, bytes, 3);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0x7f);  // exactly two zero bytes
}

// ---- Setting ----

TEST_F(Values, NarrowSetDropsUtf8FlagForNonUtf8Bytes) {
    eval("our $smiley = \"\\x{263A}\"; 1");
    MkSv* sv = MkGetSV(perl_, "smiley", 0);
    MkSvSetPv(perl_, sv, "caf\xE9");
    EXPECT_EQ(eval_str("utf8::is_utf8($smiley) ? 'flagged' : 'bytes'"), "bytes");
    EXPECT_EQ(eval_str("length $smiley"), "4");
    EXPECT_EQ(eval_str("ord substr $smiley, 3"), "233");

    // Valid UTF-8 keeps the flag the value had.
    eval("$smiley = \"\\x{263A}\"; 1");
    MkSvSetPv(perl_, sv, "caf\xC3\xA9");
    EXPECT_EQ(eval_str("utf8::is_utf8($smiley) ? 'flagged' : 'bytes'"), "flagged");
    EXPECT_EQ(eval_str("length $smiley"), "4");
}

TEST_F(Values, WideSetMarksUtf8) {
    MkSv* sv = MkGetSV(perl_, "wide_set", 1);
    {
        TextMode wide(true);
        MkSvSetPv(perl_, sv, u"\u00e9\U0001D11E");
    }
    EXPECT_EQ(eval_str("utf8::is_utf8($wide_set) ? length $wide_set : 'bytes'"), "2");
}

// ---- Perl errors while reading or writing values ----

TEST_F(Values, ErrorsWhileReadingAreTrapped) {
    eval(R"(
        package DiesOnFetch { sub TIESCALAR { bless {}, shift } sub FETCH { die "fetch failed\n" } }
        package ExitsOnFetch { sub TIESCALAR { bless {}, shift } sub FETCH { exit 9 } }
        package Fine { sub TIESCALAR { bless {}, shift } sub FETCH { 'fetched' } }
        package Loud { use overload '""' => sub { die "no string\n" } }
        tie our $dies, 'DiesOnFetch'; tie our $exits, 'ExitsOnFetch'; tie our $fine, 'Fine';
        our $loud = bless {}, 'Loud'; 1)");

    for (const char* name : {"dies", "loud", "exits"}) {
        MkSv* sv = MkGetSV(perl_, name, 0);
        ASSERT_NE(sv, nullptr);
        EXPECT_EQ(MkSvLEN(perl_, sv), 0) << name;
        EXPECT_NE(error(), "") << name;
        char buffer[4] = {'x', 'x', 'x', 'x'};
        MkSvGET(perl_, sv, buffer, 3);
        EXPECT_EQ(buffer[0], '\0') << name;
    }
    EXPECT_EQ(str(MkGetSV(perl_, "dies", 0)), "");
    EXPECT_EQ(error(), "fetch failed\n");

    // A trapped read that succeeds leaves $@ as it was.
    MkSvSetPv(perl_, MkErrSv(perl_), "earlier error");
    EXPECT_EQ(str(MkGetSV(perl_, "fine", 0)), "fetched");
    EXPECT_EQ(error(), "earlier error");
    EXPECT_EQ(eval_str("1+1"), "2");
}

TEST_F(Values, SettingReadOnlyValueIsTrapped) {
    eval("our $fixed = 'fixed'; Internals::SvREADONLY($fixed, 1); 1");
    MkSv* fixed = MkGetSV(perl_, "fixed", 0);
    MkSvSetPv(perl_, fixed, "changed");
    EXPECT_NE(error().find("read-only"), std::string::npos) << error();
    EXPECT_EQ(str(fixed), "fixed");
}

TEST_F(Values, ReplacingAReferenceRunsDestroySafely) {
    eval(R"(
        package Noisy { sub DESTROY { $main::destroyed++; die "in destroy\n" } }
        package Leaver { sub DESTROY { exit 5 unless $_[0]{left}++ } }
        our $destroyed = 0; 1)");
    MkSv* held = MkGetSV(perl_, "held", 1);

    eval("$held = bless {}, 'Noisy'; 1");
    MkSvSetPv(perl_, held, "replaced");  // drops the object: DESTROY dies, Perl warns
    EXPECT_EQ(eval_str("$destroyed . ' ' . $held"), "1 replaced");

    eval("$held = bless {}, 'Leaver'; 1");
    MkSvSetPv(perl_, held, "replaced again");  // DESTROY calls exit
    EXPECT_EQ(error().rfind("exit(5) called", 0), 0u) << error();
    EXPECT_EQ(eval_str("1+1"), "2");
}

}  // namespace
