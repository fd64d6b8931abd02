// How every orvath member is called: references, borrows, argument parsing,
// argument conversion and the errors they raise. Class files use these and
// never re-implement a rule.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "core/borrow.hpp"

namespace orvath {

// ---------------------------------------------------------------------------
// Owning reference. A new reference leaves a function only through release().
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return Ref(p); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept { Ref tmp(std::move(o)); std::swap(p_, tmp.p_); return *this; }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// Errors. Each helper sets the exception and returns the failure sentinel, so
// call sites read `return err::...;`.
namespace err {
struct Fail {
    operator PyObject*() const noexcept { return nullptr; }
    operator int() const noexcept { return -1; }
    operator bool() const noexcept { return false; }
};
Fail already_mutably_borrowed() noexcept;   // a shared borrow was refused
Fail already_borrowed() noexcept;           // the exclusive borrow was refused
Fail index_out_of_bounds() noexcept;
Fail no_deleter() noexcept;
// "'{type}' object is not an instance of '{expected}'", prefixed for `arg`.
Fail type_mismatch(PyObject* obj, const char* expected, const char* arg) noexcept;
// Argument-error rule: an exact TypeError becomes "argument '{arg}': {message}"
// with the same __cause__; any other error passes unchanged.
Fail argument(const char* arg) noexcept;
// The fault exception: one diagnostic line on stderr, then raised.
Fail panic_at(const char* file, int line, const char* message) noexcept;
}  // namespace err

#define ORVATH_PANIC(message) ::orvath::err::panic_at(__FILE__, __LINE__, (message))

// The class of the fault exception (created on first use); nullptr on failure.
PyObject* fault_type() noexcept;

// ---------------------------------------------------------------------------
// Borrows. With the interpreter lock every borrow is taken and released under
// it, so the word needs no locked instructions; free-threaded builds use CAS.
#ifdef Py_GIL_DISABLED
using BorrowWord = core::BasicBorrowWord<true>;
#else
using BorrowWord = core::BasicBorrowWord<false>;
#endif

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowWord& w) noexcept : w_(w.try_shared() ? &w : nullptr) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    ~SharedBorrow() { if (w_) w_->release_shared(); }
    explicit operator bool() const noexcept { return w_ != nullptr; }

private:
    BorrowWord* w_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowWord& w) noexcept : w_(w.try_exclusive() ? &w : nullptr) {}
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() { if (w_) w_->release_exclusive(); }
    explicit operator bool() const noexcept { return w_ != nullptr; }

private:
    BorrowWord* w_;
};

// ---------------------------------------------------------------------------
// Objects: the header, the value, the borrow word. Nothing else.
template <class V>
struct Holder {
    using Value = V;
    PyObject_HEAD
    V value;
    BorrowWord borrow;
};

template <class Obj>
inline Obj* as(PyObject* o) noexcept { return reinterpret_cast<Obj*>(o); }

// "Vec3d" for builtins.Vec3d: every orvath class is named builtins.<Class>.
inline const char* short_name(PyTypeObject* type) noexcept {
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot ? dot + 1 : type->tp_name;
}

// Every orvath class is final, so "an instance or a subclass instance" is the
// exact type: no MRO walk on the operator paths that try several operands.
inline bool is_instance(PyObject* o, PyTypeObject* type) noexcept { return Py_IS_TYPE(o, type); }

// Allocates an instance of a (non-GC, final) class holding `value`.
template <class Obj, class... A>
inline PyObject* new_holder(PyTypeObject* type, A&&... value) noexcept {
    if (type == nullptr) return nullptr;
    void* mem = PyObject_Malloc(sizeof(Obj));
    if (mem == nullptr) return PyErr_NoMemory();
    Obj* obj = static_cast<Obj*>(mem);
    PyObject_Init(reinterpret_cast<PyObject*>(obj), type);
    new (&obj->value) typename Obj::Value{std::forward<A>(value)...};
    new (&obj->borrow) BorrowWord();
    return reinterpret_cast<PyObject*>(obj);
}

template <class Obj>
void holder_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    using V = typename Obj::Value;
    as<Obj>(self)->value.~V();
    PyObject_Free(self);
    Py_DECREF(type);
}

// Once-created type object, kept for the life of the process. The getters
// are inline: every result object of a hot call asks for its type.
class TypeCell {
public:
    explicit constexpr TypeCell(PyType_Spec* type_spec) noexcept : spec_(type_spec) {}
    PyTypeObject* get() noexcept {
        PyTypeObject* t = type_.load(std::memory_order_acquire);
        return t ? t : create();
    }

private:
    PyTypeObject* create() noexcept;
    PyType_Spec* spec_;
    std::atomic<PyTypeObject*> type_{nullptr};
    PyMutex mutex_{};
};

