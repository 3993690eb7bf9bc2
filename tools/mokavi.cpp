// mokavi: evaluate Perl through the Mokavi C API.
//
//   mokavi [--wide] -e CODE
//
// Prints the result's string and exits 0, or prints $@ to stderr and exits 1.
// --wide runs the same through the library's UTF-16 mode. Built only on the
// public C functions, as any host would be.

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mokavi.h"
#include "text_convert.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitPerlError = 1;
constexpr int kExitUsage = 2;

// The terminal speaks UTF-8; the library's wide mode speaks UTF-16. The
// library's own converter (ill-formed input becomes U+FFFD) bridges them.
std::u16string utf16_from_utf8(std::string_view in) {
    std::u16string out(mokavi::text::utf16_length_from_utf8(in.data(), in.size()), u'\0');
    mokavi::text::convert_utf8_to_utf16(in.data(), in.size(), out.data(), out.size());
    return out;
}

std::string utf8_from_utf16(std::u16string_view in) {
    std::string out(mokavi::text::utf8_length_from_utf16(in.data(), in.size()), '\0');
    mokavi::text::convert_utf16_to_utf8(in.data(), in.size(), out.data());
    return out;
}

// Reads a value by the length-then-copy protocol, as UTF-8 for printing.
std::string read_value(MkInterpreter* perl, MkSv* sv, bool wide) {
    const int32_t n = MkSvLEN(perl, sv);
    if (wide) {
        std::u16string buffer(static_cast<std::size_t>(n) + 1, u'\0');
        MkSvGET(perl, sv, buffer.data(), n);
        return utf8_from_utf16(std::u16string_view(buffer.data()));
    }
    std::string buffer(static_cast<std::size_t>(n) + 1, '\0');
    MkSvGET(perl, sv, buffer.data(), n);
    return std::string(buffer.c_str());
}

MkSv* evaluate(MkInterpreter* perl, const std::string& code, bool wide) {
    if (!wide) return MkSvEval(perl, code.c_str());
    const std::u16string source = utf16_from_utf8(code);
    return MkSvEval(perl, source.c_str());
}

bool error_set(MkInterpreter* perl, bool wide, std::string* message) {
    *message = read_value(perl, MkErrSv(perl), wide);
    return !message->empty() && *message != "0";
}

int usage(std::FILE* out, int status) {
    std::fputs(
        "usage: mokavi [--wide] -e CODE\n"
        "  -e CODE   evaluate CODE; print its value (exit 0) or $@ (exit 1)\n"
        "  --wide    pass text through the library's UTF-16 mode\n"
        "  --help    show this help\n",
        out);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    bool wide = false;
    std::vector<std::string> code;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--wide") {
            wide = true;
        } else if (arg == "--help" || arg == "-h") {
            return usage(stdout, kExitOk);
        } else if (arg == "-e" && i + 1 < argc) {
            code.emplace_back(argv[++i]);
        } else {
            std::fprintf(stderr, "mokavi: unexpected argument '%s'\n", argv[i]);
            return usage(stderr, kExitUsage);
        }
    }
    if (code.empty()) return usage(stderr, kExitUsage);

    MkSetWideAPI(nullptr, wide ? 1 : 0);
    MkInterpreter* perl = MkCreateInterpreter();
    if (!perl) {
        std::fputs("mokavi: cannot create a Perl interpreter\n", stderr);
        return kExitPerlError;
    }
    std::string joined;
    for (const std::string& line : code) joined += line + "\n";

    int status = kExitOk;
    MkSv* result = evaluate(perl, joined, wide);
    std::string message;
    if (!result && error_set(perl, wide, &message)) {
        std::fputs(message.c_str(), stderr);
        if (message.back() != '\n') std::fputc('\n', stderr);
        status = kExitPerlError;
    } else if (result) {
        std::printf("%s\n", read_value(perl, result, wide).c_str());
    }
    std::fflush(stdout);
    MkDestroyInterpreter(perl);
    return status;
}
