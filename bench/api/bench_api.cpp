// What the library costs a host compared with calling libperl directly.
//
// Every benchmark comes in pairs (or more) named Group/variant: "mokavi" goes
// through the C API, "libperl" does the same work with raw libperl calls in
// the same process and run, scoped the same way. bench/api/report.py turns
// the JSON output into ratios against the libperl variant.
//
// Memory figures are measured in a forked child per variant, so one
// variant's freed memory cannot hide another's growth.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mokavi.h"

// libperl's headers last: their macros collide with standard library names.
#include <EXTERN.h>
#include <perl.h>

extern "C" void boot_DynaLoader(pTHX_ CV* cv);
extern char** environ;

namespace {

// ---- Raw libperl: the reference ---------------------------------------------

void raw_xs_init(pTHX) { newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__); }

// The cycle an embedder writes from perlembed: allocate, construct, parse a
// trivial program with DynaLoader available, run it.
PerlInterpreter* raw_create() {
    static char name[] = "", e[] = "-e", code[] = "0";
    static char* argv[] = {name, e, code, nullptr};
    PerlInterpreter* my_perl = perl_alloc();
    PERL_SET_CONTEXT(my_perl);
    perl_construct(my_perl);
    if (perl_parse(my_perl, raw_xs_init, 3, argv, nullptr) != 0) std::abort();
    perl_run(my_perl);
    return my_perl;
}

void raw_destroy(PerlInterpreter* my_perl) {
    PERL_SET_CONTEXT(my_perl);
    perl_destruct(my_perl);
    perl_free(my_perl);
}

// ---- Process measurements ----------------------------------------------------

