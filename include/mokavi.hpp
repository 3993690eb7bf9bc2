// mokavi.hpp - C++ wrapper over the Mokavi C API, header only.
//
//   mokavi::Interpreter perl;                       // destroyed at scope exit
//   std::string s = perl.eval("join ',', 1 .. 3").str();   // "1,2,3"
//   try { perl.eval("die qq{no\n}"); } catch (const mokavi::Error& e) { e.what(); }
//
// Lifetimes follow the C rules:
//   - Interpreter owns one interpreter; it is move-only.
//   - Value, Array and Hash are views (non-owning handles). A Value from eval
//     or a package lookup stays valid until its interpreter is destroyed; a
//     Value fetched from an array is valid while the array holds it.
//   - NewValue owns the one reference a value made by MkSvNew carries. It
//     releases it on destruction unless Array::store took it.
//
// Text follows the process-wide mode (mokavi::set_wide_text): in narrow mode
// use the std::string overloads and Value::str(); in wide mode the
// std::u16string overloads and Value::u16str(). Every read uses the
// length-then-copy protocol.
//
// Exceptions come only from this header (mokavi::Error, std::bad_alloc); the
// C functions never throw and nothing here calls back into the host, so no
// exception ever unwinds through the library.
#ifndef MOKAVI_HPP
#define MOKAVI_HPP

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "mokavi.h"

