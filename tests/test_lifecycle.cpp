// Creating, using side by side, and destroying interpreters.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "perl_fixture.h"

namespace {

using mokavi_test::read_narrow;

std::string eval_narrow(MkInterpreter* perl, const char* code) {
    MkSv* sv = MkSvEval(perl, code);
    if (!sv) return "<null: " + read_narrow(perl, MkErrSv(perl)) + ">";
    return read_narrow(perl, sv);
}

TEST(Lifecycle, VersionIsConstantWithOrWithoutInterpreters) {
    EXPECT_EQ(MkGetVersion(), 1200);
    MkInterpreter* perl = MkCreateInterpreter();
    ASSERT_NE(perl, nullptr);
    EXPECT_EQ(MkGetVersion(), 1200);
    MkDestroyInterpreter(perl);
    EXPECT_EQ(MkGetVersion(), 1200);
}

TEST(Lifecycle, DestroyingNullDoesNothing) { MkDestroyInterpreter(nullptr); }

TEST(Lifecycle, NewInterpreterIsReadyAndLoadsXsModules) {
    MkInterpreter* perl = MkCreateInterpreter();
    ASSERT_NE(perl, nullptr);
    EXPECT_EQ(eval_narrow(perl, "defined &DynaLoader::boot_DynaLoader ? 'yes' : 'no'"), "yes");
    EXPECT_EQ(eval_narrow(perl, "use POSIX (); POSIX::floor(7.5)"), "7");
    EXPECT_EQ(eval_narrow(perl, "use List::Util qw(sum); sum(1..10)"), "55");
    MkDestroyInterpreter(perl);
}

TEST(Lifecycle, InterpretersAreDistinctAndIsolated) {
    MkInterpreter* a = MkCreateInterpreter();
    MkInterpreter* b = MkCreateInterpreter();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);

    // Interleaved calls, XS modules included: each call must run in its own
    // interpreter even though the other was used last on this thread.
    eval_narrow(a, "our $who = 'a'; use Digest::MD5 ()");
    eval_narrow(b, "our $who = 'b'; use POSIX ()");
    EXPECT_EQ(eval_narrow(a, "$who . Digest::MD5::md5_hex('')"), "ad41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(eval_narrow(b, "$who . POSIX::floor(2.5)"), "b2");
    EXPECT_EQ(eval_narrow(a, "defined &POSIX::floor ? 1 : 0"), "0");

    MkDestroyInterpreter(a);
    EXPECT_EQ(eval_narrow(b, "$who"), "b");
    MkInterpreter* c = MkCreateInterpreter();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(eval_narrow(c, "defined $who ? 1 : 0"), "0");
    EXPECT_EQ(eval_narrow(b, "POSIX::floor(9.9)"), "9");
    MkDestroyInterpreter(c);
    MkDestroyInterpreter(b);
}

TEST(Lifecycle, AssigningDollarZeroLeavesLaterInterpretersIntact) {
    MkInterpreter* first = MkCreateInterpreter();
    ASSERT_NE(first, nullptr);
    eval_narrow(first, "$0 = 'x' x 300; 1");
    MkInterpreter* second = MkCreateInterpreter();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(eval_narrow(second, "1+1"), "2");
    MkDestroyInterpreter(second);
    MkDestroyInterpreter(first);
}

TEST(Lifecycle, ManyCreateDestroyCyclesStayUsable) {
    for (int i = 0; i < 20; ++i) {
        MkInterpreter* perl = MkCreateInterpreter();
        ASSERT_NE(perl, nullptr);
        ASSERT_EQ(eval_narrow(perl, "use POSIX (); POSIX::floor(3.7) + 1"), "4");
        MkDestroyInterpreter(perl);
    }
}

}  // namespace
