// Conversion throughput, UTF-16 -> UTF-8 and UTF-8 -> UTF-16, on four
// generated ~4 MiB texts. Every converter measures first and then converts
// into a buffer allocated once, as the library's callers do; iconv cannot
// measure, so it only converts, and memcpy of the input bytes is the
// ceiling. Throughput is counted in input bytes; bench/report.py turns the
// JSON output into a table with ratios to ICU.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ustring.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "text_convert.h"
#include "text_convert_internal.h"

namespace {

namespace text = mokavi::text;

constexpr std::size_t kTargetBytes = 4u << 20;  // UTF-8 size of each text

struct Corpus {
    std::string name;
    std::string utf8;
    std::u16string utf16;
};

void append(Corpus& corpus, char32_t cp) {
    if (cp < 0x80) {
        corpus.utf8 += static_cast<char>(cp);
    } else if (cp < 0x800) {
        corpus.utf8 += static_cast<char>(0xC0 | (cp >> 6));
        corpus.utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        corpus.utf8 += static_cast<char>(0xE0 | (cp >> 12));
        corpus.utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        corpus.utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        corpus.utf8 += static_cast<char>(0xF0 | (cp >> 18));
        corpus.utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        corpus.utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        corpus.utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
    if (cp < 0x10000) {
        corpus.utf16 += static_cast<char16_t>(cp);
    } else {
        corpus.utf16 += static_cast<char16_t>(0xD7C0 + (cp >> 10));
        corpus.utf16 += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Words of 1-10 letters, some capitalised, with punctuation and line breaks;
// `accent_rate` of the letters are replaced by accented Latin-1 letters.
Corpus make_prose(const char* name, double accent_rate, std::uint32_t seed) {
    static const char32_t kAccented[] = {0xE9, 0xE8, 0xEA, 0xE0, 0xE2, 0xE7, 0xF4, 0xFC,
                                         0xF6, 0xE4, 0xF1, 0xED, 0xF3, 0xFA, 0xDF, 0xC9};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> word_length(1, 10), letter(0, 25), roll(0, 999);
    std::bernoulli_distribution accent(accent_rate);
    Corpus corpus{name, {}, {}};
    while (corpus.utf8.size() < kTargetBytes) {
        const int length = word_length(rng);
        for (int k = 0; k < length; ++k) {
            if (accent(rng)) {
                append(corpus, kAccented[static_cast<std::size_t>(letter(rng)) % std::size(kAccented)]);
            } else {
                append(corpus, static_cast<char32_t>((k == 0 && roll(rng) < 80 ? 'A' : 'a') + letter(rng)));
            }
        }
        const int r = roll(rng);
        append(corpus, r < 60 ? ',' : r < 100 ? '.' : r < 110 ? '\n' : ' ');
        if (r < 100) append(corpus, ' ');
    }
    return corpus;
}

// Ideographs with ideographic punctuation and an occasional ASCII line break
// or digit, as in running Chinese or Japanese text.
Corpus make_cjk(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<char32_t> ideograph(0x4E00, 0x9FFF), kana(0x3041, 0x3096);
    std::uniform_int_distribution<int> roll(0, 999);
    Corpus corpus{"cjk", {}, {}};
    while (corpus.utf8.size() < kTargetBytes) {
        const int r = roll(rng);
        if (r < 700) append(corpus, ideograph(rng));
        else if (r < 900) append(corpus, kana(rng));
        else if (r < 950) append(corpus, 0x3001);
        else if (r < 980) append(corpus, 0x3002);
        else if (r < 990) append(corpus, '\n');
        else append(corpus, static_cast<char32_t>('0' + r % 10));
    }
    return corpus;
}

// Chat-like text: runs of emoji (surrogate pairs in UTF-16, 4 bytes in
// UTF-8) between short ASCII words and spaces.
Corpus make_emoji(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<char32_t> emoji(0x1F300, 0x1F64F), letter('a', 'z');
    std::uniform_int_distribution<int> run(1, 4), roll(0, 99);
    Corpus corpus{"emoji", {}, {}};
    while (corpus.utf8.size() < kTargetBytes) {
        for (int k = run(rng); k > 0; --k) append(corpus, emoji(rng));
        append(corpus, ' ');
        if (roll(rng) < 40) {
            for (int k = run(rng); k > 0; --k) append(corpus, letter(rng));
            append(corpus, ' ');
        }
    }
    return corpus;
}

const std::vector<Corpus>& corpora() {
    static const std::vector<Corpus> all = {make_prose("ascii", 0.0, 1), make_prose("latin", 0.1, 2),
                                            make_cjk(3), make_emoji(4)};
    return all;
}

// ---- UTF-16 -> UTF-8 ------------------------------------------------------------

void to_utf8_mokavi(benchmark::State& state, const Corpus& corpus, const text::detail::Kernel& kernel) {
    std::string out(corpus.utf8.size(), '\0');
    for (auto _ : state) {
        const std::size_t bytes = kernel.utf8_length_from_utf16(corpus.utf16.data(), corpus.utf16.size());
        benchmark::DoNotOptimize(kernel.convert_utf16_to_utf8(corpus.utf16.data(), corpus.utf16.size(),
                                                              out.data()) == bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.utf16.size() * 2));
}

void to_utf8_icu(benchmark::State& state, const Corpus& corpus) {
    std::string out(corpus.utf8.size() + 1, '\0');
    const auto length = static_cast<int32_t>(corpus.utf16.size());
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t needed = 0;
        u_strToUTF8WithSub(nullptr, 0, &needed, corpus.utf16.data(), length, 0xFFFD, nullptr, &status);
        status = U_ZERO_ERROR;
        u_strToUTF8WithSub(out.data(), needed, &needed, corpus.utf16.data(), length, 0xFFFD, nullptr,
                           &status);
        if (U_FAILURE(status)) state.SkipWithError("ICU failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.utf16.size() * 2));
}

void run_iconv(benchmark::State& state, const char* to, const char* from, const void* input,
               std::size_t input_bytes, std::size_t output_bytes) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    std::vector<char> out(output_bytes);
    for (auto _ : state) {
        char* in = const_cast<char*>(static_cast<const char*>(input));
        std::size_t in_left = input_bytes;
        char* dst = out.data();
        std::size_t out_left = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &in_left, &dst, &out_left) == static_cast<std::size_t>(-1)) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input_bytes));
}

void to_utf8_iconv(benchmark::State& state, const Corpus& corpus) {
    run_iconv(state, "UTF-8", "UTF-16LE", corpus.utf16.data(), corpus.utf16.size() * 2, corpus.utf8.size());
}

void copy_bytes(benchmark::State& state, const void* input, std::size_t bytes) {
    std::vector<char> out(bytes);
    for (auto _ : state) {
        std::memcpy(out.data(), input, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// ---- UTF-8 -> UTF-16 ------------------------------------------------------------

void to_utf16_mokavi(benchmark::State& state, const Corpus& corpus, const text::detail::Kernel& kernel) {
    std::u16string out(corpus.utf16.size(), u'\0');
    for (auto _ : state) {
        const std::size_t units = kernel.utf16_length_from_utf8(corpus.utf8.data(), corpus.utf8.size());
        benchmark::DoNotOptimize(
            kernel.convert_utf8_to_utf16(corpus.utf8.data(), corpus.utf8.size(), out.data(), units).units);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.utf8.size()));
}

void to_utf16_icu(benchmark::State& state, const Corpus& corpus) {
    std::u16string out(corpus.utf16.size() + 1, u'\0');
    const auto length = static_cast<int32_t>(corpus.utf8.size());
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t needed = 0;
        u_strFromUTF8WithSub(nullptr, 0, &needed, corpus.utf8.data(), length, 0xFFFD, nullptr, &status);
        status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(out.data(), needed, &needed, corpus.utf8.data(), length, 0xFFFD, nullptr,
                             &status);
        if (U_FAILURE(status)) state.SkipWithError("ICU failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.utf8.size()));
}

void to_utf16_iconv(benchmark::State& state, const Corpus& corpus) {
    run_iconv(state, "UTF-16LE", "UTF-8", corpus.utf8.data(), corpus.utf8.size(), corpus.utf16.size() * 2);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto& active = text::detail::active_kernel();
    const auto& reference = text::detail::usable_kernels().front();
    for (const Corpus& corpus : corpora()) {
        const std::string utf16 = "utf16_to_utf8/" + corpus.name + "/";
        benchmark::RegisterBenchmark((utf16 + "mokavi").c_str(), to_utf8_mokavi, std::cref(corpus),
                                     std::cref(active));
        benchmark::RegisterBenchmark((utf16 + "mokavi_scalar").c_str(), to_utf8_mokavi,
                                     std::cref(corpus), std::cref(reference));
        benchmark::RegisterBenchmark((utf16 + "icu").c_str(), to_utf8_icu, std::cref(corpus));
        benchmark::RegisterBenchmark((utf16 + "iconv").c_str(), to_utf8_iconv, std::cref(corpus));
        benchmark::RegisterBenchmark((utf16 + "memcpy").c_str(), copy_bytes,
                                     static_cast<const void*>(corpus.utf16.data()), corpus.utf16.size() * 2);
        const std::string utf8 = "utf8_to_utf16/" + corpus.name + "/";
        benchmark::RegisterBenchmark((utf8 + "mokavi").c_str(), to_utf16_mokavi, std::cref(corpus),
                                     std::cref(active));
        benchmark::RegisterBenchmark((utf8 + "mokavi_scalar").c_str(), to_utf16_mokavi,
                                     std::cref(corpus), std::cref(reference));
        benchmark::RegisterBenchmark((utf8 + "icu").c_str(), to_utf16_icu, std::cref(corpus));
        benchmark::RegisterBenchmark((utf8 + "iconv").c_str(), to_utf16_iconv, std::cref(corpus));
        benchmark::RegisterBenchmark((utf8 + "memcpy").c_str(), copy_bytes,
                                     static_cast<const void*>(corpus.utf8.data()), corpus.utf8.size());
    }
    benchmark::AddCustomContext("mokavi_kernel", active.name);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
