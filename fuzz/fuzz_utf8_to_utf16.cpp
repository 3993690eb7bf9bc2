// UTF-8 -> UTF-16: every kernel against ICU, measure-then-convert into an
// exactly sized buffer, bounded conversion into a short buffer, and the
// UTF2Wide/UTF2WideLen bridge with a capacity taken from the input.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_common.h"
#include "text_convert.h"
#include "text_convert_internal.h"

namespace text = mokavi::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::u16string expected = icu_to_utf16(in);
    // A capacity short of the full output, chosen by the input itself.
    const std::size_t short_capacity =
        size == 0 ? 0 : (data[size - 1] * 131u + data[0]) % (expected.size() + 1);

    for (const auto& kernel : text::detail::usable_kernels()) {
        const std::size_t units = kernel.utf16_length_from_utf8(in.data(), in.size());
        FUZZ_CHECK(units == expected.size());
        auto exact = std::make_unique<char16_t[]>(units);  // ASan sees any write past it
        const auto full = kernel.convert_utf8_to_utf16(in.data(), in.size(), exact.get(), units);
        FUZZ_CHECK(full.units == units && full.consumed == size);
        FUZZ_CHECK(std::memcmp(exact.get(), expected.data(), units * sizeof(char16_t)) == 0);

        auto partial = std::make_unique<char16_t[]>(short_capacity);
        const auto part =
            kernel.convert_utf8_to_utf16(in.data(), in.size(), partial.get(), short_capacity);
        FUZZ_CHECK(part.units <= short_capacity);
        FUZZ_CHECK(std::memcmp(partial.get(), expected.data(), part.units * sizeof(char16_t)) == 0);
        if (part.units < expected.size()) {
            // Stopped only because the next character did not fit.
            const bool pair_next = text::detail::is_high_surrogate(expected[part.units]);
            FUZZ_CHECK(short_capacity - part.units < (pair_next ? 2u : 1u));
            FUZZ_CHECK(icu_to_utf16(in.substr(0, part.consumed)).size() == part.units);
        }
    }

    FUZZ_CHECK(text::UTF2WideLen(in.data(), in.size()) == static_cast<std::int32_t>(expected.size()));
    const auto capacity = static_cast<std::int32_t>(short_capacity) + (size > 1 ? data[1] % 3 : 0);
    auto buffer = std::make_unique<char16_t[]>(static_cast<std::size_t>(capacity));
    const std::int32_t result = text::UTF2Wide(in.data(), in.size(), buffer.get(), capacity);
    if (capacity > 0) {
        const std::u16string_view got(buffer.get());
        if (expected.size() + 1 <= static_cast<std::size_t>(capacity)) {
            FUZZ_CHECK(result == static_cast<std::int32_t>(expected.size()) + 1);
            // Embedded NULs end the view early; compare the units themselves.
            FUZZ_CHECK(std::memcmp(buffer.get(), expected.data(),
                                   expected.size() * sizeof(char16_t)) == 0);
            FUZZ_CHECK(buffer[expected.size()] == 0);
        } else {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(got.size() < static_cast<std::size_t>(capacity));
            FUZZ_CHECK(got == std::u16string_view(expected).substr(0, got.size()));
        }
    } else {
        FUZZ_CHECK(result == 0);
    }

    // The NUL-terminated forms see the text up to its first NUL byte.
    const std::string terminated(in.substr(0, in.find('\0')));
    const std::u16string expected_prefix = icu_to_utf16(terminated);
    FUZZ_CHECK(text::UTF2WideLen(terminated.c_str()) ==
               static_cast<std::int32_t>(expected_prefix.size()));
    return 0;
}
