// Hostile scripts and hostile text: whatever the Perl code or the host's
// buffers do, the host keeps running, the interpreter stays usable, nothing
// is written to the host's stderr, and results and $@ are as documented.
#include <algorithm>
#include <climits>
#include <cstdint>
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

class Hostile : public PerlSuite {
protected:
    bool starts_with(const std::string& text, const char* prefix) {
        return text.rfind(prefix, 0) == 0;
    }
    // The interpreter still evaluates, and no handler or local setting of
    // the hostile code is left behind.
    void expect_usable() {
        EXPECT_EQ(MkSvEval(perl_, "die qq{plain\\n}"), nullptr);
        EXPECT_EQ(error(), "plain\n");
        EXPECT_EQ(eval_str("6*7"), "42");
        EXPECT_EQ(eval_str("${^GLOBAL_PHASE}"), "RUN");
    }
};

struct ScriptCase {
    const char* name;
    const char* code;
    const char* value;  // MkSvEval's result as a string; nullptr for null
    const char* error;  // start of $@ after MkSvEval ("" for empty)
};

// MkSvEvalSv returns null exactly when $@ is true, else the value as a
// string ("" for undef); both calls must agree on $@.
const ScriptCase kScripts[] = {
    {"die_with_array_ref", "die [1, 2]", nullptr, "ARRAY(0x"},
    {"die_with_scalar_ref", "die \\'x'", nullptr, "SCALAR(0x"},
    {"die_with_code_ref", "die sub { 1 }", nullptr, "CODE(0x"},
    {"die_with_undef", "die undef", nullptr, "Died at (eval "},
    {"die_with_object", "die bless [], 'Some::Error'", nullptr, "Some::Error=ARRAY(0x"},
    {"die_handler_throws_reference", "local $SIG{__DIE__} = sub { die [7] }; die 'x'", nullptr,
     "ARRAY(0x"},
    {"die_handler_exits", "local $SIG{__DIE__} = sub { exit 6 }; die 'x'", nullptr,
     "exit(6) called"},
    {"nested_eval", "eval { die qq{inner\\n} }; die qq{outer: $@}", nullptr, "outer: inner\n"},
    {"error_set_then_success", "$@ = 'preset'; 4", "4", ""},
    {"syntax_error_unterminated_string", "'abc", nullptr, "Can't find string terminator"},
    {"syntax_error_missing_brace", "sub { 1", nullptr, "Missing right curly"},
    {"begin_block_dies", "BEGIN { die qq{b\\n} }", nullptr, "b\nBEGIN failed"},
    {"begin_block_exits", "BEGIN { exit 5 }", nullptr, "exit(5) called"},
    {"loop_control_outside_loop", "last", nullptr, "Can't \"last\" outside a loop block"},
    {"goto_missing_label", "goto NOWHERE", nullptr, "Can't find label NOWHERE"},
    {"missing_module", "require No::Such::Module", nullptr, "Can't locate No/Such/Module.pm"},
    {"destroy_dies_in_cleanup",
     "package Dd { sub DESTROY { die qq{d\\n} } } { my $o = bless {}, 'Dd' } 7", "7", ""},
    {"destroy_exits_in_cleanup",
     "package De { sub DESTROY { exit 3 unless $_[0]{exited}++ } } { my $o = bless {}, 'De' } 8",
     nullptr,
     "exit(3) called"},
    {"exit_in_sort_block", "my @s = sort { exit 4 } 2, 1; 1", nullptr, "exit(4) called"},
    {"deep_perl_recursion",
     "no warnings 'recursion'; sub deep { $_[0] ? 1 + deep($_[0] - 1) : 0 } deep(200000)",
     "200000", ""},
    {"freeing_deeply_nested_arrays", "my $x; $x = [$x] for 1 .. 1000000; 1", "1", ""},
    {"freeing_deeply_nested_hashes", "my $h = {}; $h = { a => $h } for 1 .. 1000000; 2", "2",
     ""},
    {"glob_result", "*STDOUT", "*main::STDOUT", ""},
    {"regexp_result", "qr/x/i", "(?^i:x)", ""},
    {"lvalue_result", "my $s = 'abc'; substr($s, 1)", "bc", ""},
    {"read_only_version", "$^V", "v5.", ""},
};

