#!/usr/bin/env python3
"""Drive Perl from Python through libmokavi with nothing but ctypes.

    python3 mokavi_ctypes.py [path/to/libmokavi.so]

Without a path the library is looked up as the system's loader would
(ctypes.util.find_library). Every one of the 21 functions gets its exact
argument and result types: without them ctypes would pass Python ints as C
int and truncate pointers on 64-bit machines.
"""
import ctypes
import ctypes.util
import sys

c_int32 = ctypes.c_int32
c_void_p = ctypes.c_void_p


# Opaque handles: distinct pointer types, so an array is not passed as a value.
class MkInterpreter(ctypes.Structure):
    pass


class MkSv(ctypes.Structure):
    pass


class MkAv(ctypes.Structure):
    pass


class MkHv(ctypes.Structure):
    pass


Interp = ctypes.POINTER(MkInterpreter)
Sv = ctypes.POINTER(MkSv)
Av = ctypes.POINTER(MkAv)
Hv = ctypes.POINTER(MkHv)

# name: (result, argument types) exactly as in mokavi.h. Host text is
# `const void*` (bytes in narrow mode, UTF-16 in wide mode).
SIGNATURES = {
    "MkGetVersion": (c_int32, []),
    "MkCreateInterpreter": (Interp, []),
    "MkDestroyInterpreter": (None, [Interp]),
    "MkSetWideAPI": (c_int32, [Interp, c_int32]),
    "MkSvEval": (Sv, [Interp, c_void_p]),
    "MkSvEvalSv": (Sv, [Interp, Sv]),
    "MkErrSv": (Sv, [Interp]),
    "MkCompErrSv": (Sv, [Interp]),
    "MkGetSV": (Sv, [Interp, c_void_p, c_int32]),
    "MkGetAV": (Av, [Interp, c_void_p, c_int32]),
    "MkGetHV": (Hv, [Interp, c_void_p, c_int32]),
    "MkSvNew": (Sv, [Interp]),
    "MkSvSetPv": (None, [Interp, Sv, c_void_p]),
    "MkSvLEN": (c_int32, [Interp, Sv]),
    "MkSvGET": (None, [Interp, Sv, c_void_p, c_int32]),
    "MkSvDeRef": (None, [Interp, Sv]),
    "MkAvLEN": (c_int32, [Interp, Av]),
    "MkSvFetchAV": (Sv, [Interp, Av, c_int32]),
    "MkStoreAv": (ctypes.POINTER(Sv), [Interp, Av, c_int32, Sv]),
    "MkExtendAv": (None, [Interp, Av, c_int32]),
    "MkUndefAV": (None, [Interp, Av]),
}


def load(path=None):
    path = path or ctypes.util.find_library("mokavi")
    if not path:
        sys.exit("libmokavi not found: pass its path")
    lib = ctypes.CDLL(path)
    for name, (restype, argtypes) in SIGNATURES.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


UTF16 = "utf-16-le" if sys.byteorder == "little" else "utf-16-be"


class Perl:
    """One interpreter; text goes in and out as str in either mode."""

    def __init__(self, lib, wide=False):
        self.lib, self.wide = lib, wide
        lib.MkSetWideAPI(None, 1 if wide else 0)
        self.interp = lib.MkCreateInterpreter()
        if not self.interp:
            raise MemoryError("no interpreter")

    def close(self):
        self.lib.MkDestroyInterpreter(self.interp)
        self.interp = None

    def text(self, s):
        """Host text: NUL-terminated bytes, or NUL-terminated UTF-16 units."""
        if self.wide:
            units = s.encode(UTF16) + b"\0\0"
            return ctypes.create_string_buffer(units, len(units))
        return ctypes.create_string_buffer(s.encode("utf-8"))

    def read(self, sv):
        """The length-then-copy protocol."""
        n = self.lib.MkSvLEN(self.interp, sv)
        if self.wide:
            buf = (ctypes.c_uint16 * (n + 1))()  # n units and the zero unit
            self.lib.MkSvGET(self.interp, sv, buf, n)
            return bytes(buf)[: 2 * n].decode(UTF16, "replace")
        buf = ctypes.create_string_buffer(n + 1)  # n bytes, terminated by us
        self.lib.MkSvGET(self.interp, sv, buf, n)
        return buf.value.decode("utf-8", "replace")

    def eval(self, code):
        """The value's text, None for undef; raises RuntimeError with $@."""
        sv = self.lib.MkSvEval(self.interp, self.text(code))
        if sv:
            return self.read(sv)
        error = self.read(self.lib.MkErrSv(self.interp))
        if error not in ("", "0"):
            raise RuntimeError(error)
        return None

    def push(self, array_name, strings):
        """Stores new values at the end of a package array."""
        av = self.lib.MkGetAV(self.interp, self.text(array_name), 1)
        for s in strings:
            sv = self.lib.MkSvNew(self.interp)
            self.lib.MkSvSetPv(self.interp, sv, self.text(s))
            if not self.lib.MkStoreAv(self.interp, av, self.lib.MkAvLEN(self.interp, av), sv):
                self.lib.MkSvDeRef(self.interp, sv)  # not stored: still ours
        return av


def main():
    lib = load(sys.argv[1] if len(sys.argv) > 1 else None)
    failures = []

    def check(label, got, expected):
        print(f"{label}: {got!r}")
        if got != expected:
            failures.append(f"{label}: expected {expected!r}")

    check("version", lib.MkGetVersion(), 1200)
    for wide in (False, True):
        mode = "wide" if wide else "narrow"
        perl = Perl(lib, wide)
        check(f"{mode} eval", perl.eval("join ',', map { $_ * $_ } 1 .. 4"), "1,4,9,16")
        check(f"{mode} undef", perl.eval("undef"), None)
        try:
            perl.eval("die qq{no luck\\n}")
            failures.append(f"{mode} die: no exception")
        except RuntimeError as e:
            check(f"{mode} die", str(e), "no luck\n")
        av = perl.push("words", ["Grüße", "😀", "x"])
        check(f"{mode} array length", lib.MkAvLEN(perl.interp, av), 3)
        check(f"{mode} last element", perl.read(lib.MkSvFetchAV(perl.interp, av, -1)), "x")
        # Non-ASCII text round trip: through a package array both ways.
        check(f"{mode} joined", perl.eval("join '|', @main::words"), "Grüße|😀|x")
        perl.close()
    lib.MkSetWideAPI(None, 0)

    if failures:
        print("FAILED:", *failures, sep="\n  ")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
