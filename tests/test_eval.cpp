// Evaluation, its failures, and the error variables.
#include <malloc.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "perl_fixture.h"

namespace {

using mokavi_test::PerlSuite;
using mokavi_test::read_wide;
using mokavi_test::TextMode;

class Eval : public PerlSuite {};

struct EvalCase {
    const char* name;
    const char* code;
    const char* value;      // expected string, or nullptr for a null result
    const char* error;      // expected start of $@, or "" for false
};

const EvalCase kEvalCases[] = {
    {"sum", "2+3", "5", ""},
    {"string", "'abc' . 'def'", "abcdef", ""},
    {"undef", "undef", nullptr, ""},
    {"empty_source", "", nullptr, ""},
    {"die_with_newline", "die qq{x\\n}", nullptr, "x\n"},
    {"die_with_location", "die 'boom'", nullptr, "boom at (eval "},
    {"syntax_error", "1 + ;", nullptr, "syntax error"},
    {"die_with_object", "die bless {}, 'My::Error'", nullptr, "My::Error=HASH("},
    {"runaway_recursion_is_trapped",
     "no warnings; sub r { $_[0] > 5000 ? die qq{deep\\n} : r($_[0] + 1) } r(0)", nullptr,
     "deep\n"},
    {"exit_with_status", "exit 3", nullptr, "exit(3) called"},
    {"exit_without_status", "exit", nullptr, "exit(0) called"},
    {"exit_from_nested_sub", "sub f { exit 7 } f(); 1", nullptr, "exit(7) called"},
};

class EvalTable : public Eval, public ::testing::WithParamInterface<EvalCase> {};

TEST_P(EvalTable, ResultAndErrorVariable) {
    const EvalCase& c = GetParam();
    MkSv* result = MkSvEval(perl_, c.code);
    if (c.value) {
        ASSERT_NE(result, nullptr) << error();
        EXPECT_EQ(str(result), c.value);
    } else {
        EXPECT_EQ(result, nullptr);
    }
    EXPECT_EQ(error().rfind(c.error, 0), 0u) << "$@ is: " << error();
    if (*c.error == '\0') {
        EXPECT_EQ(error(), "");
    }
    // Whatever happened, the interpreter is still usable.
    EXPECT_EQ(eval_str("6*7"), "42");
}

INSTANTIATE_TEST_SUITE_P(Cases, EvalTable, ::testing::ValuesIn(kEvalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Eval, NumbersStayNumbers) {
    MkSv* five = eval("2+3");
    // A value with no string has MkSvLEN equal to its string form's length,
    // not to the size of a string buffer.
    EXPECT_EQ(MkSvLEN(perl_, five), 1);
    EXPECT_EQ(str(five), "5");
}

TEST_F(Eval, ResultsStayValidAcrossLaterEvaluations) {
    MkSv* first = eval("'first' x 2");
    for (int i = 0; i < 100; ++i) eval("my @x = (1..10); 'other'");
    EXPECT_EQ(str(first), "firstfirst");
}

TEST_F(Eval, EvalSvReturnsStrings) {
    MkSv* result = MkSvEvalSv(perl_, new_text("2+3"));
    ASSERT_NE(result, nullptr);
    // Forced into a string: narrow MkSvLEN reports a string buffer (at
    // least the digit and its terminator).
    EXPECT_GE(MkSvLEN(perl_, result), 2);
    EXPECT_EQ(str(result), "5");
    EXPECT_EQ(error(), "");
}

struct EvalSvCase {
    const char* name;
    const char* code;
    const char* value;  // nullptr: null result with $@ starting with `error`
    const char* error;
};

const EvalSvCase kEvalSvCases[] = {
    {"die", "die 'boom'", nullptr, "boom"},
    {"exit", "exit 4", nullptr, "exit(4) called"},
    {"bare_return_gives_empty_string", "return;", "", ""},
    {"undef_gives_empty_string", "undef", "", ""},
    {"true_comparison", "1 == 1", "1", ""},
    {"false_comparison", "1 == 2", "", ""},
    {"reference_is_stringified", "[]", "ARRAY(0x", ""},
    {"constant", "use constant PI => 3; PI", "3", ""},
    {"overloaded_stringification",
     "package Str { use overload '\"\"' => sub { 'over' } } bless {}, 'Str'", "over", ""},
    {"stringification_that_dies",
     "package Bad { use overload '\"\"' => sub { die qq{nope\\n} } } bless {}, 'Bad'", nullptr,
     "nope\n"},
};

class EvalSvTable : public Eval, public ::testing::WithParamInterface<EvalSvCase> {};

TEST_P(EvalSvTable, ResultIsStringOrNullWithError) {
    const EvalSvCase& c = GetParam();
    MkSv* code = new_text(c.code);
    MkSv* result = MkSvEvalSv(perl_, code);
    if (c.value) {
        ASSERT_NE(result, nullptr) << error();
        EXPECT_EQ(str(result).rfind(c.value, 0), 0u) << str(result);
    } else {
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(error().rfind(c.error, 0), 0u) << "$@ is: " << error();
    }
    MkSvDeRef(perl_, code);
    EXPECT_EQ(eval_str("6*7"), "42");
}

INSTANTIATE_TEST_SUITE_P(Cases, EvalSvTable, ::testing::ValuesIn(kEvalSvCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Eval, ErrnoAfterFailedOpen) {
    eval("open(my $fh, '<', '/nonexistent/mokavi/file') or our $failure = $!; 1");
    MkSv* errno_sv = MkCompErrSv(perl_);
    ASSERT_NE(errno_sv, nullptr);
    EXPECT_EQ(str(errno_sv), std::strerror(ENOENT));
}

TEST_F(Eval, WideSourceReachesPerlAsUtf8Bytes) {
    TextMode wide(true);
    // The literal is handed over as its UTF-8 bytes.
    MkSv* bytes = MkSvEval(perl_, u"join ',', map { ord } split //, '\u00e9'");
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(read_wide(perl_, bytes), u"195,169");
    // And comes back as the same character.
    MkSv* text = MkSvEval(perl_, u"'caf\u00e9 \U0001D11E'");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(read_wide(perl_, text), u"caf\u00e9 \U0001D11E");
}

TEST_F(Eval, WideErrorsReadBack) {
    TextMode wide(true);
    EXPECT_EQ(MkSvEval(perl_, u"die \"\u00fcber\\n\""), nullptr);
    EXPECT_EQ(read_wide(perl_, MkErrSv(perl_)), u"\u00fcber\n");
}

// Heap in use, as glibc counts it.
std::size_t heap_in_use() { return mallinfo2().uordblks; }

// Each evaluation releases everything but its result, and the interpreter's
// stacks end each call where they began.
TEST_F(Eval, RepeatedEvaluationGrowsOnlyByItsResults) {
    constexpr int kCalls = 20000;
    for (int i = 0; i < 1000; ++i) MkSvEval(perl_, "1+1");  // warm up the stacks
    std::size_t before = heap_in_use();
    for (int i = 0; i < kCalls; ++i) MkSvEval(perl_, "1+1");
    const double per_eval = double(heap_in_use() - before) / kCalls;

    MkSv* code = new_text("'x' x 4");
    for (int i = 0; i < 1000; ++i) MkSvEvalSv(perl_, code);
    before = heap_in_use();
    for (int i = 0; i < kCalls; ++i) MkSvEvalSv(perl_, code);
    const double per_eval_sv = double(heap_in_use() - before) / kCalls;
    MkSvDeRef(perl_, code);

    RecordProperty("bytes_per_MkSvEval", std::to_string(per_eval));
    RecordProperty("bytes_per_MkSvEvalSv", std::to_string(per_eval_sv));
    std::printf("heap growth per call: MkSvEval(\"1+1\") %.1f B, MkSvEvalSv %.1f B\n", per_eval,
                per_eval_sv);
    EXPECT_LE(per_eval, 64.0);
    EXPECT_LE(per_eval_sv, 128.0);
}

}  // namespace
