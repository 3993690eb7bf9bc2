// Creates and destroys 1,000 interpreters, each loading an XS module, and
// reports memory growth per cycle. Fails if a cycle keeps more than 1 KB.
#include <cstdio>

#include "memory_use.h"
#include "mokavi.h"

namespace {

bool cycle() {
    MkInterpreter* perl = MkCreateInterpreter();
    if (!perl) return false;
    const bool ok = MkSvEval(perl, "use POSIX (); use List::Util (); POSIX::floor(2.5)") != nullptr;
    MkDestroyInterpreter(perl);
    return ok;
}

}  // namespace

int main() {
    constexpr long kWarmUp = 50;
    constexpr long kCycles = 1000;
    constexpr double kLimit = 1024.0;
    bool ok = true;
    for (long i = 0; i < kWarmUp; ++i) ok = cycle() && ok;
    const auto growth = mokavi_test::measure_growth(kCycles, [&] { ok = cycle() && ok; });
    std::printf("interpreter create/destroy cycles: %ld\n", kCycles);
    std::printf("resident growth per cycle: %.1f B\n", growth.resident_per_op);
    std::printf("heap growth per cycle: %.1f B\n", growth.heap_per_op);
    if (!ok) std::printf("FAIL: an interpreter could not be created or used\n");
    if (growth.resident_per_op > kLimit || growth.heap_per_op > kLimit) {
        std::printf("FAIL: more than %.0f B kept per cycle\n", kLimit);
        ok = false;
    }
    return ok ? 0 : 1;
}
