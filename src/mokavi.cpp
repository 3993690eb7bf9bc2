// The C API: 21 functions over libperl.
//
// libperl reports errors by longjmp. A libperl call that can raise always
// runs under a jump frame of this file (survive_exit), and no C++ object
// with a non-trivial destructor lives between that frame and the call; the
// only such object, an exported call's Entered, lives above it. Host text
// converted for the interpreter is freed explicitly.

#include <atomic>
#include <type_traits>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <locale.h>
#include <pthread.h>

#include "mokavi.h"
#include "text_convert.h"

// libperl's headers last: their macros collide with standard library names.
#include <EXTERN.h>
#include <perl.h>
#include <XSUB.h>

using mokavi::text::UTF2Wide;
using mokavi::text::UTF2WideLen;
using mokavi::text::Wide2UTF;

extern "C" void boot_DynaLoader(pTHX_ CV* cv);

namespace {

constexpr std::int32_t kVersion = 1200;

// The text mode: 0 narrow, anything else wide. Each call reads it once.
std::atomic<std::int32_t> WideAPI{0};

bool wide_mode() noexcept { return WideAPI.load(std::memory_order_relaxed) != 0; }

// ---- One-time process set-up -----------------------------------------------

// The start-up command line. The program name gets a buffer of its own, wider
// than a pointer, so Perl never finds the arguments contiguous and never
// writes an assignment to $0 over them.
alignas(16) char startup_program_name[16] = "";
char startup_switch[] = "-e";
char startup_code[] = "$^H |= 0x00800000";
char* startup_argv[] = {startup_program_name, startup_switch, startup_code, nullptr};
constexpr int kStartupArgc = 3;

pthread_once_t process_setup_once = PTHREAD_ONCE_INIT;

// Interpreter construction switches the locale categories to the ones the
// environment names and later back to "C"; glibc drops a locale's data once
// nothing uses it, so every construction would load the locale files again
// (most of the cost of creating an interpreter under a UTF-8 locale). One
// reference held for the life of the process keeps them loaded; Perl makes
// the same calls and gets the same locales.
locale_t volatile environment_locale = nullptr;  // never read: only held

void setup_process() {
    int argc = 0;
    char* no_args[] = {startup_program_name, nullptr};
    char** argv = no_args;
    char** env = nullptr;
    PERL_SYS_INIT3(&argc, &argv, &env);
    environment_locale = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));

    // A host that loaded us with RTLD_LOCAL (ctypes, plug-in loaders) left
    // libperl's symbols invisible to the XS modules DynaLoader loads later.
    // Make them global; the handle stays open for the life of the process.
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&Perl_call_sv), &info) != 0 && info.dli_fname) {
        (void)dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    }
}

// ---- Per-interpreter data --------------------------------------------------

#define MY_CXT_KEY "Mokavi::_guts"
typedef struct {
    CV* trap;  // the anonymous XSUB that runs work inside an eval context
    // The thread locale the interpreter last ran in, installed again
    // whenever it runs; null until its first call returns.
    locale_t locale;
} my_cxt_t;
START_MY_CXT

// ---- Entering an interpreter -----------------------------------------------

// libperl keeps its locale as the thread's current locale (uselocale): it
// installs one at construction, from the environment, and Perl code's
// setlocale replaces it. Left in place that would switch the host thread's
// locale (its character set, decimal point, messages) behind its back, and
// destroying any interpreter resets the thread to the global locale under
// the others. So each call swaps: the interpreter's locale while it runs,
// the host's again when the call returns.

// Installs the interpreter's locale; returns the host thread's.
locale_t install_interpreter_locale(pTHX) noexcept {
    dMY_CXT;
    const locale_t host = uselocale(static_cast<locale_t>(nullptr));
    if (MY_CXT.locale) (void)uselocale(MY_CXT.locale);
    return host;
}

// Puts the host's locale back and keeps the interpreter's for its next call.
void restore_host_locale(pTHX_ locale_t host) noexcept {
    dMY_CXT;
    MY_CXT.locale = uselocale(host);
}

// Makes `interp` the thread's current interpreter, so XS code that fetches
// the context implicitly sees the right one.
PerlInterpreter* enter(MkInterpreter* interp) noexcept {
    auto* perl = reinterpret_cast<PerlInterpreter*>(interp);
    if (PERL_GET_CONTEXT != perl) PERL_SET_CONTEXT(perl);
    return perl;
}

