// Public conversion entry points: pick the fastest kernel the CPU runs once,
// and build the library's NUL-terminated bridge on top of the length-based
// core.
#include "text_convert.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "text_convert_internal.h"

namespace mokavi::text {
namespace detail {

namespace {

constexpr Kernel kScalarKernel{"scalar", scalar::utf8_length_from_utf16,
                               scalar::convert_utf16_to_utf8, scalar::utf16_length_from_utf8,
                               scalar::convert_utf8_to_utf16};

struct KernelTable {
    Kernel kernels[3];
    std::size_t count = 0;

    KernelTable() : kernels{kScalarKernel, kScalarKernel, kScalarKernel} {
        kernels[count++] = kScalarKernel;
#if defined(__x86_64__)
        kernels[count++] = x86::kSse2Kernel;
        if (x86::cpu_has_avx2()) kernels[count++] = x86::kAvx2Kernel;
#endif
    }
};

const KernelTable& kernel_table() noexcept {
    static const KernelTable table;  // CPU detection runs once, thread-safely
    return table;
}

}  // namespace

std::span<const Kernel> usable_kernels() noexcept {
    const auto& table = kernel_table();
    return {table.kernels, table.count};
}

const Kernel& active_kernel() noexcept {
    const auto& table = kernel_table();
    return table.kernels[table.count - 1];
}

char* wide_to_utf8_with(const char16_t* text, void* (*allocate)(std::size_t)) noexcept {
    const Kernel& kernel = active_kernel();
    const std::size_t units = utf16_strlen(text);
    const std::size_t bytes = kernel.utf8_length_from_utf16(text, units);
    if (auto* buffer = static_cast<char*>(allocate(bytes + 1))) {
        kernel.convert_utf16_to_utf8(text, units, buffer);
        buffer[bytes] = '\0';
        return buffer;
    }
    auto* fallback = static_cast<char*>(allocate(kWide2UtfFallbackSize));
    if (fallback) std::memcpy(fallback, kWide2UtfFallback, sizeof kWide2UtfFallback);
    return fallback;
}

}  // namespace detail

std::size_t utf8_length_from_utf16(const char16_t* src, std::size_t length) noexcept {
    return detail::active_kernel().utf8_length_from_utf16(src, length);
}

std::size_t convert_utf16_to_utf8(const char16_t* src, std::size_t length, char* dst) noexcept {
    return detail::active_kernel().convert_utf16_to_utf8(src, length, dst);
}

std::size_t utf16_length_from_utf8(const char* src, std::size_t length) noexcept {
    return detail::active_kernel().utf16_length_from_utf8(src, length);
}

std::size_t convert_utf8_to_utf16(const char* src, std::size_t length, char16_t* dst,
                                  std::size_t capacity) noexcept {
    return detail::active_kernel().convert_utf8_to_utf16(src, length, dst, capacity).units;
}

std::size_t utf16_strlen(const char16_t* text) noexcept {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

char* Wide2UTF(const char16_t* text) noexcept { return detail::wide_to_utf8_with(text, std::malloc); }

std::int32_t UTF2WideLen(const char* utf8, std::size_t length) noexcept {
    const std::size_t units = utf16_length_from_utf8(utf8, length);
    return units > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(units);
}

std::int32_t UTF2WideLen(const char* utf8) noexcept {
    return UTF2WideLen(utf8, std::strlen(utf8));
}

std::int32_t UTF2Wide(const char* utf8, std::size_t length, char16_t* buffer,
                      std::int32_t capacity) noexcept {
    if (capacity <= 0) return 0;
    const auto room = static_cast<std::size_t>(capacity) - 1;  // keep one unit for the terminator
    const auto progress = detail::active_kernel().convert_utf8_to_utf16(utf8, length, buffer, room);
    buffer[progress.units] = u'\0';
    if (progress.consumed != length) return 0;
    return static_cast<std::int32_t>(progress.units + 1);
}

std::int32_t UTF2Wide(const char* utf8, char16_t* buffer, std::int32_t capacity) noexcept {
    return UTF2Wide(utf8, std::strlen(utf8), buffer, capacity);
}

}  // namespace mokavi::text