std::size_t resident_bytes() {
    long pages_total = 0, pages_resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(pages_resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t heap_bytes() { return mallinfo2().uordblks; }

struct MemoryFigures {
    double resident;
    double heap;
};

// Runs `measure` in a forked child and returns what it reported.
template <class Measure>
MemoryFigures in_child(Measure measure) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const MemoryFigures figures = measure();
        if (write(fds[1], &figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    MemoryFigures figures{0, 0};
    if (read(fds[0], &figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) std::abort();
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return figures;
}

// ---- Text for the wide round trip ---------------------------------------------

// ~4 MiB of UTF-16 prose (2 Mi units): words of Latin letters, about one in
// ten accented, from a fixed-seed generator so every run sees the same text.
const std::u16string& wide_text() {
    static const std::u16string text = [] {
        static const char16_t kAccented[] = u"éèêàâçôüöäñíóúßÉ";
        std::u16string t;
        t.reserve((2u << 20) + 16);
        std::uint32_t state = 12345;
        auto next = [&] { return state = state * 1664525u + 1013904223u, state >> 8; };
        while (t.size() < (2u << 20) - 16) {
            const unsigned length = 1 + next() % 10;
            for (unsigned k = 0; k < length; ++k) {
                t += next() % 10 == 0 ? kAccented[next() % 16] : static_cast<char16_t>(u'a' + next() % 26);
            }
            t += next() % 8 == 0 ? u',' : u' ';
        }
        return t;
    }();
    return text;
}

// ---- Cases timed and counted -------------------------------------------------
//
// Each case sets up in its constructor and repeats step(). Besides timing,
// `bench_api --count NAME N` runs N steps of one case inside
// mokavi_counted_loop, so that callgrind (--toggle-collect) can count the
// instructions a step costs: a figure a busy machine cannot disturb.

// A Mokavi interpreter with a package scalar $x, an array @a of one element
// and a 10-character string value.
struct MokaviCase {
    MkInterpreter* perl = MkCreateInterpreter();
    MkSv* ten = nullptr;
    MkAv* array = nullptr;
    MokaviCase() {
        MkSetWideAPI(nullptr, 0);
        MkSvEval(perl, "our $x = 1; our @a = (42); 1");
        ten = MkSvNew(perl);
        MkSvSetPv(perl, ten, "abcdefghij");
        array = MkGetAV(perl, "a", 0);
    }
    ~MokaviCase() {
        MkSetWideAPI(nullptr, 0);
        MkDestroyInterpreter(perl);
    }
    void finish(benchmark::State&) {}
};

struct RawCase {
    PerlInterpreter* my_perl = raw_create();
    SV* ten = nullptr;
    AV* array = nullptr;
    RawCase() {
        eval_pv("our $x = 1; our @a = (42); 1", TRUE);
        ten = newSVpvs("abcdefghij");
        array = get_av("a", 0);
    }
    ~RawCase() {
        SvREFCNT_dec(ten);
        raw_destroy(my_perl);
    }
    void finish(benchmark::State&) {}
};

struct EvalMokavi : MokaviCase {
    void step() { benchmark::DoNotOptimize(MkSvEval(perl, "1")); }
};

struct EvalRaw : RawCase {
    void step() {
        ENTER;
        SAVETMPS;
        SV* result = eval_pv("1", FALSE);
        benchmark::DoNotOptimize(SvOK(result));
        FREETMPS;
        LEAVE;
    }
};

// Raw libperl keeping each result alive past its scope, as the library
// promises its hosts (until the interpreter is destroyed).
struct EvalKeptRaw : RawCase {
    void step() {
        ENTER;
        SAVETMPS;
        SV* result = SvREFCNT_inc(eval_pv("1", FALSE));
        FREETMPS;
        LEAVE;
        sv_2mortal(result);
        benchmark::DoNotOptimize(SvOK(result));
    }
};

struct EvalSvMokavi : MokaviCase {
    MkSv* code = MkSvNew(perl);
    EvalSvMokavi() { MkSvSetPv(perl, code, "1"); }
    ~EvalSvMokavi() { MkSvDeRef(perl, code); }
    void step() { benchmark::DoNotOptimize(MkSvEvalSv(perl, code)); }
};

// The value comes back as a string, as MkSvEvalSv hands it out.
struct EvalSvRaw : RawCase {
    SV* code = newSVpvs("1");
    ~EvalSvRaw() { SvREFCNT_dec(code); }
    void step() {
        ENTER;
        SAVETMPS;
        eval_sv(code, G_EVAL | G_SCALAR);
        dSP;
        SV* result = POPs;
        PUTBACK;
        if (!SvTRUE(ERRSV)) benchmark::DoNotOptimize(SvPV_force_nolen(result));
        FREETMPS;
        LEAVE;
    }
};

struct EvalSvKeptRaw : EvalSvRaw {
    void step() {
        ENTER;
        SAVETMPS;
        eval_sv(code, G_EVAL | G_SCALAR);
        dSP;
        SV* result = POPs;
        PUTBACK;
        result = SvTRUE(ERRSV) ? nullptr : SvREFCNT_inc(result);
        FREETMPS;
        LEAVE;
        if (result) {
            sv_2mortal(result);
            benchmark::DoNotOptimize(SvPV_force_nolen(result));
        }
    }
};

struct GetSVMokavi : MokaviCase {
    void step() { benchmark::DoNotOptimize(MkGetSV(perl, "x", 0)); }
};

struct GetSVRaw : RawCase {
    void step() { benchmark::DoNotOptimize(get_sv("x", 0)); }
};

// Length then copy of a 10-character string, 8-bit text.
struct LenGetMokavi : MokaviCase {
    char buffer[64];
    void step() {
        const std::int32_t n = MkSvLEN(perl, ten);
        MkSvGET(perl, ten, buffer, n);
        benchmark::DoNotOptimize(buffer);
    }
};

struct LenGetRaw : RawCase {
    char buffer[64];
    void step() {
        STRLEN len;
        const char* p = SvPV(ten, len);
        std::memcpy(buffer, p, len + 1);
        benchmark::DoNotOptimize(buffer);
    }
};

// The same in wide mode; the reference measures and converts with ICU.
struct LenGetWideMokavi : MokaviCase {
    char16_t buffer[64];
    LenGetWideMokavi() { MkSetWideAPI(nullptr, 1); }
    void step() {
        const std::int32_t n = MkSvLEN(perl, ten);
        MkSvGET(perl, ten, buffer, n);
        benchmark::DoNotOptimize(buffer);
    }
};

struct LenGetWideRaw : RawCase {
    char16_t buffer[64];
    void step() {
        STRLEN len;
        const char* p = SvPV(ten, len);
        const auto bytes = static_cast<std::int32_t>(len);
        UErrorCode error = U_ZERO_ERROR;
        std::int32_t units = 0;
        u_strFromUTF8WithSub(nullptr, 0, &units, p, bytes, 0xFFFD, nullptr, &error);
        error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(buffer, units + 1, &units, p, bytes, 0xFFFD, nullptr, &error);
        benchmark::DoNotOptimize(buffer);
    }
};

struct FetchAVMokavi : MokaviCase {
    void step() { benchmark::DoNotOptimize(MkSvFetchAV(perl, array, 0)); }
};

struct FetchAVRaw : RawCase {
    void step() {
        SV** slot = av_fetch(array, 0, 0);
        benchmark::DoNotOptimize(slot ? *slot : nullptr);
    }
};

// A new value stored over the previous one, which the array then frees.
struct NewStoreAvMokavi : MokaviCase {
    void step() { benchmark::DoNotOptimize(MkStoreAv(perl, array, 0, MkSvNew(perl))); }
};

struct NewStoreAvRaw : RawCase {
    void step() { benchmark::DoNotOptimize(av_store(array, 0, newSV(0))); }
};

// Wide-mode host round trip: 4 MiB of host text in, then length and copy
// back out into a buffer the host allocated once.
struct RoundTripCheck {
    const std::u16string& text = wide_text();
    std::vector<char16_t> out = std::vector<char16_t>(wide_text().size() + 1);
    void check(benchmark::State& state) const {
        if (std::u16string_view(out.data()) != text) state.SkipWithError("round trip changed the text");
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size() * 2));
    }
};

struct WideRoundTripMokavi : MokaviCase, RoundTripCheck {
    MkSv* sv = MkSvNew(perl);
    WideRoundTripMokavi() { MkSetWideAPI(nullptr, 1); }
    ~WideRoundTripMokavi() { MkSvDeRef(perl, sv); }
    void step() {
        MkSvSetPv(perl, sv, text.c_str());
        const std::int32_t n = MkSvLEN(perl, sv);
        MkSvGET(perl, sv, out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    void finish(benchmark::State& state) { check(state); }
};

struct WideRoundTripRaw : RawCase, RoundTripCheck {
    SV* sv = newSV(0);
    ~WideRoundTripRaw() { SvREFCNT_dec(sv); }
    void step() {
        const auto units = static_cast<std::int32_t>(text.size());
        UErrorCode error = U_ZERO_ERROR;
        std::int32_t bytes = 0;
        u_strToUTF8WithSub(nullptr, 0, &bytes, text.data(), units, 0xFFFD, nullptr, &error);
        char* utf8 = static_cast<char*>(std::malloc(static_cast<std::size_t>(bytes) + 1));
        error = U_ZERO_ERROR;
        u_strToUTF8WithSub(utf8, bytes + 1, &bytes, text.data(), units, 0xFFFD, nullptr, &error);
        sv_setpvn(sv, utf8, static_cast<STRLEN>(bytes));
        SvUTF8_on(sv);
        std::free(utf8);

        STRLEN len;
        const char* p = SvPV(sv, len);
        const auto length = static_cast<std::int32_t>(len);
        std::int32_t back = 0;
        error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(nullptr, 0, &back, p, length, 0xFFFD, nullptr, &error);
        error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(out.data(), back + 1, &back, p, length, 0xFFFD, nullptr, &error);
        benchmark::DoNotOptimize(out.data());
    }
    void finish(benchmark::State& state) { check(state); }
};

struct NoSetup {
    void finish(benchmark::State&) {}
};

struct CreateDestroyMokavi : NoSetup {
    void step() { MkDestroyInterpreter(MkCreateInterpreter()); }
};

struct CreateDestroyRaw : NoSetup {
    void step() { raw_destroy(raw_create()); }
};

template <class Case>
void timed(benchmark::State& state) {
    Case c;
    for (auto _ : state) c.step();
    c.finish(state);
}

template <class Case>
void counted(long steps);

struct CaseEntry {
    const char* name;
    void (*time)(benchmark::State&);
    void (*count)(long);
    long steps_to_count;  // enough to make set-up noise negligible
    benchmark::TimeUnit unit;
};

template <class Case>
constexpr CaseEntry entry(const char* name, long steps_to_count = 10000,
                          benchmark::TimeUnit unit = benchmark::kNanosecond) {
    return {name, &timed<Case>, &counted<Case>, steps_to_count, unit};
}

const CaseEntry kCases[] = {
    entry<EvalMokavi>("Eval/mokavi", 2000),
    entry<EvalRaw>("Eval/libperl", 2000),
    entry<EvalKeptRaw>("Eval/libperl_kept", 2000),
    entry<EvalSvMokavi>("EvalSv/mokavi", 2000),
    entry<EvalSvRaw>("EvalSv/libperl", 2000),
    entry<EvalSvKeptRaw>("EvalSv/libperl_kept", 2000),
    entry<GetSVMokavi>("GetSV/mokavi"),
    entry<GetSVRaw>("GetSV/libperl"),
    entry<LenGetMokavi>("LenGet10/mokavi"),
    entry<LenGetRaw>("LenGet10/libperl"),
    entry<LenGetWideMokavi>("LenGet10Wide/mokavi"),
    entry<LenGetWideRaw>("LenGet10Wide/libperl"),
    entry<FetchAVMokavi>("FetchAV/mokavi"),
    entry<FetchAVRaw>("FetchAV/libperl"),
    entry<NewStoreAvMokavi>("NewStoreAv/mokavi"),
    entry<NewStoreAvRaw>("NewStoreAv/libperl"),
    entry<WideRoundTripMokavi>("WideRoundTrip4MiB/mokavi", 3, benchmark::kMicrosecond),
    entry<WideRoundTripRaw>("WideRoundTrip4MiB/libperl", 3, benchmark::kMicrosecond),
    entry<CreateDestroyMokavi>("CreateDestroy/mokavi", 20, benchmark::kMicrosecond),
    entry<CreateDestroyRaw>("CreateDestroy/libperl", 20, benchmark::kMicrosecond),
};

}  // namespace

// The one function callgrind collects in; never inlined, so its name stays.
extern "C" __attribute__((noinline)) void mokavi_counted_loop(void (*step)(void*), void* c, long steps) {
    for (long k = 0; k < steps; ++k) step(c);
}

namespace {

template <class Case>
void counted(long steps) {
    Case c;
    mokavi_counted_loop([](void* p) { static_cast<Case*>(p)->step(); }, &c, steps);
}

void CreateDestroy_perl_process(benchmark::State& state) {
    static char perl[] = "perl", e[] = "-e", code[] = "0";
    char* argv[] = {perl, e, code, nullptr};
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawnp(&pid, "perl", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot spawn perl");
            break;
        }
        int status;
        waitpid(pid, &status, 0);
    }
}

// ---- Memory -------------------------------------------------------------------------

constexpr int kLiveInterpreters = 64;

// Resident and heap bytes per live interpreter, `create` being one way of
// making them. One interpreter is made and dropped first so that one-time
// costs (pages of libperl touched once) are not counted, then free heap
// pages are handed back so new interpreters cannot hide in them.
template <class Create, class Destroy>
void per_interpreter(benchmark::State& state, Create create, Destroy destroy) {
    MemoryFigures f{0, 0};
    for (auto _ : state) {
        f = in_child([&] {
            destroy(create());
            malloc_trim(0);
            const std::size_t rss0 = resident_bytes(), heap0 = heap_bytes();
            std::vector<decltype(create())> live;
            for (int k = 0; k < kLiveInterpreters; ++k) live.push_back(create());
            const std::size_t rss1 = resident_bytes(), heap1 = heap_bytes();
            return MemoryFigures{static_cast<double>(rss1 - rss0) / kLiveInterpreters,
                                 static_cast<double>(heap1 - heap0) / kLiveInterpreters};
        });
    }
    state.counters["resident_bytes"] = f.resident;
    state.counters["heap_bytes"] = f.heap;
}

void MemoryPerInterpreter_mokavi(benchmark::State& state) {
    per_interpreter(state, [] { return MkCreateInterpreter(); }, [](MkInterpreter* p) { MkDestroyInterpreter(p); });
}

void MemoryPerInterpreter_libperl(benchmark::State& state) {
    per_interpreter(state, [] { return raw_create(); }, [](PerlInterpreter* p) { raw_destroy(p); });
}

constexpr int kEvaluations = 1000000;

// Bytes of growth per evaluation of "1" over a million evaluations, after a
// warm-up that lets the interpreter's stacks and arenas reach their size.
// Free heap pages are handed back first, so that growth cannot hide in
// memory the parent process freed before the fork.
template <class Eval>
void growth(benchmark::State& state, Eval eval) {
    MemoryFigures f{0, 0};
    for (auto _ : state) {
        f = in_child([&] {
            for (int k = 0; k < 10000; ++k) eval();
            malloc_trim(0);
            const std::size_t rss0 = resident_bytes(), heap0 = heap_bytes();
            for (int k = 0; k < kEvaluations; ++k) eval();
            const std::size_t rss1 = resident_bytes(), heap1 = heap_bytes();
            return MemoryFigures{(static_cast<double>(rss1) - static_cast<double>(rss0)) / kEvaluations,
                                 (static_cast<double>(heap1) - static_cast<double>(heap0)) / kEvaluations};
        });
    }
    state.counters["resident_bytes"] = f.resident;
    state.counters["heap_bytes"] = f.heap;
}

void GrowthPerEval_mokavi(benchmark::State& state) {
    MokaviCase s;
    growth(state, [&] { benchmark::DoNotOptimize(MkSvEval(s.perl, "1")); });
}

// Raw libperl dropping each result at the end of its scope.
void GrowthPerEval_libperl(benchmark::State& state) {
    RawCase s;
    PerlInterpreter* my_perl = s.my_perl;
    growth(state, [&] {
        ENTER;
        SAVETMPS;
        benchmark::DoNotOptimize(eval_pv("1", FALSE));
        FREETMPS;
        LEAVE;
    });
}

// Raw libperl keeping every result alive until the interpreter ends, as the
// library promises its hosts.
void GrowthPerEval_libperl_kept(benchmark::State& state) {
    RawCase s;
    PerlInterpreter* my_perl = s.my_perl;
    growth(state, [&] {
        ENTER;
        SAVETMPS;
        SV* result = SvREFCNT_inc(eval_pv("1", FALSE));
        FREETMPS;
        LEAVE;
        sv_2mortal(result);
    });
}

// ---- Scaling: one interpreter per thread ----------------------------------------------

void EvalThreads_mokavi(benchmark::State& state) {
    MkInterpreter* perl = MkCreateInterpreter();
    for (auto _ : state) benchmark::DoNotOptimize(MkSvEval(perl, "1"));
    MkDestroyInterpreter(perl);
    state.SetItemsProcessed(state.iterations());
}

void EvalThreads_libperl(benchmark::State& state) {
    PerlInterpreter* my_perl = raw_create();
    for (auto _ : state) {
        ENTER;
        SAVETMPS;
        benchmark::DoNotOptimize(SvOK(eval_pv("1", FALSE)));
        FREETMPS;
        LEAVE;
    }
    raw_destroy(my_perl);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
    // The library's one-time process set-up (which the raw reference needs
    // too) happens here, outside every measurement.
    MkDestroyInterpreter(MkCreateInterpreter());
    if (argc == 2 && std::strcmp(argv[1], "--cases") == 0) {
        for (const CaseEntry& c : kCases) std::printf("%s %ld\n", c.name, c.steps_to_count);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--count") == 0) {
        for (const CaseEntry& c : kCases) {
            if (std::strcmp(c.name, argv[2]) == 0) {
                c.count(std::atol(argv[3]));
                return 0;
            }
        }
        std::fprintf(stderr, "no case named %s\n", argv[2]);
        return 2;
    }
    for (const CaseEntry& c : kCases) benchmark::RegisterBenchmark(c.name, c.time)->Unit(c.unit);
    benchmark::RegisterBenchmark("CreateDestroy/perl_process", CreateDestroy_perl_process)->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::RegisterBenchmark("MemoryPerInterpreter/mokavi", MemoryPerInterpreter_mokavi)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MemoryPerInterpreter/libperl", MemoryPerInterpreter_libperl)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GrowthPerEval/mokavi", GrowthPerEval_mokavi)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GrowthPerEval/libperl", GrowthPerEval_libperl)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GrowthPerEval/libperl_kept", GrowthPerEval_libperl_kept)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EvalThreads/mokavi", EvalThreads_mokavi)->Threads(1)->Threads(2)->UseRealTime();
    benchmark::RegisterBenchmark("EvalThreads/libperl", EvalThreads_libperl)->Threads(1)->Threads(2)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