class HostileScripts : public Hostile, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(HostileScripts, BothEvaluationsReportAsDocumented) {
    const ScriptCase& c = GetParam();
    ::testing::internal::CaptureStderr();
    MkSv* result = MkSvEval(perl_, c.code);
    const std::string eval_error = error();
    MkSv* code = new_text(c.code);
    MkSv* sv_result = MkSvEvalSv(perl_, code);
    const std::string sv_error = error();
    MkSvDeRef(perl_, code);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    if (c.value) {
        ASSERT_NE(result, nullptr) << eval_error;
        EXPECT_TRUE(starts_with(str(result), c.value)) << str(result);
        ASSERT_NE(sv_result, nullptr) << sv_error;
        EXPECT_TRUE(starts_with(str(sv_result), c.value)) << str(sv_result);
    } else {
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(sv_result, nullptr);
    }
    EXPECT_TRUE(starts_with(eval_error, c.error)) << "$@ is: " << eval_error;
    EXPECT_TRUE(starts_with(sv_error, c.error)) << "$@ is: " << sv_error;
    if (*c.error == '\0') {
        EXPECT_EQ(eval_error, "");
        EXPECT_EQ(sv_error, "");
    }
    expect_usable();
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileScripts, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

// An error object whose every use as a string or boolean dies: MkSvEvalSv
// must still see the failure, without ending in Perl's top-level error
// handler (which prints to stderr and exits).
TEST_F(Hostile, ErrorObjectThatCannotBeTested) {
    eval("package Cursed { use overload '\"\"' => sub { die qq{cursed\\n} } } 1");
    MkSv* code = new_text("die bless {}, 'Cursed'");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MkSvEvalSv(perl_, code), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error(), "cursed\n");
    MkSvDeRef(perl_, code);
    expect_usable();
}

// The code value itself may be hostile: its string form runs Perl code.
TEST_F(Hostile, CodeValueWhoseStringFormDies) {
    MkSv* code = eval("package Unreadable { use overload '\"\"' => sub { die qq{unreadable\\n} } } "
                      "bless {}, 'Unreadable'");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MkSvEvalSv(perl_, code), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error(), "unreadable\n");
    expect_usable();
}

// Perl caches a UTF-8 string's character length and offsets; a new string
// set by the host must not be measured with the old string's cache.
TEST_F(Hostile, SetStringIsNotMeasuredWithTheOldCache) {
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide" : "narrow");
        EXPECT_EQ(eval_str("our $cached = qq{\\x{100}bcdef}; length($cached) . substr($cached, 5)"),
                  "6f");
        MkSv* sv = MkGetSV(perl_, "cached", 0);
        ASSERT_NE(sv, nullptr);
        {
            TextMode mode(wide);
            MkSvSetPv(perl_, sv, wide ? static_cast<const void*>(u"\u00e9z") : "xy");
        }
        EXPECT_EQ(eval_str("length($cached) . '/' . substr($cached, 1)"), wide ? "2/z" : "2/y");
    }
}

