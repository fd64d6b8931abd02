// How every orvath member is called: references, once-created cells, borrows,
// argument parsing, argument conversion and the errors they raise. Class files
// use these and never re-implement a rule.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "core/borrow.hpp"
#include "core/float_text.hpp"
#include "signature.hpp"
#include "surface.hpp"

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
    // For C-API functions that hand back a new reference through a pointer:
    // drops what is held and returns the slot to fill.
    PyObject** out() noexcept {
        Py_CLEAR(p_);
        return &p_;
    }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// Errors. Each helper sets the exception and returns the failure sentinel, so
// call sites read `return err::...;`. Every fault text and every call that
// sets or clears the interpreter's error lives behind one of them (in
// call.cpp); all are cold, so the paths that reach them stay out of the way of
// the hot code.
namespace err {
struct Fail {
    // nullptr for object results and parsed-argument arrays.
    template <class T>
    operator T*() const noexcept { return nullptr; }
    operator bool() const noexcept { return false; }
    // -1 for the int, Py_ssize_t and Py_hash_t results of slots.
    template <std::signed_integral I>
    operator I() const noexcept { return -1; }
};
// Where a fault was found, for its diagnostic line (ORVATH_HERE).
struct Where {
    const char* file;
    int line;
};
#define ORVATH_HERE (::orvath::err::Where{__FILE__, __LINE__})

[[gnu::cold]] Fail already_mutably_borrowed() noexcept;   // a shared borrow was refused
[[gnu::cold]] Fail already_borrowed() noexcept;           // the exclusive borrow was refused
[[gnu::cold]] Fail index_out_of_bounds() noexcept;
[[gnu::cold]] Fail no_deleter() noexcept;
[[gnu::cold]] Fail no_memory() noexcept;
// "'{type}' object is not an instance of '{expected}'", prefixed for `arg`.
[[gnu::cold]] Fail type_mismatch(PyObject* obj, const char* expected, const char* arg) noexcept;
// Argument-error rule: an exact TypeError becomes "argument '{arg}': {message}"
// with the same __cause__; any other error passes unchanged.
[[gnu::cold]] Fail argument(const char* arg) noexcept;
// The arity errors of argument parsing.
[[gnu::cold]] Fail too_many_positional(const Signature& sig, Py_ssize_t given) noexcept;
[[gnu::cold]] Fail unexpected_keyword(const Signature& sig, PyObject* keyword) noexcept;
[[gnu::cold]] Fail multiple_values(const Signature& sig, std::size_t param) noexcept;
[[gnu::cold]] Fail missing(const Signature& sig, PyObject* const* filled) noexcept;
// The fault exception: one diagnostic line on stderr, then raised.
[[gnu::cold]] Fail panic_at(const char* file, int line, const char* message) noexcept;
// The faults by name.
[[gnu::cold]] Fail busy_operand(Where where) noexcept;       // a compared operand is being written
[[gnu::cold]] Fail axis_out_of_range(Where where) noexcept;  // collapse's axis above 2
[[gnu::cold]] Fail zero_stride(Where where) noexcept;
[[gnu::cold]] Fail empty_list(Where where) noexcept;         // minimum_distance_to of no elements
[[gnu::cold]] Fail chunk_failed(Where where) noexcept;       // a bulk operation's chunk threw
[[gnu::cold]] Fail indices_changed(Where where) noexcept;    // take's index array was rewritten meanwhile
[[gnu::cold]] Fail pool_failed(Where where, const char* reason) noexcept;
[[gnu::cold]] Fail not_published(Where where) noexcept;      // __all__ refused a name
// Errors of the geometry, with the core's message.
[[gnu::cold]] Fail no_solution(const char* message) noexcept;
// A second interpreter importing the module.
[[gnu::cold]] Fail subinterpreter() noexcept;
// The constructor of VecList given a str (prefixed for `arg`).
[[gnu::cold]] Fail str_items(const char* arg) noexcept;
// Drops the pending error: a size hint, a conversion tried and not taken.
void discard() noexcept;

// Buffers: a list's exported views, arrays read by VecList.from_array, and
// pickled state.
[[gnu::cold]] Fail not_writable() noexcept;                // a writable view was requested
[[gnu::cold]] Fail not_fortran_contiguous() noexcept;      // a column-major view was requested
[[gnu::cold]] Fail existing_exports() noexcept;            // a resize while views are alive
// ValueError "expected an array of shape (n, 3), got (4, 2)"; `shape` holds
// ndim entries.
[[gnu::cold]] Fail array_shape(int ndim, const Py_ssize_t* shape) noexcept;
// TypeError naming the format, prefixed for `arg`.
[[gnu::cold]] Fail array_format(const char* format, const char* arg) noexcept;
// BufferError for an exporter whose description contradicts itself.
[[gnu::cold]] Fail inconsistent_buffer(const char* what) noexcept;
// Row `index` of a sequence of rows: not a sequence (TypeError, prefixed for
// `arg`), or not of length 3 (ValueError).
[[gnu::cold]] Fail row_type(PyObject* row, std::size_t index, const char* arg) noexcept;
[[gnu::cold]] Fail row_length(std::size_t index, Py_ssize_t length) noexcept;
// A 3x3 matrix argument of another shape (ValueError naming it: the number of
// rows when `row` is negative, else the length of that row), or whose row is
// not a sequence (TypeError, prefixed for `arg`).
[[gnu::cold]] Fail matrix_shape(Py_ssize_t row, Py_ssize_t length) noexcept;
[[gnu::cold]] Fail matrix_row_type(PyObject* row, Py_ssize_t index, const char* arg) noexcept;
// ValueError for a 3x3 matrix whose determinant is not positive (a mirror or
// a singular matrix), naming the determinant.
[[gnu::cold]] Fail not_a_rotation(double determinant) noexcept;
// Whole-list arguments: a VecList of another length than the receiver's
// (ValueError), and an index of take outside [0, length), given as its text
// with its position: IndexError, or OverflowError for a negative one as the
// unsigned integer rule gives; an index array of another shape (ValueError)
// or of a format that is not an integer (TypeError, prefixed for `arg`).
[[gnu::cold]] Fail list_length(std::size_t expected, std::size_t got) noexcept;
[[gnu::cold]] Fail index_out_of_range(const char* index, std::size_t position, std::size_t length) noexcept;
[[gnu::cold]] Fail negative_index(const char* index, std::size_t position) noexcept;
[[gnu::cold]] Fail index_shape(int ndim, const Py_ssize_t* shape) noexcept;
[[gnu::cold]] Fail index_format(const char* format, const char* arg) noexcept;
// ValueError for pickled state: a class name that is not ours, a block of
// the wrong size.
[[gnu::cold]] Fail unknown_class(PyObject* name) noexcept;
[[gnu::cold]] Fail state_size(const char* class_name, std::size_t bytes, bool multiple, Py_ssize_t got) noexcept;
// ValueError "{what} of an empty VecList": a reduction with no value for no
// elements ("mean", "bounds").
[[gnu::cold]] Fail empty_reduction(const char* what) noexcept;
}  // namespace err

