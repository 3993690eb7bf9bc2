// Loads the library the way FFI hosts do, with dlopen(RTLD_LOCAL), and uses
// XS modules through it: DynaLoader must still find libperl's symbols.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mokavi.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

template <class Fn>
Fn load(void* lib, const char* name) {
    void* sym = dlsym(lib, name);
    if (!sym) {
        std::fprintf(stderr, "missing symbol %s\n", name);
        std::exit(1);
    }
    return reinterpret_cast<Fn>(sym);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s path/to/libmokavi.so\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    auto create = load<decltype(&MkCreateInterpreter)>(lib, "MkCreateInterpreter");
    auto destroy = load<decltype(&MkDestroyInterpreter)>(lib, "MkDestroyInterpreter");
    auto eval = load<decltype(&MkSvEval)>(lib, "MkSvEval");
    auto len = load<decltype(&MkSvLEN)>(lib, "MkSvLEN");
    auto get = load<decltype(&MkSvGET)>(lib, "MkSvGET");
    auto err = load<decltype(&MkErrSv)>(lib, "MkErrSv");

    auto read = [&](MkInterpreter* perl, MkSv* sv) {
        const int32_t n = len(perl, sv);
        std::string buffer(static_cast<std::size_t>(n) + 1, '\0');
        get(perl, sv, buffer.data(), n);
        return std::string(buffer.c_str());
    };

    MkInterpreter* perl = create();
    check(perl != nullptr, "interpreter created");
    const char* code =
        "use POSIX (); use List::Util (); use Storable (); use Encode (); use Digest::MD5 ();"
        "join ',', POSIX::floor(2.5), List::Util::sum(1, 2), "
        "Storable::thaw(Storable::freeze([7]))->[0], length Encode::encode('UTF-8', "
        "\"\\x{e9}\"), Digest::MD5::md5_hex('')";
    MkSv* result = eval(perl, code);
    if (!result) std::fprintf(stderr, "$@: %s\n", read(perl, err(perl)).c_str());
    check(result && read(perl, result) == "2,3,7,2,d41d8cd98f00b204e9800998ecf8427e",
          "XS modules load and run through an RTLD_LOCAL library");
    destroy(perl);
    std::printf("%d passed, %d failed\n", 1 - (failures ? 1 : 0), failures ? 1 : 0);
    return failures ? 1 : 0;
}