// An object whose DESTROY always exits, alive when the interpreter is
// destroyed: the host keeps running and new interpreters work. The
// tear-down is abandoned and that interpreter's memory stays allocated,
// so valgrind runs leave this test out.
TEST(HostileTeardown, AbandonedDestructionLeavesHostRunning) {
    MkInterpreter* doomed = MkCreateInterpreter();
    ASSERT_NE(doomed, nullptr);
    ASSERT_NE(MkSvEval(doomed, "package Stubborn { sub DESTROY { exit 7 } } "
                               "our $kept = bless {}, 'Stubborn'; 1"),
              nullptr);
    ::testing::internal::CaptureStderr();
    MkDestroyInterpreter(doomed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    MkInterpreter* next = MkCreateInterpreter();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(read_narrow(next, MkSvEval(next, "use POSIX (); POSIX::floor(4.5)")), "4");
    MkDestroyInterpreter(next);
}

// ---- Huge strings -------------------------------------------------------

// Hundreds of megabytes through set, length and read, in both modes.
TEST_F(Hostile, HugeNarrowStringRoundTrips) {
    std::string text(300u << 20, 'a');
    for (std::size_t i = 0; i < text.size(); i += 4093) text[i] = static_cast<char>('b' + i % 23);
    MkSv* sv = MkSvNew(perl_);
    MkSvSetPv(perl_, sv, text.c_str());
    const int32_t n = MkSvLEN(perl_, sv);
    ASSERT_GT(n, static_cast<int32_t>(text.size()));
    std::string back(static_cast<std::size_t>(n), '\x7f');
    MkSvGET(perl_, sv, back.data(), n);
    EXPECT_EQ(back.size() > text.size() && back[text.size()] == '\0', true);
    back.resize(text.size());
    EXPECT_TRUE(back == text);
    MkSvDeRef(perl_, sv);
}

TEST_F(Hostile, HugeWideStringRoundTrips) {
    TextMode wide(true);
    const std::u16string unit = u"abc\u00e9\u4e2d\U0001D11E";
    std::u16string text;
    text.reserve(130u << 20);
    while (text.size() < (128u << 20)) text += unit;
    MkSv* sv = MkSvNew(perl_);
    MkSvSetPv(perl_, sv, text.c_str());
    ASSERT_EQ(MkSvLEN(perl_, sv), static_cast<int32_t>(text.size()));
    EXPECT_TRUE(read_wide(perl_, sv) == text);
    MkSvDeRef(perl_, sv);
}

// A string longer than a 32-bit length can carry: lengths are clamped,
// never negative, and short reads take a prefix without overrunning.
TEST_F(Hostile, StringBeyondInt32Lengths) {
    eval("our $beyond = 'x' x (2**31 + 5); substr($beyond, 0, 3) = 'abc'; 1");
    MkSv* sv = MkGetSV(perl_, "beyond", 0);
    ASSERT_NE(sv, nullptr);
    EXPECT_EQ(MkSvLEN(perl_, sv), INT32_MAX);
    char narrow[8];
    std::memset(narrow, 0x7f, sizeof narrow);
    MkSvGET(perl_, sv, narrow, 4);
    EXPECT_EQ(std::string(narrow, 5), "abcx\x7f");
    {
        TextMode wide(true);
        EXPECT_EQ(MkSvLEN(perl_, sv), INT32_MAX);
        char16_t units[8];
        std::fill(std::begin(units), std::end(units), u'\x7f');
        MkSvGET(perl_, sv, units, 4);
        EXPECT_EQ(std::u16string(units, 6), std::u16string(u"abcx\0\x7f", 6));
    }
    eval("undef $beyond; 1");
}

// ---- Ill-formed text ----------------------------------------------------

// Ill-formed UTF-16 from the host reaches Perl as well-formed UTF-8, one
// U+FFFD for each unpaired surrogate.
struct Utf16Case {
    const char* name;
    std::u16string text;
    std::u16string stored;
};

const Utf16Case kIllFormedUtf16[] = {
    {"lone_high", std::u16string(u"a") + char16_t(0xD800) + u"b", u"a\uFFFDb"},
    {"lone_low", std::u16string(u"a") + char16_t(0xDC00) + u"b", u"a\uFFFDb"},
    {"reversed_pair", std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800), u"a\uFFFD\uFFFD"},
    {"high_at_end", std::u16string(u"ab") + char16_t(0xDBFF), u"ab\uFFFD"},
    {"two_highs_then_low", std::u16string(u"") + char16_t(0xD800) + char16_t(0xD83D) +
                               char16_t(0xDE00),
     u"\uFFFD\U0001F600"},
};

// Parameters print as their names (their strings' spare bytes are not
// initialised).
void PrintTo(const Utf16Case& c, std::ostream* os) { *os << c.name; }

std::size_t code_points(const std::u16string& text) {
    std::size_t n = 0;
    for (char16_t u : text) n += (u & 0xFC00) != 0xDC00;
    return n;
}

class IllFormedUtf16 : public Hostile, public ::testing::WithParamInterface<Utf16Case> {};

TEST_P(IllFormedUtf16, StoredAsReplacementCharacters) {
    const Utf16Case& c = GetParam();
    MkSv* sv = MkGetSV(perl_, "from_host", 1);
    ASSERT_NE(sv, nullptr);
    {
        TextMode wide(true);
        MkSvSetPv(perl_, sv, c.text.c_str());
        EXPECT_EQ(read_wide(perl_, sv), c.stored);
    }
    EXPECT_EQ(eval_str("utf8::is_utf8($from_host) && utf8::valid($from_host) ? length $from_host : -1"),
              std::to_string(code_points(c.stored)));
}

INSTANTIATE_TEST_SUITE_P(Cases, IllFormedUtf16, ::testing::ValuesIn(kIllFormedUtf16),
                         [](const auto& info) { return std::string(info.param.name); });

// Ill-formed UTF-8 made by Perl reads back as U+FFFD per maximal ill-formed
// subsequence, with MkSvLEN and MkSvGET agreeing.
struct Utf8Case {
    const char* name;
    const char* code;
    std::u16string text;
};