// One exported call's hold on an interpreter: current for the thread and
// running in its own locale until the call returns. Every libperl call that
// can raise runs under survive_exit's jump frame, which sits below this
// object, so no longjmp ever skips its destructor.
class Entered {
public:
    explicit Entered(MkInterpreter* interp) noexcept
        : perl_(enter(interp)), host_locale_(install_interpreter_locale(perl_)) {}
    ~Entered() { restore_host_locale(perl_, host_locale_); }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;
    PerlInterpreter* perl() const noexcept { return perl_; }

private:
    PerlInterpreter* perl_;
    locale_t host_locale_;
};

// Declares `my_perl` for an exported call on `interp`.
#define MK_ENTER(interp)         \
    Entered entered_call(interp); \
    dTHXa(entered_call.perl())

SV* as_sv(MkSv* sv) { return reinterpret_cast<SV*>(sv); }
AV* as_av(MkAv* av) { return reinterpret_cast<AV*>(av); }
MkSv* to_handle(SV* sv) { return reinterpret_cast<MkSv*>(sv); }

std::int32_t clamp_length(std::size_t n) {
    return n > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(n);
}

// ---- Host text into the interpreter ----------------------------------------

// Host text as the interpreter is given it: the host's bytes in narrow mode,
// a converted UTF-8 copy (`owned`, freed by release()) in wide mode. `text`
// is null only when wide mode could not allocate a copy.
struct HostText {
    const char* text;
    char* owned;
};

HostText text_in(bool wide, const void* host_text) noexcept {
    if (!wide) return {static_cast<const char*>(host_text), nullptr};
    char* converted = Wide2UTF(static_cast<const char16_t*>(host_text));
    return {converted, converted};
}

void release(HostText& t) noexcept { std::free(t.owned); }

// ---- Surviving exit and unwinding ------------------------------------------

// Runs `body` under a jump frame of our own. Perl's exit (and any error that
// finds no eval context) unwinds every context and scope and jumps to the
// outermost frame; without ours that ends the host process. On such a jump
// the stacks are put back where they stood, $@ names the exit status, and
// false is returned.
template <class Body>
bool survive_exit(pTHX_ Body&& body) {
    const SSize_t stack_depth = PL_stack_sp - PL_stack_base;
    const SSize_t mark_depth = PL_markstack_ptr - PL_markstack;
    const I32 scope_depth = PL_scopestack_ix;
    const SSize_t tmps_floor = PL_tmps_floor;
    dJMPENV;
    int jumped;
    JMPENV_PUSH(jumped);
    if (jumped == 0) body();
    JMPENV_POP;
    if (jumped == 0) return true;

    PL_stack_sp = PL_stack_base + stack_depth;
    PL_markstack_ptr = PL_markstack + mark_depth;
    while (PL_scopestack_ix > scope_depth) LEAVE;
    PL_tmps_floor = tmps_floor;
    PL_curstash = PL_defstash;
    sv_setpvf(ERRSV, "exit(%d) called; evaluation abandoned\n", (int)STATUS_EXIT);
    return false;
}

// ---- Trapping interpreter errors -------------------------------------------

struct TrapCall {
    void (*run)(pTHX_ void* work);
    void* work;
    SV* kept_error;  // $@ as it was, or null when it was empty
    bool completed;
};

// The XSUB behind the trap: call_sv with G_EVAL gives it a real eval
// context, so a croak inside `run` fills $@ and returns to call_sv.
void trap_xsub(pTHX_ CV* cv) {
    dXSARGS;
    PERL_UNUSED_VAR(items);
    auto* call = static_cast<TrapCall*>(CvXSUBANY(cv).any_ptr);
    // Entering the eval context emptied $@; the work may be reading it.
    if (call->kept_error) sv_setsv(ERRSV, call->kept_error);
    call->run(aTHX_ call->work);
    call->completed = true;
    XSRETURN_EMPTY;
}

// $@ holds something a successful trapped call must not wipe out.
bool error_worth_keeping(SV* err) { return !(SvPOK(err) && SvCUR(err) == 0 && !SvMAGICAL(err)); }

