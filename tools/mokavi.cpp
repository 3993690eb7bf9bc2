// mokavi: evaluate Perl through the Mokavi C API, from the command line, a
// script file, stdin, or interactively. Built only on the public C functions,
// as any host would be; see kHelp for the behaviour.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "mokavi.h"
#include "text_convert.h"

#ifdef MOKAVI_HAVE_EDITLINE
#include <editline/readline.h>
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitPerlError = 1;
constexpr int kExitUsage = 2;

// Kept word for word in README.md (a test compares them).
constexpr const char kHelp[] =
    "usage: mokavi [--wide] -e CODE [-e CODE]... [ARG]...\n"
    "       mokavi [--wide] FILE [ARG]...\n"
    "       mokavi [--wide] [-] [ARG]...\n"
    "\n"
    "Evaluates Perl through the Mokavi library.\n"
    "\n"
    "  -e CODE     evaluate CODE and print its value; several -e are joined\n"
    "              by newlines\n"
    "  FILE        run the script in FILE\n"
    "  -           run the script read from stdin (the default when stdin is\n"
    "              not a terminal)\n"
    "  ARG...      the script's @ARGV\n"
    "  --wide      pass all text through the library's UTF-16 mode\n"
    "  --version   print the library's version and the Perl it embeds\n"
    "  -h, --help  print this help\n"
    "\n"
    "With no code and a terminal on stdin, mokavi is interactive: each line is\n"
    "evaluated on its own and its value printed (undef for none), or $@ on\n"
    "failure; package variables ($x, not my $x) carry over between lines.\n"
    "End it with `exit` or Ctrl-D.\n"
    "\n"
    "Exit status: 0 success (also `exit 0`), 1 Perl error (the message of $@ on\n"
    "stderr), 2 usage error.\n";

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

// Host text for the library in the current mode: UTF-8 bytes as they are, or
// converted to UTF-16. `bytes()` is what the C functions take.
class HostText {
public:
    HostText(std::string_view utf8, bool wide) {
        if (wide) {
            wide_ = utf16_from_utf8(utf8);
        } else {
            narrow_ = utf8;
        }
    }
    const void* bytes() const { return wide_ ? static_cast<const void*>(wide_->c_str()) : narrow_.c_str(); }

private:
    std::string narrow_;
    std::optional<std::u16string> wide_;
};

class Session {
public:
    Session(MkInterpreter* perl, bool wide) : perl_(perl), wide_(wide) {}

    // Reads a value by the length-then-copy protocol, as UTF-8 for printing.
    std::string read(MkSv* sv) const {
        const int32_t n = MkSvLEN(perl_, sv);
        if (wide_) {
            std::u16string buffer(static_cast<std::size_t>(n) + 1, u'\0');
            MkSvGET(perl_, sv, buffer.data(), n);
            return utf8_from_utf16(std::u16string_view(buffer.data()));
        }
        std::string buffer(static_cast<std::size_t>(n) + 1, '\0');
        MkSvGET(perl_, sv, buffer.data(), n);
        return std::string(buffer.c_str());
    }

    MkSv* eval(std::string_view code) const { return MkSvEval(perl_, HostText(code, wide_).bytes()); }

    // $@ when it is true, else nothing.
    std::optional<std::string> error() const {
        std::string message = read(MkErrSv(perl_));
        if (message.empty() || message == "0") return std::nullopt;
        return message;
    }

    // Perl buffers STDOUT itself; flush it before printing through stdio so
    // the script's output comes first. Callers have read $@ already.
    void flush_perl_output() const { eval("STDOUT->flush; 1"); }

    void set_argv(const std::vector<std::string>& args) const {
        MkAv* argv = MkGetAV(perl_, HostText("ARGV", wide_).bytes(), 1);
        for (std::size_t i = 0; i < args.size(); ++i) {
            MkSv* sv = MkSvNew(perl_);
            MkSvSetPv(perl_, sv, HostText(args[i], wide_).bytes());
            if (!MkStoreAv(perl_, argv, static_cast<int32_t>(i), sv)) MkSvDeRef(perl_, sv);
        }
    }

private:
    MkInterpreter* perl_;
    bool wide_;
};