// The class of the fault exception (created on first use); nullptr on failure.
PyObject* fault_type() noexcept;

// ---------------------------------------------------------------------------
// Once-created, process-wide values (type objects, looked-up callables).
// Every thread sees the same object; a failed creation is retried on the next
// call. make() runs under the cell's lock and reports failure as nullptr with
// a Python error set.
template <class T>
class OnceCell {
public:
    T* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    template <class Make>
    T* get(Make&& make) noexcept {
        if (T* v = peek()) return v;
        PyMutex_Lock(&mutex_);
        T* v = value_.load(std::memory_order_relaxed);
        if (v == nullptr) {
            v = make();
            if (v != nullptr) value_.store(v, std::memory_order_release);
        }
        PyMutex_Unlock(&mutex_);
        return v;
    }

private:
    std::atomic<T*> value_{nullptr};
    PyMutex mutex_{};
};

// A class's type object, created from its PyType_Spec on first need. get() is inline:
// every result object of a hot call asks for its type.
// `finish`, if given, completes a new type before anyone sees it (class
// attributes a PyType_Spec cannot hold); false from it, with an error set,
// fails the creation.
class TypeCell {
public:
    explicit constexpr TypeCell(PyType_Spec* type_spec, bool (*finish)(PyTypeObject*) noexcept = nullptr) noexcept
        : spec_(type_spec), finish_(finish) {}
    PyTypeObject* get() noexcept {
        PyTypeObject* t = cell_.peek();
        return t ? t : create();
    }

private:
    PyTypeObject* create() noexcept;
    PyType_Spec* spec_;
    bool (*finish_)(PyTypeObject*) noexcept;
    OnceCell<PyTypeObject> cell_;
};

// ---------------------------------------------------------------------------
// Borrows. With the interpreter lock every borrow is taken and released under
// it, so the word needs no locked instructions; free-threaded builds use CAS.
#ifdef Py_GIL_DISABLED
using BorrowWord = core::BasicBorrowWord<true>;
#else
using BorrowWord = core::BasicBorrowWord<false>;
#endif