bool run_trapped(pTHX_ void (*run)(pTHX_ void*), void* work) {
    dMY_CXT;
    CV* trap = MY_CXT.trap;
    SV* kept_error = error_worth_keeping(ERRSV) ? newSVsv(ERRSV) : nullptr;
    TrapCall call{run, work, kept_error, false};
    void* outer = CvXSUBANY(trap).any_ptr;
    CvXSUBANY(trap).any_ptr = &call;

    const bool survived = survive_exit(aTHX_ [&] {
        dSP;
        PUSHMARK(SP);
        PUTBACK;
        call_sv(reinterpret_cast<SV*>(trap), G_VOID | G_DISCARD | G_EVAL);
    });

    CvXSUBANY(trap).any_ptr = outer;
    const bool ok = survived && call.completed;
    if (ok && kept_error) sv_setsv(ERRSV, kept_error);
    SvREFCNT_dec(kept_error);
    return ok;
}

// Runs `work` directly when it cannot raise, otherwise inside the trap.
// Returns false when the work raised an error (now in $@) or called exit.
template <class Work>
bool perl_work(pTHX_ bool may_raise, Work&& work) {
    if (!may_raise) {
        work();
        return true;
    }
    return run_trapped(
        aTHX_[](pTHX_ void* w) {
            PERL_UNUSED_CONTEXT;
            (*static_cast<std::remove_reference_t<Work>*>(w))();
        },
        &work);
}

// Reading the value's string may run Perl code (get-magic, overloading) or
// croak (a reference that cannot be stringified).
bool string_read_may_raise(SV* sv) {
    return SvGMAGICAL(sv) || SvROK(sv) || SvTYPE(sv) >= SVt_PVAV;
}

// Setting the value's string croaks on read-only values and frees the
// referent of a reference (running its DESTROY).
bool string_write_may_raise(SV* sv) {
    return SvREADONLY(sv) || SvROK(sv) || SvTYPE(sv) >= SVt_PVAV;
}

bool array_may_raise(AV* av) { return SvRMAGICAL(av) || SvREADONLY(av); }

// ---- Evaluation --------------------------------------------------------------

// Whether $@ is true. An error object's truth may run Perl code (overloaded
// bool or stringification) that dies; an error whose truth cannot even be
// told is an error, with the new message in $@.
bool error_is_true(pTHX) {
    SV* err = ERRSV;
    if (!string_read_may_raise(err)) return SvTRUE(err);
    bool is_true = true;
    return !perl_work(aTHX_ true, [&] { is_true = SvTRUE(err); }) || is_true;
}

// Runs `eval` (which returns the evaluation's value or null) in a scope of
// its own, so everything the evaluation made is released except its result.
// The result is handed to the interpreter's outermost temporaries, where it
// lives until the interpreter is destroyed.
template <class Eval>
SV* evaluate(pTHX_ Eval&& eval) {
    SV* result = nullptr;
    ENTER;
    SAVETMPS;
    const bool survived = survive_exit(aTHX_ [&] {
        result = eval();
        if (result) SvREFCNT_inc_simple_void_NN(result);
    });
    FREETMPS;
    LEAVE;
    if (!survived) return nullptr;
    return result ? sv_2mortal(result) : nullptr;
}

// The code MkSvEvalSv evaluates. Reading its string may run Perl code
// (overloading, a tied value) before the evaluation's own trap is set up,
// where a die would reach Perl's top level: such code is read first, trapped,
// into a temporary copy. Null when reading it failed ($@ says why).
SV* evaluable(pTHX_ SV* code) {
    if (!string_read_may_raise(code)) return code;
    SV* copy = sv_newmortal();
    return perl_work(aTHX_ true, [&] { sv_copypv(copy, code); }) ? copy : nullptr;
}

// The result of MkSvEvalSv as a string value: forced in place, or, for a
// read-only value that cannot be changed, a new string copied from it.
SV* as_string_value(pTHX_ SV* result) {
    if ((SvFLAGS(result) & (SVf_POK | SVf_THINKFIRST)) == SVf_POK) return result;
    if (SvREADONLY(result)) {
        SV* copy = sv_2mortal(newSVpvs(""));
        if (!SvOK(result)) return copy;
        return perl_work(aTHX_ string_read_may_raise(result), [&] { sv_copypv(copy, result); })
                   ? copy
                   : nullptr;
    }
    return perl_work(aTHX_ string_read_may_raise(result),
                     [&] { (void)SvPV_force_nolen(result); })
               ? result
               : nullptr;
}

// ---- Reading values as host text -------------------------------------------