const Utf8Case kIllFormedUtf8[] = {
    {"encoded_surrogate", "\"a\\xED\\xA0\\x80b\"", u"a\uFFFD\uFFFD\uFFFDb"},
    {"overlong_slash", "\"\\xC0\\xAF\"", u"\uFFFD\uFFFD"},
    {"truncated_at_end", "\"ok\\xE2\\x82\"", u"ok\uFFFD"},
    {"stray_continuation", "\"\\x80x\"", u"\uFFFDx"},
    {"perl_surrogate_code_point", "no warnings; my $s = chr 0xD800; $s", u"\uFFFD\uFFFD\uFFFD"},
    {"perl_beyond_unicode", "no warnings; my $s = chr 0x110000; $s",
     u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"embedded_nul_ends_wide_text", "\"a\\0b\"", u"a"},
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class IllFormedUtf8 : public Hostile, public ::testing::WithParamInterface<Utf8Case> {};

TEST_P(IllFormedUtf8, ReadsAsReplacementCharacters) {
    const Utf8Case& c = GetParam();
    MkSv* sv = eval(c.code);
    ASSERT_NE(sv, nullptr);
    TextMode wide(true);
    EXPECT_EQ(MkSvLEN(perl_, sv), static_cast<int32_t>(c.text.size()));
    EXPECT_EQ(read_wide(perl_, sv), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, IllFormedUtf8, ::testing::ValuesIn(kIllFormedUtf8),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The buffer protocol misused --------------------------------------------

// MkSvGET with lengths the protocol does not expect. The buffer is far
// larger than any length used, filled with a marker; what may be written is
// exactly what the protocol says, and nothing else changes.
struct MisuseCase {
    const char* name;
    bool wide;
    int32_t delta;     // length passed = MkSvLEN + delta (ignored if fixed)
    bool fixed;        // pass `delta` itself as the length
};

const MisuseCase kMisuses[] = {
    {"narrow_zero", false, 0, true},       {"wide_zero", true, 0, true},
    {"narrow_negative", false, -1, true},  {"wide_negative", true, -1, true},
    {"narrow_very_negative", false, INT32_MIN, true},
    {"wide_very_negative", true, INT32_MIN, true},
    {"narrow_shorter", false, -5, false},  {"wide_shorter", true, -2, false},
    {"narrow_longer", false, 9, false},    {"wide_longer", true, 9, false},
};

class BufferMisuse : public Hostile, public ::testing::WithParamInterface<MisuseCase> {
protected:
    static constexpr std::size_t kRoom = 1024;

    void check_narrow(MkSv* sv, int32_t n, int32_t length) {
        std::vector<char> proper(static_cast<std::size_t>(n) + 1, '\0');
        MkSvGET(perl_, sv, proper.data(), n);
        std::vector<char> expected(kRoom, '\x7f');
        for (int32_t i = 0; i < length; ++i) expected[i] = i < n ? proper[i] : '\0';
        std::vector<char> buffer(kRoom, '\x7f');
        MkSvGET(perl_, sv, buffer.data(), length);
        EXPECT_EQ(buffer, expected);
    }

    void check_wide(MkSv* sv, int32_t length) {
        const std::u16string proper = read_wide(perl_, sv);
        std::vector<char16_t> expected(kRoom, u'\x7f');
        if (length >= 0) {
            const std::size_t kept = std::min<std::size_t>(length, proper.size());
            std::copy_n(proper.begin(), kept, expected.begin());
            expected[kept] = u'\0';
        }
        std::vector<char16_t> buffer(kRoom, u'\x7f');
        MkSvGET(perl_, sv, buffer.data(), length);
        EXPECT_EQ(buffer, expected);
    }
};

TEST_P(BufferMisuse, WritesOnlyWhatTheLengthAllows) {
    const MisuseCase& c = GetParam();
    // A Perl string with multi-byte characters, a number with no string,
    // and an undefined value.
    MkSv* undefined = MkSvNew(perl_);
    const std::vector<MkSv*> values = {eval("'h' . chr(233) . 'llo w' . chr(0x1D11E) . 'rld'"),
                                       eval("12345"), undefined};
    TextMode mode(c.wide);
    for (MkSv* sv : values) {
        ASSERT_NE(sv, nullptr);
        const int32_t n = MkSvLEN(perl_, sv);
        const int32_t length = c.fixed ? c.delta : n + c.delta;
        SCOPED_TRACE("MkSvLEN " + std::to_string(n) + ", length " + std::to_string(length));
        if (c.wide) {
            check_wide(sv, length);
        } else {
            check_narrow(sv, n, length);
        }
    }
    MkSvDeRef(perl_, undefined);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferMisuse, ::testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
