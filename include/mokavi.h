/*
 * mokavi.h - embed the Perl 5 interpreter through a flat C API.
 *
 * Version 1.2.0.0. Every function is safe to call from C, C++ or any FFI.
 *
 * INTERPRETERS
 *   MkCreateInterpreter() returns a ready interpreter: it has run its start-up
 *   program and can load compiled (XS) modules. Every other call names the
 *   interpreter it works on and makes it the thread's current interpreter, so
 *   several interpreters may live in one thread, or one per thread. A single
 *   interpreter must not be used by two threads at the same time.
 *
 * OWNERSHIP AND LIFETIME
 *   - The interpreter owns every value (MkSv), array (MkAv) and hash (MkHv) it
 *     hands out. The library adds or drops a reference only in MkSvDeRef.
 *   - A value made by MkSvNew carries one reference that belongs to the host:
 *     give it up with MkSvDeRef, or hand it to an array with MkStoreAv.
 *   - Results of MkSvEval and MkSvEvalSv belong to the interpreter and stay
 *     valid until the interpreter is destroyed; do not release them.
 *   - MkSvFetchAV lends the array's own element: it is valid while the array
 *     holds it.
 *   - Every handle obtained from an interpreter is invalid once the
 *     interpreter is destroyed.
 *   - The library never frees host memory and never hands out memory the host
 *     must free. Result buffers are always the caller's.
 *
 * ERRORS
 *   Failures are reported only by null or zero results and through Perl's
 *   $@ (MkErrSv) and $! (MkCompErrSv). Perl errors never escape a call: an
 *   error raised while reading, writing or storing a value (a tied variable
 *   whose FETCH dies, a read-only value, ...) makes the call return its
 *   neutral result with $@ holding the message, and `exit` in evaluated code
 *   abandons the evaluation instead of ending the host. When nothing fails,
 *   $@ is left as it was.
 *
 * TEXT: NARROW AND WIDE MODE
 *   Host text is a NUL-terminated string whose unit depends on one
 *   process-wide switch, MkSetWideAPI:
 *   - narrow mode (the default): 8-bit characters, handed over byte for byte;
 *   - wide mode: UTF-16 code units (char16_t), converted to UTF-8 on the way
 *     into Perl and back to UTF-16 on the way out. Ill-formed UTF-16 or UTF-8
 *     never fails a conversion: each ill-formed sequence becomes U+FFFD.
 *   Text parameters are therefore untyped pointers; host text is never null.
 *
 * READING A VALUE AS TEXT (the length-then-copy protocol)
 *   n = MkSvLEN(interp, sv);
 *   - wide mode: n counts UTF-16 units without the terminator. Allocate
 *     n + 1 units; MkSvGET(interp, sv, buf, n) writes the text and a zero unit.
 *     A smaller length writes a NUL-terminated prefix of at most that many
 *     units (never half a surrogate pair).
 *   - narrow mode: n is at least the string's length in bytes: the size of
 *     the value's string buffer when it holds a string, the length of its
 *     string form otherwise. Allocate n + 1 bytes; MkSvGET(interp, sv, buf, n)
 *     writes exactly n bytes: the string (embedded NUL bytes included), then
 *     its terminator and zero bytes as far as n allows, never anything past
 *     n. Set buf[n] = 0 to read the result as a C string. A smaller length
 *     writes just that many bytes of the string.
 *   A negative length writes nothing. Lengths never exceed INT32_MAX.
 */
#ifndef MOKAVI_H
#define MOKAVI_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(MOKAVI_BUILDING)
#define MOKAVI_API __declspec(dllexport)
#elif defined(MOKAVI_STATIC)
#define MOKAVI_API
#else
#define MOKAVI_API __declspec(dllimport)
#endif
#if defined(_M_IX86) || defined(__i386__)
#define MOKAVI_CALL __stdcall
#else
#define MOKAVI_CALL
#endif
#else
#if defined(MOKAVI_BUILDING)
#define MOKAVI_API __attribute__((visibility("default")))
#else
#define MOKAVI_API
#endif
#define MOKAVI_CALL
#endif

/* No function of this API throws: C++ hosts see them as noexcept. */
#if defined(__cplusplus)
#define MOKAVI_NOEXCEPT noexcept
#else
#define MOKAVI_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handles: an interpreter, and the interpreter's scalars, arrays and
 * hashes. Distinct types so that passing an array as a value does not
 * compile. */
typedef struct MkInterpreter MkInterpreter;
typedef struct MkSv MkSv;
typedef struct MkAv MkAv;
typedef struct MkHv MkHv;

/* ---- Interpreters ------------------------------------------------------- */

/* The library's version as an integer: 1200 for 1.2.0.0. */
MOKAVI_API int32_t MOKAVI_CALL MkGetVersion(void) MOKAVI_NOEXCEPT;

/* A new interpreter that has run its start-up program, or null when one
 * cannot be allocated. Destroy it with MkDestroyInterpreter. */
MOKAVI_API MkInterpreter* MOKAVI_CALL MkCreateInterpreter(void) MOKAVI_NOEXCEPT;

/* Destroys the interpreter and invalidates every handle obtained from it.
 * A null interpreter does nothing. */
MOKAVI_API void MOKAVI_CALL MkDestroyInterpreter(MkInterpreter* interp) MOKAVI_NOEXCEPT;

/* ---- Text mode ---------------------------------------------------------- */