// Calls `use(p, length)` with the value's string: its buffer when it holds
// one (no magic is called), otherwise its string form. Perl code that the
// string form runs is trapped; returns false if it failed.
template <class Use>
bool with_string(pTHX_ SV* sv, Use&& use) {
    if (SvPOK(sv)) {
        use(static_cast<const char*>(SvPVX(sv)), static_cast<std::size_t>(SvCUR(sv)));
        return true;
    }
    if (!SvOK(sv) && !SvGMAGICAL(sv)) {
        use("", 0);
        return true;
    }
    return perl_work(aTHX_ string_read_may_raise(sv), [&] {
        STRLEN len;
        const char* p = SvPV(sv, len);
        use(p, static_cast<std::size_t>(len));
    });
}

std::int32_t narrow_length(SV* sv, const char* p, std::size_t len) {
    if (!SvPOK(sv)) return clamp_length(std::strlen(p));
    // A value that does not own its buffer (shared hash keys, constants)
    // records its size as 0: report room for the string and its terminator.
    const std::size_t size = SvLEN(sv) ? static_cast<std::size_t>(SvLEN(sv)) : len + 1;
    return clamp_length(size);
}

// Writes `length` bytes: the string and its terminator as far as they fit,
// then zero bytes. Never reads past the string's terminator.
void narrow_copy(const char* p, std::size_t len, char* buffer, std::int32_t length) {
    const auto room = static_cast<std::size_t>(length);
    const std::size_t copied = room < len + 1 ? room : len + 1;
    std::memcpy(buffer, p, copied);
    std::memset(buffer + copied, 0, room - copied);
}

void write_empty(bool wide, void* buffer) {
    if (wide) {
        *static_cast<char16_t*>(buffer) = u'\0';
    } else {
        *static_cast<char*>(buffer) = '\0';
    }
}

}  // namespace

extern "C" {

// ---- Interpreters ------------------------------------------------------------

// Registers DynaLoader's bootstrap, so the interpreter can load XS modules,
// and makes the trap used to run Perl work inside an eval context.
static void xs_init(pTHX) {
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__);
    MY_CXT_INIT;
    MY_CXT.trap = newXS(nullptr, trap_xsub, __FILE__);
    MY_CXT.locale = nullptr;
}

MOKAVI_API std::int32_t MOKAVI_CALL MkGetVersion(void) noexcept { return kVersion; }

MOKAVI_API MkInterpreter* MOKAVI_CALL MkCreateInterpreter(void) noexcept {
    pthread_once(&process_setup_once, setup_process);
    PerlInterpreter* my_perl = perl_alloc();
    if (!my_perl) return nullptr;
    // Construction builds the interpreter's locale on top of the thread's
    // current one, consuming it: start it from the global locale, never
    // from a locale object the host owns.
    const locale_t host_locale = uselocale(LC_GLOBAL_LOCALE);
    PERL_SET_CONTEXT(my_perl);
    perl_construct(my_perl);
    // A start-up that fails (PERL5OPT naming a missing module, say) leaves
    // an interpreter that cannot be used: report it as a failure.
    if (perl_parse(my_perl, xs_init, kStartupArgc, startup_argv, nullptr) != 0) {
        perl_destruct(my_perl);
        perl_free(my_perl);
        (void)uselocale(host_locale);
        return nullptr;
    }
    perl_run(my_perl);
    restore_host_locale(aTHX_ host_locale);
    return reinterpret_cast<MkInterpreter*>(my_perl);
}

MOKAVI_API void MOKAVI_CALL MkDestroyInterpreter(MkInterpreter* interp) noexcept {
    if (!interp) return;
    dTHXa(enter(interp));
    // Destruction frees the interpreter's locale: it must be the current one.
    const locale_t host_locale = install_interpreter_locale(aTHX);
    {
        dMY_CXT;
        SvREFCNT_dec(MY_CXT.trap);
        MY_CXT.trap = nullptr;
    }
    // A DESTROY method that calls exit during global destruction would end
    // the host. Should that happen, the destruction is abandoned and the
    // interpreter's memory left alone rather than freed half torn down.
    dJMPENV;
    int jumped;
    JMPENV_PUSH(jumped);
    if (jumped == 0) perl_destruct(my_perl);
    JMPENV_POP;
    if (jumped == 0) perl_free(my_perl);
    PERL_SET_CONTEXT(nullptr);
    (void)uselocale(host_locale);
}

// ---- Text mode -----------------------------------------------------------------

MOKAVI_API std::int32_t MOKAVI_CALL MkSetWideAPI(MkInterpreter*, std::int32_t flag) noexcept {
    WideAPI.store(flag, std::memory_order_relaxed);
    return flag;
}

