// Many interpreters, many threads, every teardown order, and the host
// thread's own state (its locale) around all of them.
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "perl_fixture.h"

namespace {

using mokavi_test::read_narrow;

std::string eval_narrow(MkInterpreter* perl, const std::string& code) {
    MkSv* sv = MkSvEval(perl, code.c_str());
    if (!sv) return "<null: " + read_narrow(perl, MkErrSv(perl)) + ">";
    return read_narrow(perl, sv);
}

// XS modules, each used through its compiled part. Every interpreter holds
// its own $name, so a call that ran in the wrong interpreter shows.
struct XsCase {
    const char* module;
    const char* code;      // uses $name
    const char* expected;  // with {} standing for $name's value
};

const XsCase kXsCases[] = {
    {"POSIX", "use POSIX (); POSIX::floor(7.9) . $name", "7{}"},
    {"List::Util", "use List::Util qw(sum first); sum(1..10) . (first { /b/ } qw(a b c)) . $name",
     "55b{}"},
    {"Storable", "use Storable qw(dclone); my $c = dclone({ n => [$name] }); $c->{n}[0]", "{}"},
    {"Encode", "use Encode (); unpack('H*', Encode::encode('UTF-8', \"\\x{e9}\")) . $name",
     "c3a9{}"},
    {"Digest::MD5", "use Digest::MD5 (); Digest::MD5::md5_hex('abc') . $name",
     "900150983cd24fb0d6963f7d28e17f72{}"},
};

std::string expected_for(const XsCase& c, const std::string& name) {
    std::string out = c.expected;
    const auto at = out.find("{}");
    if (at != std::string::npos) out.replace(at, 2, name);
    return out;
}

// Runs every XS case on `perl`, whose $name must hold `name`.
void check_xs_modules(MkInterpreter* perl, const std::string& name) {
    for (const XsCase& c : kXsCases) {
        EXPECT_EQ(eval_narrow(perl, c.code), expected_for(c, name)) << c.module << " in " << name;
    }
}

MkInterpreter* named_interpreter(const std::string& name) {
    MkInterpreter* perl = MkCreateInterpreter();
    EXPECT_NE(perl, nullptr);
    if (perl) {
        EXPECT_EQ(eval_narrow(perl, "our $name = '" + name + "'"), name);
    }
    return perl;
}

TEST(ManyInterpreters, InterleavedXsModulesInOneThread) {
    std::vector<MkInterpreter*> perls;
    for (const char* name : {"first", "second", "third"}) perls.push_back(named_interpreter(name));
    // Case by case across the interpreters, so each module is loaded into
    // one interpreter while the others have it loaded or not yet.
    for (const XsCase& c : kXsCases) {
        for (std::size_t i = 0; i < perls.size(); ++i) {
            const std::string name = eval_narrow(perls[i], "$name");
            EXPECT_EQ(eval_narrow(perls[i], c.code), expected_for(c, name)) << c.module;
        }
    }
    for (MkInterpreter* perl : perls) MkDestroyInterpreter(perl);
}

// ---- Threads ---------------------------------------------------------------

TEST(ManyThreads, EachThreadEvaluatesItsOwnInterpreterConcurrently) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 8;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t] {
            const std::string name = "worker" + std::to_string(t);
            MkInterpreter* perl = named_interpreter(name);
            if (!perl) return;
            for (int round = 0; round < kRounds; ++round) {
                check_xs_modules(perl, name);
                // Interpreters come and go beside the long-lived one.
                const std::string guest = name + "_guest" + std::to_string(round);
                MkInterpreter* short_lived = named_interpreter(guest);
                if (!short_lived) continue;
                EXPECT_EQ(eval_narrow(short_lived, "use POSIX (); POSIX::ceil(1.2) . $name"),
                          "2" + guest);
                EXPECT_EQ(eval_narrow(perl, "$name"), name);
                MkDestroyInterpreter(short_lived);
            }
            MkDestroyInterpreter(perl);
        });
    }
    for (std::thread& w : workers) w.join();
}

TEST(ManyThreads, InterpreterMovesBetweenThreads) {
    MkInterpreter* perl = named_interpreter("travelling");
    ASSERT_NE(perl, nullptr);
    for (int hop = 0; hop < 3; ++hop) {
        std::thread([perl, hop] {
            EXPECT_EQ(eval_narrow(perl, "our $hops .= " + std::to_string(hop) + "; $hops"),
                      std::string("012").substr(0, hop + 1));
            check_xs_modules(perl, "travelling");
        }).join();
    }
    MkDestroyInterpreter(perl);
}

// ---- Teardown order ------------------------------------------------------

// Every order of destroying three interpreters; after each destruction the
// survivors and a newly created interpreter must still work.
class TeardownOrder : public ::testing::TestWithParam<std::array<int, 3>> {};

TEST_P(TeardownOrder, SurvivorsAndNewcomersKeepWorking) {
    const std::array<int, 3> order = GetParam();
    std::array<MkInterpreter*, 3> perls{};
    for (int i = 0; i < 3; ++i) {
        perls[i] = named_interpreter("p" + std::to_string(i));
        ASSERT_NE(perls[i], nullptr);
        EXPECT_EQ(eval_narrow(perls[i], "use POSIX (); use Storable (); 1"), "1");
    }
    for (int step = 0; step < 3; ++step) {
        MkDestroyInterpreter(perls[order[step]]);
        perls[order[step]] = nullptr;
        for (int i = 0; i < 3; ++i) {
            if (perls[i]) check_xs_modules(perls[i], "p" + std::to_string(i));
        }
        MkInterpreter* newcomer = named_interpreter("new" + std::to_string(step));
        ASSERT_NE(newcomer, nullptr);
        check_xs_modules(newcomer, "new" + std::to_string(step));
        MkDestroyInterpreter(newcomer);
    }
}