namespace mokavi {

namespace detail {

// UTF-16 to UTF-8 for exception messages; an unpaired surrogate becomes
// U+FFFD as in the library.
inline std::string utf8_from_utf16(const std::u16string& in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Narrow read: MkSvLEN bytes are the string, its terminator and zero padding.
// Only trailing zero bytes are dropped, so embedded NUL bytes survive.
inline std::string read_narrow(MkInterpreter* interp, MkSv* sv) {
    if (!sv) return {};
    const std::int32_t n = MkSvLEN(interp, sv);
    if (n <= 0) return {};
    std::string buffer(static_cast<std::size_t>(n), '\0');
    MkSvGET(interp, sv, buffer.data(), n);
    const std::size_t end = buffer.find_last_not_of('\0');
    buffer.resize(end == std::string::npos ? 0 : end + 1);
    return buffer;
}

// Wide read: MkSvLEN units, then MkSvGET writes them and a zero unit.
inline std::u16string read_wide(MkInterpreter* interp, MkSv* sv) {
    if (!sv) return {};
    const std::int32_t n = MkSvLEN(interp, sv);
    if (n <= 0) return {};
    std::u16string buffer(static_cast<std::size_t>(n) + 1, u'\0');
    MkSvGET(interp, sv, buffer.data(), n);
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

}  // namespace detail

// Switches the process-wide text mode (every interpreter, every thread).
inline void set_wide_text(bool wide) noexcept { MkSetWideAPI(nullptr, wide ? 1 : 0); }

// The library's version as an integer: 1200 for 1.2.0.0.
inline std::int32_t library_version() noexcept { return MkGetVersion(); }

// A failed evaluation; what() is $@ (as UTF-8 when it was read in wide mode).
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A scalar of an interpreter, not owned. A null view stands for no value:
// an undefined eval result or a missing variable.
class Value {
public:
    Value() noexcept = default;
    Value(MkInterpreter* interp, MkSv* sv) noexcept : interp_(interp), sv_(sv) {}

    explicit operator bool() const noexcept { return sv_ != nullptr; }
    MkSv* handle() const noexcept { return sv_; }

    std::string str() const { return detail::read_narrow(interp_, sv_); }
    std::u16string u16str() const { return detail::read_wide(interp_, sv_); }

    // Sets the string from host text; does nothing on a null view.
    void set(const std::string& text) const noexcept {
        if (sv_) MkSvSetPv(interp_, sv_, text.c_str());
    }
    void set(const std::u16string& text) const noexcept {
        if (sv_) MkSvSetPv(interp_, sv_, text.c_str());
    }

protected:
    MkInterpreter* interp_ = nullptr;
    MkSv* sv_ = nullptr;
};

// A value made by MkSvNew: owns its one reference until destroyed or stored.
class NewValue : public Value {
public:
    explicit NewValue(MkInterpreter* interp) noexcept : Value(interp, MkSvNew(interp)) {}
    ~NewValue() { drop(); }
    NewValue(NewValue&& other) noexcept : Value(other.interp_, std::exchange(other.sv_, nullptr)) {}
    NewValue& operator=(NewValue&& other) noexcept {
        if (this != &other) {
            drop();
            interp_ = other.interp_;
            sv_ = std::exchange(other.sv_, nullptr);
        }
        return *this;
    }
    NewValue(const NewValue&) = delete;
    NewValue& operator=(const NewValue&) = delete;

    // Gives up ownership without releasing; the caller takes the reference.
    MkSv* release() noexcept { return std::exchange(sv_, nullptr); }

private:
    void drop() noexcept {
        if (sv_) MkSvDeRef(interp_, std::exchange(sv_, nullptr));
    }
};

// A package hash. The C API only finds hashes; the handle is for hosts that
// pass it on.
class Hash {
public:
    Hash() noexcept = default;
    Hash(MkInterpreter* interp, MkHv* hv) noexcept : interp_(interp), hv_(hv) {}
    explicit operator bool() const noexcept { return hv_ != nullptr; }
    MkHv* handle() const noexcept { return hv_; }
    MkInterpreter* interpreter() const noexcept { return interp_; }

private:
    MkInterpreter* interp_ = nullptr;
    MkHv* hv_ = nullptr;
};

// An array of an interpreter, not owned. Every operation on a null view does
// nothing and returns its neutral result.
class Array {
public:
    Array() noexcept = default;
    Array(MkInterpreter* interp, MkAv* av) noexcept : interp_(interp), av_(av) {}

    explicit operator bool() const noexcept { return av_ != nullptr; }
    MkAv* handle() const noexcept { return av_; }

    std::int32_t size() const noexcept { return av_ ? MkAvLEN(interp_, av_) : 0; }
    // The element at `index` (negative counts from the end), lent by the
    // array; a null view when there is none.
    Value operator[](std::int32_t index) const noexcept {
        return av_ ? Value(interp_, MkSvFetchAV(interp_, av_, index)) : Value();
    }
    // Moves `value`'s reference into the array and empties `value`. Returns
    // false when nothing was stored (negative index, read-only array); then
    // `value` still owns its reference.
    bool store(std::int32_t index, NewValue& value) const noexcept {
        if (!av_ || !value || !MkStoreAv(interp_, av_, index, value.handle())) return false;
        value.release();
        return true;
    }
    void reserve(std::int32_t index) const noexcept {
        if (av_) MkExtendAv(interp_, av_, index);
    }
    void clear() const noexcept {
        if (av_) MkUndefAV(interp_, av_);
    }

private:
    MkInterpreter* interp_ = nullptr;
    MkAv* av_ = nullptr;
};

// One interpreter, destroyed with the object.
class Interpreter {
public:
    Interpreter() : interp_(MkCreateInterpreter()) {
        if (!interp_) throw std::bad_alloc();
    }
    ~Interpreter() { MkDestroyInterpreter(interp_); }
    Interpreter(Interpreter&& other) noexcept : interp_(std::exchange(other.interp_, nullptr)) {}
    Interpreter& operator=(Interpreter&& other) noexcept {
        if (this != &other) {
            MkDestroyInterpreter(interp_);
            interp_ = std::exchange(other.interp_, nullptr);
        }
        return *this;
    }
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    MkInterpreter* handle() const noexcept { return interp_; }

    // Evaluates narrow source in scalar context. Returns the value, a null
    // view for an undefined result, or throws Error with $@'s text.
    Value eval(const std::string& source) const {
        return checked(MkSvEval(interp_, source.c_str()), false);
    }
    // The same for UTF-16 source; call in wide mode.
    Value eval(const std::u16string& source) const {
        return checked(MkSvEval(interp_, source.c_str()), true);
    }
    // Evaluates the string a value holds (MkSvEvalSv, never converted).
    Value eval(const Value& code, bool wide = false) const {
        if (!code) throw std::invalid_argument("mokavi: eval of a null value");
        return checked(MkSvEvalSv(interp_, code.handle()), wide);
    }

    Value error() const noexcept { return Value(interp_, MkErrSv(interp_)); }
    Value os_error() const noexcept { return Value(interp_, MkCompErrSv(interp_)); }

    // Package variables by name (no sigil); `create` makes a missing one.
    Value scalar(const std::string& name, bool create = false) const noexcept {
        return Value(interp_, MkGetSV(interp_, name.c_str(), create ? 1 : 0));
    }
    Array array(const std::string& name, bool create = false) const noexcept {
        return Array(interp_, MkGetAV(interp_, name.c_str(), create ? 1 : 0));
    }
    Hash hash(const std::string& name, bool create = false) const noexcept {
        return Hash(interp_, MkGetHV(interp_, name.c_str(), create ? 1 : 0));
    }
    Value scalar(const std::u16string& name, bool create = false) const noexcept {
        return Value(interp_, MkGetSV(interp_, name.c_str(), create ? 1 : 0));
    }
    Array array(const std::u16string& name, bool create = false) const noexcept {
        return Array(interp_, MkGetAV(interp_, name.c_str(), create ? 1 : 0));
    }

    NewValue new_value() const noexcept { return NewValue(interp_); }

private:
    // A null result is an error only when $@ is true; otherwise it is undef.
    Value checked(MkSv* result, bool wide) const {
        if (result) return Value(interp_, result);
        const Value err = error();
        std::string message = wide ? detail::utf8_from_utf16(err.u16str()) : err.str();
        if (!message.empty() && message != "0") throw Error(message);
        return Value();
    }

    MkInterpreter* interp_;
};

}  // namespace mokavi

#endif  // MOKAVI_HPP