// ---- Evaluation ------------------------------------------------------------------

MOKAVI_API MkSv* MOKAVI_CALL MkSvEval(MkInterpreter* interp, const void* source) noexcept {
    MK_ENTER(interp);
    HostText code = text_in(wide_mode(), source);
    if (!code.text) return nullptr;
    SV* result = evaluate(aTHX_ [&] { return eval_pv(code.text, FALSE); });
    release(code);
    return result && SvOK(result) ? to_handle(result) : nullptr;
}

MOKAVI_API MkSv* MOKAVI_CALL MkSvEvalSv(MkInterpreter* interp, MkSv* code) noexcept {
    MK_ENTER(interp);
    SV* result = evaluate(aTHX_ [&]() -> SV* {
        SV* source = evaluable(aTHX_ as_sv(code));
        if (!source) return nullptr;
        eval_sv(source, G_EVAL | G_SCALAR);
        dSP;
        SV* value = POPs;
        PUTBACK;
        return error_is_true(aTHX) ? nullptr : value;
    });
    return result ? to_handle(as_string_value(aTHX_ result)) : nullptr;
}

MOKAVI_API MkSv* MOKAVI_CALL MkErrSv(MkInterpreter* interp) noexcept {
    MK_ENTER(interp);
    return to_handle(ERRSV);
}

MOKAVI_API MkSv* MOKAVI_CALL MkCompErrSv(MkInterpreter* interp) noexcept {
    MK_ENTER(interp);
    return to_handle(get_sv("!", 0));
}

// ---- Package variables and values --------------------------------------------

}  // extern "C"

namespace {

// The three look-ups differ only in the interpreter call. A look-up that
// creates may load a module (%! loads Errno), so it runs in the trap.
template <class Lookup>
void* look_up(MkInterpreter* interp, const void* name, std::int32_t create, Lookup&& lookup) {
    MK_ENTER(interp);
    HostText text = text_in(wide_mode(), name);
    void* found = nullptr;
    if (text.text) {
        perl_work(aTHX_ create != 0, [&] { found = lookup(aTHX_ text.text, create); });
    }
    release(text);
    return found;
}

}  // namespace

