// Shared helpers for the API tests: one interpreter per suite, the text
// mode switched for a scope, and values read by the length-then-copy
// protocol exactly as a host would.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "mokavi.h"

namespace mokavi_test {

// Switches the process-wide text mode for one scope, back to narrow after.
class TextMode {
public:
    explicit TextMode(bool wide) { MkSetWideAPI(nullptr, wide ? 1 : 0); }
    ~TextMode() { MkSetWideAPI(nullptr, 0); }
    TextMode(const TextMode&) = delete;
    TextMode& operator=(const TextMode&) = delete;
};

// The narrow read: MkSvLEN bytes, plus one the host terminates itself.
inline std::string read_narrow(MkInterpreter* perl, MkSv* sv) {
    const int32_t n = MkSvLEN(perl, sv);
    std::string buffer(static_cast<std::size_t>(n) + 1, '\x7f');
    buffer[n] = '\0';
    MkSvGET(perl, sv, buffer.data(), n);
    return std::string(buffer.c_str());
}

// The wide read: MkSvLEN units plus the terminator MkSvGET writes.
inline std::u16string read_wide(MkInterpreter* perl, MkSv* sv) {
    const int32_t n = MkSvLEN(perl, sv);
    std::u16string buffer(static_cast<std::size_t>(n) + 1, u'\x7f');
    MkSvGET(perl, sv, buffer.data(), n);
    EXPECT_EQ(buffer[n], u'\0') << "wide read must end with a zero unit";
    return std::u16string(buffer.c_str());
}

// A suite whose tests share one interpreter, always left in narrow mode.
class PerlSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        perl_ = MkCreateInterpreter();
        ASSERT_NE(perl_, nullptr);
    }
    static void TearDownTestSuite() {
        MkDestroyInterpreter(perl_);
        perl_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(perl_, nullptr); }
    void TearDown() override { MkSetWideAPI(nullptr, 0); }

    // Evaluates narrow source that must succeed.
    MkSv* eval(const char* code) {
        MkSv* sv = MkSvEval(perl_, code);
        EXPECT_NE(sv, nullptr) << code << ": " << error();
        return sv;
    }
    // A new value set from host text; the caller owns its reference.
    MkSv* new_text(const void* text) {
        MkSv* sv = MkSvNew(perl_);
        MkSvSetPv(perl_, sv, text);
        return sv;
    }
    std::string error() { return read_narrow(perl_, MkErrSv(perl_)); }
    std::string str(MkSv* sv) { return read_narrow(perl_, sv); }
    std::string eval_str(const char* code) { return str(eval(code)); }

    static MkInterpreter* perl_;
};

inline MkInterpreter* PerlSuite::perl_ = nullptr;

}  // namespace mokavi_test