std::vector<std::array<int, 3>> all_orders() {
    std::array<int, 3> order{0, 1, 2};
    std::vector<std::array<int, 3>> orders;
    do orders.push_back(order);
    while (std::next_permutation(order.begin(), order.end()));
    return orders;
}

INSTANTIATE_TEST_SUITE_P(Orders, TeardownOrder, ::testing::ValuesIn(all_orders()),
                         [](const auto& info) {
                             std::string name = "destroy";
                             for (int i : info.param) name += std::to_string(i);
                             return name;
                         });

// ---- The host thread's locale ----------------------------------------------

// What the host thread sees of its locale.
struct HostLocale {
    locale_t current;
    std::string codeset;
    std::string decimal_point;
    std::string global;

    static HostLocale now() {
        return {uselocale(static_cast<locale_t>(nullptr)), nl_langinfo(CODESET),
                localeconv()->decimal_point, setlocale(LC_ALL, nullptr)};
    }
    bool operator==(const HostLocale&) const = default;
};

void PrintTo(const HostLocale& l, std::ostream* os) {
    *os << (l.current == LC_GLOBAL_LOCALE ? "global" : "thread") << " locale, codeset "
        << l.codeset << ", decimal point '" << l.decimal_point << "', global " << l.global;
}

// The codeset Perl should run in: the one the environment names.
std::string environment_codeset() {
    locale_t env = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (!env) env = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string codeset = nl_langinfo_l(CODESET, env);
    freelocale(env);
    return codeset;
}

const char kPerlCodeset[] = "use I18N::Langinfo qw(langinfo CODESET); langinfo(CODESET)";

// Runs `body` on a fresh thread, first switched to `host_locale_name` with
// uselocale (or left on the global locale for nullptr).
template <class Body>
void on_host_thread(const char* host_locale_name, Body body) {
    std::thread([&] {
        locale_t own = nullptr;
        if (host_locale_name) {
            own = newlocale(LC_ALL_MASK, host_locale_name, static_cast<locale_t>(nullptr));
            ASSERT_NE(own, nullptr) << host_locale_name;
            uselocale(own);
        }
        body();
        uselocale(LC_GLOBAL_LOCALE);
        if (own) freelocale(own);
    }).join();
}

class HostLocaleKept : public ::testing::TestWithParam<const char*> {};

TEST_P(HostLocaleKept, AcrossCreateEvaluateAndDestroy) {
    on_host_thread(GetParam(), [] {
        const HostLocale before = HostLocale::now();
        MkInterpreter* perl = MkCreateInterpreter();
        ASSERT_NE(perl, nullptr);
        EXPECT_EQ(HostLocale::now(), before) << "after creating";
        // Perl itself runs in the locale the environment names.
        EXPECT_EQ(eval_narrow(perl, kPerlCodeset), environment_codeset());
        EXPECT_EQ(eval_narrow(perl, "use POSIX (); POSIX::floor(2.5) + 0.5"), "2.5");
        EXPECT_EQ(HostLocale::now(), before) << "after evaluating";
        MkDestroyInterpreter(perl);
        EXPECT_EQ(HostLocale::now(), before) << "after destroying";
    });
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostLocaleKept,
                         ::testing::Values(nullptr, "C", "C.UTF-8"),
                         [](const auto& info) {
                             std::string name = info.param ? info.param : "global";
                             std::replace_if(name.begin(), name.end(),
                                             [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

TEST(PerlLocale, SetByPerlCodeIsKeptAndStaysInside) {
    on_host_thread("C", [] {
        const HostLocale before = HostLocale::now();
        MkInterpreter* perl = MkCreateInterpreter();
        MkInterpreter* other = MkCreateInterpreter();
        ASSERT_NE(perl, nullptr);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(eval_narrow(perl, "use POSIX qw(setlocale LC_ALL); setlocale(LC_ALL, 'C.UTF-8')"),
                  "C.UTF-8");
        EXPECT_EQ(eval_narrow(other, "use POSIX qw(setlocale LC_ALL); setlocale(LC_ALL, 'C')"), "C");
        EXPECT_EQ(HostLocale::now(), before);
        // Each keeps its own from call to call, and destroying an
        // interpreter leaves the others' alone.
        MkInterpreter* passing = MkCreateInterpreter();
        MkDestroyInterpreter(passing);
        EXPECT_EQ(eval_narrow(perl, kPerlCodeset), "UTF-8");
        EXPECT_EQ(eval_narrow(other, kPerlCodeset), "ANSI_X3.4-1968");
        std::thread([perl] { EXPECT_EQ(eval_narrow(perl, kPerlCodeset), "UTF-8"); }).join();
        MkDestroyInterpreter(other);
        EXPECT_EQ(eval_narrow(perl, kPerlCodeset), "UTF-8");
        MkDestroyInterpreter(perl);
        EXPECT_EQ(HostLocale::now(), before);
    });
}

}  // namespace