// A borrow held for the guard's lifetime; false when the word refused it,
// and refused() then raises the error for that.
template <bool (BorrowWord::*Take)() noexcept, void (BorrowWord::*Release)() noexcept, err::Fail (*Refused)() noexcept>
class BorrowGuard {
public:
    static err::Fail refused() noexcept { return Refused(); }
    explicit BorrowGuard(BorrowWord& w) noexcept : w_((w.*Take)() ? &w : nullptr) {}
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;
    ~BorrowGuard() { if (w_) (w_->*Release)(); }
    explicit operator bool() const noexcept { return w_ != nullptr; }

private:
    BorrowWord* w_;
};

using SharedBorrow = BorrowGuard<&BorrowWord::try_shared, &BorrowWord::release_shared, err::already_mutably_borrowed>;
using ExclusiveBorrow =
    BorrowGuard<&BorrowWord::try_exclusive, &BorrowWord::release_exclusive, err::already_borrowed>;

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

// Runs fn(value) under the receiver's borrow of kind Guard, which spans the
// whole computation and the building of the result.
template <class Guard, class Obj, class Fn>
inline auto borrowed(PyObject* self, Fn&& fn) noexcept {
    Obj* obj = as<Obj>(self);
    Guard borrow(obj->borrow);
    using R = decltype(fn(obj->value));
    if (!borrow) return static_cast<R>(Guard::refused());
    return fn(obj->value);
}

// The members that read an object, and those that change it.
template <class Obj, class Fn>
inline auto read(PyObject* self, Fn&& fn) noexcept {
    return borrowed<SharedBorrow, Obj>(self, fn);
}

template <class Obj, class Fn>
inline auto write(PyObject* self, Fn&& fn) noexcept {
    return borrowed<ExclusiveBorrow, Obj>(self, fn);
}

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
    if (mem == nullptr) return err::no_memory();
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

// ---------------------------------------------------------------------------
// Argument parsing against a generated parameter list.

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

// A method with parameters: parse, then fn(value, args) under the receiver's
// borrow of kind Guard, which is taken before any argument is converted.
template <class Guard, class Obj, class Fn>
inline PyObject* borrowed_with(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, Fn&& fn) noexcept {
    PyObject* buf[surface::kMaxParams];
    PyObject* const* a = parse_args(sig, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    return borrowed<Guard, Obj>(self, [&](auto& value) -> PyObject* { return fn(value, a); });
}

template <class Obj, class Fn>
inline PyObject* read_with(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, Fn&& fn) noexcept {
    return borrowed_with<SharedBorrow, Obj>(self, sig, args, nargs, kwnames, fn);
}

template <class Obj, class Fn>
inline PyObject* write_with(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, Fn&& fn) noexcept {
    return borrowed_with<ExclusiveBorrow, Obj>(self, sig, args, nargs, kwnames, fn);
}

// A function or static method with parameters: parse, then fn(args).
template <class Fn>
inline PyObject* call_with(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           Fn&& fn) noexcept {
    PyObject* buf[surface::kMaxParams];
    PyObject* const* a = parse_args(sig, args, nargs, kwnames, buf);
    return a ? fn(a) : nullptr;
}

// A class's constructor as the pair its type needs: tp_new serves
// Cls.__new__(Cls, ...) and calls with a tuple, the vectorcall form serves the
// ordinary Cls(...) without building one. Both parse against Sig with the same
// messages; Make(type, args) converts the arguments in parameter order and
// builds the instance.
template <const Signature& Sig, PyObject* (*Make)(PyTypeObject*, PyObject* const*) noexcept>
struct Constructor {
    static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
        PyObject* buf[surface::kMaxParams];
        PyObject* const* a = parse_tuple(Sig, args, kwargs, buf);
        return a ? Make(type, a) : nullptr;
    }
    static PyObject* vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                                PyObject* kwnames) noexcept {
        PyObject* buf[surface::kMaxParams];
        PyObject* const* a = parse_args(Sig, args, static_cast<Py_ssize_t>(nargsf), kwnames, buf);
        return a ? Make(reinterpret_cast<PyTypeObject*>(type), a) : nullptr;
    }
};

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

// The one copy of a value out of an instance: Copied, NotOurs (another type)
// or Busy (its shared borrow was refused).
enum class Copy { Copied, NotOurs, Busy };

template <class Obj>
inline Copy copy_value(PyObject* o, PyTypeObject* type, typename Obj::Value& out) noexcept {
    if (!is_instance(o, type)) return Copy::NotOurs;
    Obj* obj = as<Obj>(o);
    if (!obj->borrow.try_shared()) return Copy::Busy;
    out = obj->value;
    obj->borrow.release_shared();
    return Copy::Copied;
}

