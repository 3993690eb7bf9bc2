// The C++ wrapper: ownership of interpreters and new values, eval's result
// or exception, and both read protocols.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "mokavi.hpp"

namespace {

class CppWrapper : public ::testing::Test {
protected:
    static void SetUpTestSuite() { perl_ = new mokavi::Interpreter(); }
    static void TearDownTestSuite() {
        delete perl_;
        perl_ = nullptr;
    }
    void TearDown() override { mokavi::set_wide_text(false); }

    // Perl's own count of references to an element of @main::held.
    std::string held_refcount(int index) {
        return perl_->eval("Internals::SvREFCNT($main::held[" + std::to_string(index) + "])").str();
    }

    static mokavi::Interpreter* perl_;
};
mokavi::Interpreter* CppWrapper::perl_ = nullptr;

struct NarrowCase {
    const char* name;
    std::string code;
    std::string expected;
};

TEST_F(CppWrapper, EvalReadsNarrowText) {
    const std::vector<NarrowCase> cases = {
        {"number", "6 * 7", "42"},
        {"list_in_scalar_context", "join ',', map { $_ * 2 } 1 .. 3", "2,4,6"},
        {"embedded_nul", "qq{a\\0b}", std::string("a\0b", 3)},
        {"empty_string", "''", ""},
        {"latin1_bytes", "qq{caf\\xe9}", "caf\xe9"},
        {"long", "'x' x 10000", std::string(10000, 'x')},
    };
    for (const NarrowCase& c : cases) {
        SCOPED_TRACE(c.name);
        const mokavi::Value v = perl_->eval(c.code);
        ASSERT_TRUE(v);
        EXPECT_EQ(v.str(), c.expected);
    }
}

TEST_F(CppWrapper, FailedEvalThrowsDollarAt) {
    const std::vector<NarrowCase> cases = {
        {"die_with_newline", "die qq{broken\\n}", "broken\n"},
        {"die_object_text", "die 'at line'", "at line at (eval "},
        {"syntax_error", "1 + ;", "syntax error"},
        {"exit_is_abandoned", "exit 3", "exit(3) called"},
    };
    for (const NarrowCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            perl_->eval(c.code);
            ADD_FAILURE() << "no exception";
        } catch (const mokavi::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << e.what();
        }
    }
}

TEST_F(CppWrapper, UndefinedResultIsNotAnError) {
    perl_->eval("$@ = ''");
    const mokavi::Value v = perl_->eval("undef");
    EXPECT_FALSE(v);
    EXPECT_EQ(v.str(), "");
    // A failure before does not turn a later undef into an error.
    EXPECT_THROW(perl_->eval("die 1"), mokavi::Error);
    EXPECT_FALSE(perl_->eval("undef"));
}

TEST_F(CppWrapper, WideModeReadsAndThrowsUtf16) {
    mokavi::set_wide_text(true);
    const std::u16string snowman_clef = u"\u2603\U0001D11E";
    EXPECT_EQ(perl_->eval(u"'caf\u00e9 ' . '" + snowman_clef + u"'").u16str(),
              u"caf\u00e9 " + snowman_clef);
    try {
        perl_->eval(u"die qq{\u00e9chec \U0001D11E\\n}");
        ADD_FAILURE() << "no exception";
    } catch (const mokavi::Error& e) {
        EXPECT_STREQ(e.what(), "\xc3\xa9" "chec \xf0\x9d\x84\x9e\n");
    }
    const mokavi::Value name = perl_->scalar(u"wide_name", true);
    name.set(u"\u00fc\U0001F600");
    EXPECT_EQ(name.u16str(), u"\u00fc\U0001F600");
}

TEST_F(CppWrapper, NewValueIsReleasedUnlessStored) {
    const mokavi::Array held = perl_->array("held", true);
    held.clear();
    {
        mokavi::NewValue stored = perl_->new_value();
        stored.set("kept");
        ASSERT_TRUE(held.store(0, stored));
        EXPECT_FALSE(stored) << "ownership moved to the array";
    }
    // Released twice, the element would be freed under the array.
    EXPECT_EQ(held_refcount(0), "1");
    EXPECT_EQ(held[0].str(), "kept");

    perl_->eval("Internals::SvREADONLY(@main::held, 1)");
    mokavi::NewValue refused = perl_->new_value();
    refused.set("mine");
    EXPECT_FALSE(held.store(1, refused));
    EXPECT_TRUE(refused) << "a failed store leaves the reference with the host";
    EXPECT_EQ(refused.str(), "mine");
    EXPECT_FALSE(held.store(-1, refused));
    perl_->eval("Internals::SvREADONLY(@main::held, 0)");

    mokavi::NewValue moved = std::move(refused);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(held.store(1, moved));
    EXPECT_EQ(held_refcount(1), "1");
    EXPECT_EQ(held.size(), 2);
}

TEST_F(CppWrapper, ArrayViewAndLookups) {
    perl_->eval("@main::list = qw(a b c); 1");
    const mokavi::Array a = perl_->array("main::list");
    ASSERT_TRUE(a);
    EXPECT_EQ(a.size(), 3);
    EXPECT_EQ(a[-1].str(), "c");
    EXPECT_FALSE(a[7]);
    a.reserve(100);
    EXPECT_EQ(a.size(), 3);
    a.clear();
    EXPECT_EQ(a.size(), 0);

    EXPECT_FALSE(perl_->array("no::such::list"));
    EXPECT_FALSE(perl_->scalar("no::such::scalar"));
    EXPECT_TRUE(perl_->hash("ENV"));
    EXPECT_EQ(mokavi::Array().size(), 0);
    EXPECT_FALSE(mokavi::Array()[0]);
}

TEST_F(CppWrapper, EvalOfValueAndErrorVariables) {
    mokavi::NewValue code = perl_->new_value();
    code.set("join '+', 1, 2");
    EXPECT_EQ(perl_->eval(code).str(), "1+2");
    code.set("die qq{from value\\n}");
    EXPECT_THROW(perl_->eval(code), mokavi::Error);
    EXPECT_EQ(perl_->error().str(), "from value\n");
    EXPECT_THROW(perl_->eval(mokavi::Value()), std::invalid_argument);

    perl_->eval("$! = 2; 1");
    EXPECT_FALSE(perl_->os_error().str().empty());
    EXPECT_EQ(mokavi::library_version(), 1200);
}

TEST(CppInterpreter, MoveTransfersOwnership) {
    mokavi::Interpreter first;
    first.eval("$main::tag = 'first'");
    MkInterpreter* const handle = first.handle();

    mokavi::Interpreter second(std::move(first));
    EXPECT_EQ(first.handle(), nullptr);
    EXPECT_EQ(second.handle(), handle);
    EXPECT_EQ(second.eval("$main::tag").str(), "first");

    mokavi::Interpreter third;
    third = std::move(second);  // destroys third's own interpreter
    EXPECT_EQ(second.handle(), nullptr);
    EXPECT_EQ(third.eval("$main::tag").str(), "first");
}

}  // namespace
