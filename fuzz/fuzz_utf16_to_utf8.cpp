// UTF-16 -> UTF-8: every kernel against ICU, measure-then-convert into an
// exactly sized buffer, and Wide2UTF on the input cut at its first zero unit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_common.h"
#include "text_convert.h"
#include "text_convert_internal.h"

namespace text = mokavi::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Units are taken little-endian from byte pairs; an odd last byte is dropped.
    std::u16string in(size / 2, u'\0');
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const std::string expected = icu_to_utf8(in);

    for (const auto& kernel : text::detail::usable_kernels()) {
        const std::size_t bytes = kernel.utf8_length_from_utf16(in.data(), in.size());
        FUZZ_CHECK(bytes == expected.size());
        auto exact = std::make_unique<char[]>(bytes);  // ASan sees any write past it
        FUZZ_CHECK(kernel.convert_utf16_to_utf8(in.data(), in.size(), exact.get()) == bytes);
        FUZZ_CHECK(std::memcmp(exact.get(), expected.data(), bytes) == 0);
    }

    const std::u16string terminated(in.c_str());
    char* utf8 = text::Wide2UTF(terminated.c_str());
    FUZZ_CHECK(utf8 != nullptr);
    FUZZ_CHECK(icu_to_utf8(terminated) == utf8);
    std::free(utf8);
    return 0;
}
