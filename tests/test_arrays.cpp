// Element-wise array access.
#include <string>

#include <gtest/gtest.h>

#include "perl_fixture.h"

namespace {

using mokavi_test::PerlSuite;

class Arrays : public PerlSuite {
protected:
    // A fresh package array holding `code`'s list.
    MkAv* array(const char* name, const char* list) {
        eval((std::string("@") + name + " = (" + list + "); 1").c_str());
        return MkGetAV(perl_, name, 0);
    }
};

TEST_F(Arrays, CountAndFetch) {
    EXPECT_EQ(MkAvLEN(perl_, nullptr), 0);
    EXPECT_EQ(MkAvLEN(perl_, array("empty", "")), 0);

    MkAv* av = array("three", "'a', 'b', 'c'");
    ASSERT_EQ(MkAvLEN(perl_, av), 3);
    EXPECT_EQ(str(MkSvFetchAV(perl_, av, 0)), "a");
    EXPECT_EQ(str(MkSvFetchAV(perl_, av, -1)), "c");
    EXPECT_EQ(str(MkSvFetchAV(perl_, av, -3)), "a");
    EXPECT_EQ(MkSvFetchAV(perl_, av, -4), nullptr);
    EXPECT_EQ(MkSvFetchAV(perl_, av, 5), nullptr);
    EXPECT_EQ(MkAvLEN(perl_, av), 3);  // fetching never creates
    EXPECT_EQ(MkSvFetchAV(perl_, nullptr, 0), nullptr);
}

TEST_F(Arrays, StoreHandsOverTheValue) {
    MkAv* av = array("stored", "1, 2, 3");
    MkSv* sv = new_text("ten");
    MkSv** slot = MkStoreAv(perl_, av, 10, sv);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(*slot, sv);
    EXPECT_EQ(MkAvLEN(perl_, av), 11);
    for (int i = 3; i < 10; ++i) EXPECT_EQ(MkSvFetchAV(perl_, av, i), nullptr) << i;
    EXPECT_EQ(MkSvFetchAV(perl_, av, 10), sv);  // the same value, not a copy
    EXPECT_EQ(eval_str("$stored[10]"), "ten");
}

TEST_F(Arrays, RefusedStoresChangeNothing) {
    MkAv* av = array("refused", "1");
    MkSv* sv = new_text("kept");
    EXPECT_EQ(MkStoreAv(perl_, av, -1, sv), nullptr);
    EXPECT_EQ(MkStoreAv(perl_, av, 0, nullptr), nullptr);
    EXPECT_EQ(MkStoreAv(perl_, nullptr, 0, sv), nullptr);
    EXPECT_EQ(eval_str("join ',', @refused"), "1");

    // A read-only array refuses growth with a Perl error, trapped.
    eval("Internals::SvREADONLY(@refused, 1); 1");
    EXPECT_EQ(MkStoreAv(perl_, av, 5, sv), nullptr);
    EXPECT_NE(error().find("read-only"), std::string::npos) << error();
    EXPECT_EQ(MkAvLEN(perl_, av), 1);
    // The caller still owns the value.
    EXPECT_EQ(str(sv), "kept");
    MkSvDeRef(perl_, sv);
}

TEST_F(Arrays, ExtendAndUndef) {
    MkAv* av = array("grown", "");
    MkExtendAv(perl_, av, 100);
    EXPECT_EQ(MkAvLEN(perl_, av), 0);
    MkExtendAv(perl_, av, -1);
    MkExtendAv(perl_, nullptr, 3);
    EXPECT_EQ(MkAvLEN(perl_, av), 0);

    MkAv* full = array("cleared", "1..50");
    ASSERT_EQ(MkAvLEN(perl_, full), 50);
    MkUndefAV(perl_, full);
    EXPECT_EQ(MkAvLEN(perl_, full), 0);
    MkUndefAV(perl_, nullptr);
}

TEST_F(Arrays, TiedArraysRunPerlCodeSafely) {
    eval(R"(
        package Counting {
            sub TIEARRAY { bless { n => 4 }, shift }
            sub FETCHSIZE { $_[0]{n} }
            sub FETCH { "item$_[1]" }
            sub STORE { $_[0]{last} = $_[2] }
            sub EXTEND {}
            sub STORESIZE { $_[0]{n} = $_[1] }
        }
        package Broken {
            sub TIEARRAY { bless {}, shift }
            sub FETCHSIZE { die "no size\n" }
            sub STORESIZE { die "no resize\n" }
        }
        tie our @counting, 'Counting'; tie our @broken, 'Broken'; 1)");

    MkAv* counting = MkGetAV(perl_, "counting", 0);
    EXPECT_EQ(MkAvLEN(perl_, counting), 4);
    MkSv* item = MkSvFetchAV(perl_, counting, 2);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(str(item), "item2");
    EXPECT_EQ(str(MkSvFetchAV(perl_, counting, -1)), "item3");
    MkUndefAV(perl_, counting);
    EXPECT_EQ(MkAvLEN(perl_, counting), 0);

    MkAv* broken = MkGetAV(perl_, "broken", 0);
    EXPECT_EQ(MkAvLEN(perl_, broken), 0);
    EXPECT_EQ(error(), "no size\n");
    EXPECT_EQ(MkSvFetchAV(perl_, broken, -1), nullptr);
    MkUndefAV(perl_, broken);
    EXPECT_EQ(error(), "no resize\n");
    EXPECT_EQ(eval_str("1+1"), "2");
}

}  // namespace