extern "C" {

MOKAVI_API MkSv* MOKAVI_CALL MkGetSV(MkInterpreter* interp, const void* name, std::int32_t create) noexcept {
    return static_cast<MkSv*>(look_up(interp, name, create, [](pTHX_ const char* n, I32 flags) {
        return static_cast<void*>(get_sv(n, flags));
    }));
}

MOKAVI_API MkAv* MOKAVI_CALL MkGetAV(MkInterpreter* interp, const void* name, std::int32_t create) noexcept {
    return static_cast<MkAv*>(look_up(interp, name, create, [](pTHX_ const char* n, I32 flags) {
        return static_cast<void*>(get_av(n, flags));
    }));
}

MOKAVI_API MkHv* MOKAVI_CALL MkGetHV(MkInterpreter* interp, const void* name, std::int32_t create) noexcept {
    return static_cast<MkHv*>(look_up(interp, name, create, [](pTHX_ const char* n, I32 flags) {
        return static_cast<void*>(get_hv(n, flags));
    }));
}

MOKAVI_API MkSv* MOKAVI_CALL MkSvNew(MkInterpreter* interp) noexcept {
    MK_ENTER(interp);
    return to_handle(newSV(0));
}

MOKAVI_API void MOKAVI_CALL MkSvSetPv(MkInterpreter* interp, MkSv* value, const void* text) noexcept {
    if (!value) return;
    MK_ENTER(interp);
    SV* sv = as_sv(value);
    const bool wide = wide_mode();
    HostText in = text_in(wide, text);
    if (!in.text) return;
    perl_work(aTHX_ string_write_may_raise(sv), [&] {
        sv_setpv(sv, in.text);
        if (wide) {
            SvUTF8_on(sv);
        } else if (SvUTF8(sv) && !is_utf8_string(reinterpret_cast<const U8*>(SvPVX(sv)), SvCUR(sv))) {
            // The setter keeps the flag; bytes that are not UTF-8 must not
            // be marked as such.
            SvUTF8_off(sv);
        }
        // The plain setter leaves Perl's cached character length and
        // offsets of the old string in place; drop them.
        if (SvMAGICAL(sv)) sv_unmagic(sv, PERL_MAGIC_utf8);
    });
    release(in);
}

MOKAVI_API std::int32_t MOKAVI_CALL MkSvLEN(MkInterpreter* interp, MkSv* value) noexcept {
    if (!value) return 0;
    MK_ENTER(interp);
    SV* sv = as_sv(value);
    const bool wide = wide_mode();
    std::int32_t length = 0;
    with_string(aTHX_ sv, [&](const char* p, std::size_t len) {
        length = wide ? UTF2WideLen(p) : narrow_length(sv, p, len);
    });
    return length;
}

MOKAVI_API void MOKAVI_CALL MkSvGET(MkInterpreter* interp, MkSv* value, void* buffer,
                        std::int32_t length) noexcept {
    if (length < 0) return;
    const bool wide = wide_mode();
    if (!value) return write_empty(wide, buffer);
    MK_ENTER(interp);
    const bool read = with_string(aTHX_ as_sv(value), [&](const char* p, std::size_t len) {
        if (wide) {
            const std::int32_t capacity = length == INT32_MAX ? INT32_MAX : length + 1;
            (void)UTF2Wide(p, static_cast<char16_t*>(buffer), capacity);
        } else {
            narrow_copy(p, len, static_cast<char*>(buffer), length);
        }
    });
    if (!read) write_empty(wide, buffer);
}

MOKAVI_API void MOKAVI_CALL MkSvDeRef(MkInterpreter* interp, MkSv* value) noexcept {
    if (!value) return;
    MK_ENTER(interp);
    SV* sv = as_sv(value);
    // Freeing the last reference to an object or a reference runs DESTROY.
    const bool may_raise = SvREFCNT(sv) <= 1 && (SvROK(sv) || SvOBJECT(sv) || SvMAGICAL(sv));
    perl_work(aTHX_ may_raise, [&] { SvREFCNT_dec(sv); });
}

// ---- Arrays ----------------------------------------------------------------------

MOKAVI_API std::int32_t MOKAVI_CALL MkAvLEN(MkInterpreter* interp, MkAv* array) noexcept {
    if (!array) return 0;
    MK_ENTER(interp);
    AV* av = as_av(array);
    SSize_t top = -1;
    perl_work(aTHX_ SvRMAGICAL(av), [&] { top = av_len(av); });
    return clamp_length(static_cast<std::size_t>(top + 1));
}

MOKAVI_API MkSv* MOKAVI_CALL MkSvFetchAV(MkInterpreter* interp, MkAv* array, std::int32_t index) noexcept {
    if (!array) return nullptr;
    MK_ENTER(interp);
    AV* av = as_av(array);
    if (!SvRMAGICAL(av)) {
        SV** slot = av_fetch(av, index, 0);
        return slot ? to_handle(*slot) : nullptr;
    }
    // A tied array hands out a temporary element; keep it alive for the host
    // the way evaluation results are kept.
    SV* element = nullptr;
    perl_work(aTHX_ true, [&] {
        SV** slot = av_fetch(av, index, 0);
        if (slot && *slot) element = SvREFCNT_inc_simple_NN(*slot);
    });
    return element ? to_handle(sv_2mortal(element)) : nullptr;
}

MOKAVI_API MkSv** MOKAVI_CALL MkStoreAv(MkInterpreter* interp, MkAv* array, std::int32_t index,
                            MkSv* value) noexcept {
    if (!array || !value || index < 0) return nullptr;
    MK_ENTER(interp);
    AV* av = as_av(array);
    SV** slot = nullptr;
    perl_work(aTHX_ array_may_raise(av), [&] { slot = av_store(av, index, as_sv(value)); });
    return reinterpret_cast<MkSv**>(slot);
}

MOKAVI_API void MOKAVI_CALL MkExtendAv(MkInterpreter* interp, MkAv* array, std::int32_t index) noexcept {
    if (!array || index < 0) return;
    MK_ENTER(interp);
    AV* av = as_av(array);
    perl_work(aTHX_ array_may_raise(av), [&] { av_extend(av, index); });
}

MOKAVI_API void MOKAVI_CALL MkUndefAV(MkInterpreter* interp, MkAv* array) noexcept {
    if (!array) return;
    MK_ENTER(interp);
    AV* av = as_av(array);
    // Releasing the elements may run their DESTROY methods.
    perl_work(aTHX_ true, [&] { av_undef(av); });
}

}  // extern "C"
