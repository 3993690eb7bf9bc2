// Runs a million evaluations of each kind on one interpreter and reports
// memory growth per call. Each result lives until the interpreter is
// destroyed, so growth should be that result alone: at most 64 B per
// MkSvEval with an integer result, 128 B per MkSvEvalSv.
#include <cstdio>

#include "memory_use.h"
#include "mokavi.h"

namespace {

bool report(const char* what, const mokavi_test::Growth& growth, double limit) {
    std::printf("%s: resident growth per call %.1f B, heap growth per call %.1f B\n", what,
                growth.resident_per_op, growth.heap_per_op);
    if (growth.resident_per_op <= limit && growth.heap_per_op <= limit) return true;
    std::printf("FAIL: %s keeps more than %.0f B per call\n", what, limit);
    return false;
}

}  // namespace

int main() {
    constexpr long kCalls = 1000000;
    constexpr long kWarmUp = 10000;
    MkInterpreter* perl = MkCreateInterpreter();
    if (!perl) return 1;
    bool ok = true;

    for (long i = 0; i < kWarmUp; ++i) MkSvEval(perl, "1+1");
    ok = report("MkSvEval(\"1+1\")", mokavi_test::measure_growth(kCalls, [&] {
                    if (!MkSvEval(perl, "1+1")) ok = false;
                }),
                64.0) && ok;

    MkSv* code = MkSvNew(perl);
    MkSvSetPv(perl, code, "'x' x 4");
    for (long i = 0; i < kWarmUp; ++i) MkSvEvalSv(perl, code);
    ok = report("MkSvEvalSv(\"'x' x 4\")", mokavi_test::measure_growth(kCalls, [&] {
                    if (!MkSvEvalSv(perl, code)) ok = false;
                }),
                128.0) && ok;

    MkSvDeRef(perl, code);
    MkDestroyInterpreter(perl);
    return ok ? 0 : 1;
}