/* Selects narrow (flag 0) or wide (any other flag) text for the whole
 * process and every interpreter, from the next call on; returns the flag.
 * The interpreter argument is ignored and may be null. */
MOKAVI_API int32_t MOKAVI_CALL MkSetWideAPI(MkInterpreter* interp, int32_t flag) MOKAVI_NOEXCEPT;

/* ---- Evaluation --------------------------------------------------------- */

/* Evaluates host text as Perl source in scalar context, trapping errors.
 * Returns the value (a number stays a number), or null when the value is
 * undefined or the evaluation failed: tell the two apart with MkErrSv.
 * The result lives until the interpreter is destroyed. */
MOKAVI_API MkSv* MOKAVI_CALL MkSvEval(MkInterpreter* interp, const void* source) MOKAVI_NOEXCEPT;

/* Evaluates the string held by `code` (never converted) in scalar context,
 * trapping errors. Returns null exactly when $@ is true afterwards, else a
 * value holding a string. The result lives until the interpreter is
 * destroyed. `code` must not be null. */
MOKAVI_API MkSv* MOKAVI_CALL MkSvEvalSv(MkInterpreter* interp, MkSv* code) MOKAVI_NOEXCEPT;

/* The scalar $@, the message of the last failed evaluation. */
MOKAVI_API MkSv* MOKAVI_CALL MkErrSv(MkInterpreter* interp) MOKAVI_NOEXCEPT;

/* The scalar $!, the operating system's last error as Perl keeps it, or
 * null if the interpreter has no such variable. */
MOKAVI_API MkSv* MOKAVI_CALL MkCompErrSv(MkInterpreter* interp) MOKAVI_NOEXCEPT;

/* ---- Package variables and values --------------------------------------- */

/* Finds the package scalar, array or hash called `name` (host text, no
 * sigil, package optional: "x", "main::x", "Some::list"). `create` is
 * passed to Perl as its look-up flags: 0 only finds, 1 creates a missing
 * variable. Returns null when there is no such variable. */
MOKAVI_API MkSv* MOKAVI_CALL MkGetSV(MkInterpreter* interp, const void* name, int32_t create) MOKAVI_NOEXCEPT;
MOKAVI_API MkAv* MOKAVI_CALL MkGetAV(MkInterpreter* interp, const void* name, int32_t create) MOKAVI_NOEXCEPT;
MOKAVI_API MkHv* MOKAVI_CALL MkGetHV(MkInterpreter* interp, const void* name, int32_t create) MOKAVI_NOEXCEPT;

/* A new undefined value whose one reference belongs to the host. Never
 * null. */
MOKAVI_API MkSv* MOKAVI_CALL MkSvNew(MkInterpreter* interp) MOKAVI_NOEXCEPT;

/* Sets the value's string from host text. In wide mode the value is marked
 * as UTF-8. A null value does nothing. */
MOKAVI_API void MOKAVI_CALL MkSvSetPv(MkInterpreter* interp, MkSv* sv, const void* text) MOKAVI_NOEXCEPT;

/* The length to prepare for MkSvGET (see the protocol above); 0 for a null
 * value. */
MOKAVI_API int32_t MOKAVI_CALL MkSvLEN(MkInterpreter* interp, MkSv* sv) MOKAVI_NOEXCEPT;

/* Copies the value's text into the caller's `buffer` (see the protocol
 * above). A null value writes an empty string. */
MOKAVI_API void MOKAVI_CALL MkSvGET(MkInterpreter* interp, MkSv* sv, void* buffer,
                                    int32_t length) MOKAVI_NOEXCEPT;

/* Gives up one reference to the value; Perl frees it when none remain.
 * A null value does nothing. */
MOKAVI_API void MOKAVI_CALL MkSvDeRef(MkInterpreter* interp, MkSv* sv) MOKAVI_NOEXCEPT;

/* ---- Arrays ------------------------------------------------------------- */

/* Number of elements: the highest index plus one. 0 for a null array. */
MOKAVI_API int32_t MOKAVI_CALL MkAvLEN(MkInterpreter* interp, MkAv* av) MOKAVI_NOEXCEPT;

/* The element at `index` (negative counts from the end), lent without a
 * reference, or null when there is none. Never creates an element. */
MOKAVI_API MkSv* MOKAVI_CALL MkSvFetchAV(MkInterpreter* interp, MkAv* av, int32_t index) MOKAVI_NOEXCEPT;

/* Stores `sv` at `index` (zero or greater), handing the caller's reference
 * to the array. Returns the slot now holding it, or null when nothing was
 * stored (null array or value, negative index, read-only array); then the
 * caller keeps its reference. */
MOKAVI_API MkSv** MOKAVI_CALL MkStoreAv(MkInterpreter* interp, MkAv* av, int32_t index,
                                        MkSv* sv) MOKAVI_NOEXCEPT;

/* Makes room for index `index` without changing the element count. Does
 * nothing for a null array or a negative index. */
MOKAVI_API void MOKAVI_CALL MkExtendAv(MkInterpreter* interp, MkAv* av, int32_t index) MOKAVI_NOEXCEPT;

/* Releases every element and the array's storage, leaving it empty. Does
 * nothing for a null array. */
MOKAVI_API void MOKAVI_CALL MkUndefAV(MkInterpreter* interp, MkAv* av) MOKAVI_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MOKAVI_H */