void print_error(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (message.empty() || message.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool is_exit_zero(const std::string& message) {
    return message == "exit(0) called; evaluation abandoned\n";
}

// Evaluates one piece of code; prints its value when asked to. Returns the
// exit status.
int run(const Session& session, const std::string& code, bool print_value) {
    MkSv* result = session.eval(code);
    const std::optional<std::string> error = result ? std::nullopt : session.error();
    const std::string value = result && print_value ? session.read(result) : std::string();
    session.flush_perl_output();
    if (error) {
        if (is_exit_zero(*error)) return kExitOk;
        print_error(*error);
        return kExitPerlError;
    }
    if (result && print_value) std::printf("%s\n", value.c_str());
    std::fflush(stdout);
    return kExitOk;
}

bool next_line(std::string* line) {
#ifdef MOKAVI_HAVE_EDITLINE
    char* text = readline("mokavi> ");
    if (!text) return false;
    *line = text;
    if (!line->empty()) add_history(text);
    std::free(text);
    return true;
#else
    std::fputs("mokavi> ", stdout);
    std::fflush(stdout);
    return static_cast<bool>(std::getline(std::cin, *line));
#endif
}

int interactive(const Session& session) {
    std::string line;
    while (next_line(&line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        MkSv* result = session.eval(line);
        const std::optional<std::string> error = result ? std::nullopt : session.error();
        const std::string value = result ? session.read(result) : std::string("undef");
        session.flush_perl_output();
        if (error && is_exit_zero(*error)) return kExitOk;
        if (error) {
            print_error(*error);
            // `exit N` ends the session too.
            if (error->starts_with("exit(") && error->ends_with(") called; evaluation abandoned\n")) {
                return kExitPerlError;
            }
        } else {
            std::printf("%s\n", value.c_str());
            std::fflush(stdout);
        }
    }
    std::fputc('\n', stdout);
    return kExitOk;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "mokavi: %s\nTry 'mokavi --help'.\n", message.c_str());
    return kExitUsage;
}

std::optional<std::string> read_all(std::istream& in) {
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

struct Options {
    bool wide = false;
    bool version = false;
    std::vector<std::string> code;       // -e pieces
    std::optional<std::string> script;   // FILE, or "-" for stdin
    std::vector<std::string> arguments;  // @ARGV
};

// Options come first, as with perl: the first other argument is the script
// (when there is no -e), and everything after it is @ARGV. Returns the exit
// status for a usage error or --help, else nothing.
std::optional<int> parse(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "-" || arg.empty() || arg[0] != '-') {
            break;
        } else if (arg == "--wide") {
            options->wide = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "-e") {
            if (i + 1 >= argc) return usage_error("-e needs an argument");
            options->code.emplace_back(argv[++i]);
        } else {
            return usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    if (options->code.empty() && i < argc) options->script = argv[i++];
    for (; i < argc; ++i) options->arguments.emplace_back(argv[i]);
    return std::nullopt;
}

int print_version(const Session& session) {
    const int32_t v = MkGetVersion();
    MkSv* perl_version = session.eval("sprintf '%vd', $^V");
    std::printf("mokavi %d.%d.%d.%d, embedding Perl %s\n", v / 1000, v / 100 % 10, v / 10 % 10, v % 10,
                perl_version ? session.read(perl_version).c_str() : "(unknown)");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> status = parse(argc, argv, &options)) return *status;

    // Read the script before starting Perl, so a missing file is a usage error.
    std::optional<std::string> script;
    const bool interactive_mode =
        !options.version && options.code.empty() && !options.script && isatty(STDIN_FILENO);
    if (!options.version && options.code.empty() && !interactive_mode) {
        if (!options.script || *options.script == "-") {
            script = read_all(std::cin);
            if (!script) return usage_error("cannot read stdin");
        } else {
            std::ifstream file(*options.script, std::ios::binary);
            if (!file) {
                return usage_error("cannot open '" + *options.script + "': " + std::strerror(errno));
            }
            script = read_all(file);
            if (!script) return usage_error("cannot read '" + *options.script + "'");
        }
    }

    MkSetWideAPI(nullptr, options.wide ? 1 : 0);
    MkInterpreter* perl = MkCreateInterpreter();
    if (!perl) {
        std::fputs("mokavi: cannot create a Perl interpreter\n", stderr);
        return kExitPerlError;
    }
    const Session session(perl, options.wide);
    session.set_argv(options.arguments);

    int status = kExitOk;
    if (options.version) {
        status = print_version(session);
    } else if (interactive_mode) {
        status = interactive(session);
    } else if (script) {
        status = run(session, *script, false);
    } else {
        std::string joined;
        for (const std::string& piece : options.code) joined += piece + "\n";
        status = run(session, joined, true);
    }
    std::fflush(stdout);
    MkDestroyInterpreter(perl);
    return status;
}