// ---------------------------------------------------------------------------
// Argument parsing against a generated parameter list.
struct Signature {
    const char* full_name;          // "Vec3d.dot()"
    const std::uint16_t* params;    // indices into surface::kParamNames
    std::uint16_t nparams;
};

// Interns the parameter names; called once before any member can run.
bool init_param_names() noexcept;

PyObject* const* parse_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** buf) noexcept;

// Returns the arguments in parameter order (borrowed), or nullptr with a
// TypeError set. `buf` must hold sig.nparams pointers.
inline PyObject* const* parse_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                                   PyObject* kwnames, PyObject** buf) noexcept {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == sig.nparams) return args;
    return parse_slow(sig, args, nargs, kwnames, buf);
}

// The tuple/dict form used by constructors called through tp_new.
PyObject* const* parse_tuple(const Signature& sig, PyObject* args, PyObject* kwargs,
                             PyObject** buf) noexcept;

// ---------------------------------------------------------------------------
// Conversions. The to_* forms leave the interpreter's error as it is; the
// arg_* forms apply the argument-error rule for the named argument.

// Float rule.
inline bool to_double(PyObject* o, double& out) noexcept {
    if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

inline bool arg_double(PyObject* o, const char* arg, double& out) noexcept {
    return to_double(o, out) || err::argument(arg);
}

// Unsigned integer rule.
bool to_u64(PyObject* o, std::uint64_t& out) noexcept;

inline bool arg_u64(PyObject* o, const char* arg, std::uint64_t& out) noexcept {
    return to_u64(o, out) || err::argument(arg);
}

// Bool rule.
bool arg_bool(PyObject* o, const char* arg, bool& out) noexcept;

// Class-argument rule: the object must be an instance of `type`; its value is
// copied out under a shared borrow.
template <class Obj>
inline bool arg_value(PyObject* o, PyTypeObject* type, const char* arg,
                      typename Obj::Value& out) noexcept {
    if (!is_instance(o, type)) return err::type_mismatch(o, short_name(type), arg);
    Obj* obj = as<Obj>(o);
    if (!obj->borrow.try_shared()) return err::already_mutably_borrowed();
    out = obj->value;
    obj->borrow.release_shared();
    return true;
}

// Same without raising: false when `o` is not ours or cannot be read.
template <class Obj>
inline bool try_value(PyObject* o, PyTypeObject* type, typename Obj::Value& out) noexcept {
    if (!is_instance(o, type)) return false;
    Obj* obj = as<Obj>(o);
    if (!obj->borrow.try_shared()) return false;
    out = obj->value;
    obj->borrow.release_shared();
    return true;
}

// Class-argument rule for calls that convert further arguments afterwards:
// the shared borrow is kept until the guard dies, so Python code run by a
// later conversion (`__float__`, a bool's truth slot) cannot change an
// argument that has already been read.
template <class Obj>
class HeldArg {
public:
    HeldArg() noexcept = default;
    HeldArg(const HeldArg&) = delete;
    HeldArg& operator=(const HeldArg&) = delete;
    ~HeldArg() { if (obj_) obj_->borrow.release_shared(); }

    bool read(PyObject* o, PyTypeObject* type, const char* arg) noexcept {
        if (!is_instance(o, type)) return err::type_mismatch(o, short_name(type), arg);
        Obj* obj = as<Obj>(o);
        if (!obj->borrow.try_shared()) return err::already_mutably_borrowed();
        obj_ = obj;
        value = obj->value;
        return true;
    }

    typename Obj::Value value{};

private:
    Obj* obj_ = nullptr;
};

// ---------------------------------------------------------------------------
// Tables.
// PyMethodDef stores every calling convention behind one function pointer
// type, and PyType_Slot every slot behind void*.
template <auto F>
PyCFunction method_cast() noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

template <class F>
void* slot(F* f) noexcept {
    return reinterpret_cast<void*>(f);
}

// ---------------------------------------------------------------------------
// Results.
inline PyObject* new_float(double v) noexcept { return PyFloat_FromDouble(v); }
inline PyObject* new_bool(bool v) noexcept { return Py_NewRef(v ? Py_True : Py_False); }

// Properties holding a double field of the value (`Field` selects it).
template <class Obj, double Obj::Value::*Field>
PyObject* get_double(PyObject* self, void*) noexcept {
    Obj* obj = as<Obj>(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_float(obj->value.*Field);
}

template <class Obj, double Obj::Value::*Field>
int set_double(PyObject* self, PyObject* value, void*) noexcept {
    if (value == nullptr) return err::no_deleter();
    double v;
    if (!arg_double(value, "value", v)) return -1;
    Obj* obj = as<Obj>(self);
    ExclusiveBorrow b(obj->borrow);
    if (!b) return err::already_borrowed();
    obj->value.*Field = v;
    return 0;
}

}  // namespace orvath