// Class-argument rule: the object must be an instance of `type`; its value is
// copied out under a shared borrow.
template <class Obj>
inline bool arg_value(PyObject* o, PyTypeObject* type, const char* arg,
                      typename Obj::Value& out) noexcept {
    switch (copy_value<Obj>(o, type, out)) {
        case Copy::Copied: return true;
        case Copy::NotOurs: return err::type_mismatch(o, short_name(type), arg);
        case Copy::Busy: break;
    }
    return err::already_mutably_borrowed();
}

// Class-argument rule for the calls that hold their arguments: the shared
// borrow is kept until the guard dies, after the result is built, so Python
// code run by a later conversion (`__float__`, a bool's truth slot) cannot
// change an argument that has already been read.
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
        return true;
    }

    // Valid after a successful read.
    const typename Obj::Value& value() const noexcept { return obj_->value; }

private:
    Obj* obj_ = nullptr;
};

// A buffer view of another object, released when the guard dies (the
// exporter's release runs on every path, success or failure).
class BufferView {
public:
    BufferView() noexcept = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() { if (held_) PyBuffer_Release(&view_); }

    // False with the exporter's error set (a TypeError for a non-exporter).
    bool get(PyObject* o, int flags) noexcept {
        held_ = PyObject_GetBuffer(o, &view_, flags) == 0;
        return held_;
    }
    const Py_buffer& operator*() const noexcept { return view_; }
    const Py_buffer* operator->() const noexcept { return &view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// ---------------------------------------------------------------------------
// Operators and comparison.

// Binary operators never raise an argument error: an operand they do not take,
// one that cannot be borrowed, or one whose conversion raised yields
// NotImplemented, and that conversion's error is dropped, so the interpreter
// can try the other side and finally raise its own TypeError. Each reading of
// an operand has three outcomes, as the interpreter's float has them:
// converted (fn runs and its result, or its error, is the answer), not ours
// (NotImplemented), or an error from fn once every operand converted.
// declined() answers it where no error can be pending.
inline PyObject* declined() noexcept { Py_RETURN_NOTIMPLEMENTED; }

// The same after a conversion (or the creation of a type) that raised.
inline PyObject* not_implemented() noexcept {
    err::discard();
    return declined();
}

// fn(value) of an instance of `type` under its shared borrow, which lasts
// while fn converts further operands and builds the result. A null `type`
// is one whose creation failed.
template <class Obj, class Fn>
inline PyObject* with_instance(PyObject* o, PyTypeObject* type, Fn&& fn) noexcept {
    if (!is_instance(o, type)) return type ? declined() : not_implemented();
    Obj* obj = as<Obj>(o);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return declined();
    return fn(obj->value);
}

// fn(number) of an operand read through the float rule.
template <class Fn>
inline PyObject* with_number(PyObject* o, Fn&& fn) noexcept {
    double v;
    return to_double(o, v) ? fn(v) : not_implemented();
}

// The answer of one reading, or, when it was NotImplemented, that of the next.
template <class Fn>
inline PyObject* or_else(PyObject* answer, Fn&& next) noexcept {
    if (answer != Py_NotImplemented) return answer;
    Py_DECREF(answer);
    return next();
}

// A comparison of two instances of `type`: fn(a, b) on copies of both values;
// NotImplemented when `self` cannot be read or `other` is not ours. A busy
// `other` is a fault (found at `where`): a write is in flight, which no
// comparison can answer honestly.
template <class Obj, class Fn>
inline PyObject* compare(PyObject* self, PyObject* other, PyTypeObject* type, err::Where where, Fn&& fn) noexcept {
    typename Obj::Value a, b;
    if (copy_value<Obj>(self, type, a) != Copy::Copied) Py_RETURN_NOTIMPLEMENTED;
    switch (copy_value<Obj>(other, type, b)) {
        case Copy::Copied: return fn(a, b);
        case Copy::NotOurs: Py_RETURN_NOTIMPLEMENTED;
        case Copy::Busy: break;
    }
    return err::busy_operand(where);
}

// `!=` of the classes that have no rule of their own for it: the negated truth
// of `==` through the whole protocol, so a foreign operand falls back to
// identity like any other object and the two answers always agree.
PyObject* not_equal(PyObject* self, PyObject* other) noexcept;

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
inline PyObject* new_index(std::uint64_t v) noexcept { return PyLong_FromUnsignedLongLong(v); }

// A new list of floats.
PyObject* float_list(const double* values, std::size_t n) noexcept;

// The text "Name(a, b, c)" of a repr.
template <std::size_t L, std::size_t N>
inline PyObject* call_text(const char (&name)[L], const double (&values)[N]) noexcept {
    char text[core::call_text_max(L - 1, N)];
    const std::size_t n = core::format_call(name, L - 1, values, N, text);
    return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(n));
}

}  // namespace orvath
