// The call conventions: argument parsing, conversions and error helpers.
#include "call.hpp"

#include <new>
#include <string>

#include "core/float_text.hpp"
#include "surface.hpp"

namespace orvath {

namespace {

PyObject* g_param_names[surface::kParamNameCount];

const char* type_qualname(PyObject* o, Ref& holder) noexcept {
    holder = Ref::steal(PyType_GetQualName(Py_TYPE(o)));
    const char* s = holder ? PyUnicode_AsUTF8(holder.get()) : nullptr;
    if (s == nullptr) {
        PyErr_Clear();
        return Py_TYPE(o)->tp_name;
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors

namespace err {

namespace {
Fail raise(PyObject* type, const char* message) noexcept {
    PyErr_SetString(type, message);
    return {};
}
}  // namespace

Fail already_mutably_borrowed() noexcept { return raise(PyExc_RuntimeError, "Already mutably borrowed"); }
Fail already_borrowed() noexcept { return raise(PyExc_RuntimeError, "Already borrowed"); }
Fail index_out_of_bounds() noexcept { return raise(PyExc_IndexError, "Index out of bounds"); }
Fail no_deleter() noexcept { return raise(PyExc_AttributeError, "property has no deleter"); }

Fail no_memory() noexcept {
    PyErr_NoMemory();
    return {};
}

Fail type_mismatch(PyObject* obj, const char* expected, const char* arg) noexcept {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "argument '%s': 'None' is not an instance of '%s'", arg, expected);
    } else {
        Ref holder;
        PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object is not an instance of '%s'", arg,
                     type_qualname(obj, holder), expected);
    }
    return {};
}

Fail argument(const char* arg) noexcept {
    PyObject* exc = PyErr_GetRaisedException();
    if (exc == nullptr || !Py_IS_TYPE(exc, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(exc);
        return {};
    }
    Ref old = Ref::steal(exc);
    Ref text = Ref::steal(PyObject_Str(exc));
    if (!text) return {};
    Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", arg, text.get()));
    if (!message) return {};
    Ref replacement = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) return {};
    PyException_SetCause(replacement.get(), PyException_GetCause(exc));
    PyErr_SetRaisedException(replacement.release());
    return {};
}

Fail too_many_positional(const Signature& sig, Py_ssize_t given) noexcept {
    PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", sig.full_name,
                 int(sig.nparams), given, given == 1 ? "was" : "were");
    return {};
}

Fail unexpected_keyword(const Signature& sig, PyObject* keyword) noexcept {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.full_name, keyword);
    return {};
}

Fail multiple_values(const Signature& sig, std::size_t param) noexcept {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.full_name, sig.name(param));
    return {};
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": every unfilled parameter in
// declaration order.
Fail missing(const Signature& sig, PyObject* const* filled) noexcept {
    int count = 0;
    for (int i = 0; i < sig.nparams; ++i) count += filled[i] == nullptr;
    std::string names;
    int seen = 0;
    for (int i = 0; i < sig.nparams; ++i) {
        if (filled[i] != nullptr) continue;
        if (seen > 0) {
            if (count == 2) names += " and ";
            else if (seen == count - 1) names += ", and ";
            else names += ", ";
        }
        names += '\'';
        names += sig.name(i);
        names += '\'';
        ++seen;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %d required positional %s: %s", sig.full_name, count,
                 count == 1 ? "argument" : "arguments", names.c_str());
    return {};
}

Fail panic_at(const char* file, int line, const char* message) noexcept {
    PyObject* type = fault_type();
    if (type == nullptr) return {};
    // The diagnostic must not clobber an error of its own: save nothing, since
    // no exception is pending when a fault is raised.
    PySys_FormatStderr("orvath: internal fault at %s:%d: %s\n", file, line, message);
    PyErr_SetString(type, message);
    return {};
}

Fail busy_operand(Where w) noexcept {
    return panic_at(w.file, w.line, "Already mutably borrowed: PyBorrowError");
}
Fail axis_out_of_range(Where w) noexcept { return panic_at(w.file, w.line, "assertion failed: axis <= 2"); }
Fail zero_stride(Where w) noexcept { return panic_at(w.file, w.line, "assertion failed: stride != 0"); }
Fail empty_list(Where w) noexcept {
    return panic_at(w.file, w.line, "called `Option::unwrap()` on a `None` value");
}
Fail chunk_failed(Where w) noexcept {
    return panic_at(w.file, w.line, "a bulk operation chunk failed; its partial output was discarded");
}
Fail indices_changed(Where w) noexcept {
    return panic_at(w.file, w.line, "the indices of take changed while they were read");
}
Fail pool_failed(Where w, const char* reason) noexcept { return panic_at(w.file, w.line, reason); }

// The error __all__ raised is replaced by the fault.
Fail not_published(Where w) noexcept {
    PyErr_Clear();
    return panic_at(w.file, w.line, "could not append __name__ to __all__");
}

Fail no_solution(const char* message) noexcept { return raise(PyExc_ValueError, message); }

Fail subinterpreter() noexcept {
    return raise(PyExc_ImportError,
                 "orvath does not support subinterpreters: it was already imported by another "
                 "interpreter of this process");
}

Fail str_items(const char* arg) noexcept {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return argument(arg);
}

void discard() noexcept { PyErr_Clear(); }

Fail not_writable() noexcept { return raise(PyExc_BufferError, "Object is not writable."); }

Fail not_fortran_contiguous() noexcept {
    return raise(PyExc_BufferError, "the elements are C-contiguous, not Fortran-contiguous");
}

// bytearray's own wording for the same conflict.
Fail existing_exports() noexcept {
    return raise(PyExc_BufferError, "Existing exports of data: object cannot be re-sized");
}

namespace {
// "(4, 2)", "(3,)", "()": a shape as Python writes the tuple.
std::string shape_text(int ndim, const Py_ssize_t* shape) {
    std::string text = "(";
    for (int i = 0; i < ndim; ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(shape[i]);
    }
    text += ndim == 1 ? ",)" : ")";
    return text;
}

// ValueError "expected {what}, got {shape}".
Fail wrong_shape(const char* what, int ndim, const Py_ssize_t* shape) noexcept {
    try {
        PyErr_Format(PyExc_ValueError, "expected %s, got %s", what, shape_text(ndim, shape).c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return {};
}
}  // namespace

Fail array_shape(int ndim, const Py_ssize_t* shape) noexcept {
    return wrong_shape("an array of shape (n, 3)", ndim, shape);
}

Fail array_format(const char* format, const char* arg) noexcept {
    PyErr_Format(PyExc_TypeError, "expected an array of real numbers, got format '%s'", format);
    return argument(arg);
}

Fail inconsistent_buffer(const char* what) noexcept {
    PyErr_Format(PyExc_BufferError, "inconsistent buffer: %s", what);
    return {};
}

Fail row_type(PyObject* row, std::size_t index, const char* arg) noexcept {
    Ref holder;
    PyErr_Format(PyExc_TypeError, "expected a sequence of length 3 at index %zu, got '%s' object", index,
                 type_qualname(row, holder));
    return argument(arg);
}

Fail row_length(std::size_t index, Py_ssize_t length) noexcept {
    PyErr_Format(PyExc_ValueError, "expected a sequence of length 3 at index %zu, got length %zd", index, length);
    return {};
}

Fail matrix_shape(Py_ssize_t row, Py_ssize_t length) noexcept {
    static constexpr char kShape[] = "expected a 3x3 matrix (three rows of three numbers), ";
    if (row < 0)
        PyErr_Format(PyExc_ValueError, "%sgot %zd %s", kShape, length, length == 1 ? "row" : "rows");
    else
        PyErr_Format(PyExc_ValueError, "%srow %zd has %zd %s", kShape, row, length, length == 1 ? "item" : "items");
    return {};
}

Fail matrix_row_type(PyObject* row, Py_ssize_t index, const char* arg) noexcept {
    if (row == Py_None) {
        PyErr_Format(PyExc_TypeError, "argument '%s': row %zd: 'None' is not an instance of 'Sequence'", arg, index);
    } else {
        Ref holder;
        PyErr_Format(PyExc_TypeError, "argument '%s': row %zd: '%s' object is not an instance of 'Sequence'", arg,
                     index, type_qualname(row, holder));
    }
    return {};
}

Fail not_a_rotation(double determinant) noexcept {
    char text[core::FLOAT_TEXT_MAX];
    const std::size_t n = core::format_double(determinant, text);
    PyErr_Format(PyExc_ValueError, "expected a rotation matrix (positive determinant), got a determinant of %.*s",
                 static_cast<int>(n), text);
    return {};
}

Fail list_length(std::size_t expected, std::size_t got) noexcept {
    PyErr_Format(PyExc_ValueError, "expected a VecList of length %zu, got %zu", expected, got);
    return {};
}

Fail index_out_of_range(const char* index, std::size_t position, std::size_t length) noexcept {
    PyErr_Format(PyExc_IndexError, "index %s at position %zu is out of range for a VecList of length %zu", index,
                 position, length);
    return {};
}

Fail negative_index(const char* index, std::size_t position) noexcept {
    PyErr_Format(PyExc_OverflowError, "index %s at position %zu is negative (can't convert negative int to unsigned)",
                 index, position);
    return {};
}

Fail index_shape(int ndim, const Py_ssize_t* shape) noexcept {
    return wrong_shape("a 1-D array of indices", ndim, shape);
}

Fail index_format(const char* format, const char* arg) noexcept {
    PyErr_Format(PyExc_TypeError, "expected an array of integers, got format '%s'", format);
    return argument(arg);
}

Fail unknown_class(PyObject* name) noexcept {
    PyErr_Format(PyExc_ValueError, "no class named %R can be restored", name);
    return {};
}

Fail state_size(const char* class_name, std::size_t bytes, bool multiple, Py_ssize_t got) noexcept {
    PyErr_Format(PyExc_ValueError, "the state of a %s is %s%zu bytes, got %zd", class_name,
                 multiple ? "a multiple of " : "", bytes, got);
    return {};
}

Fail empty_reduction(const char* what) noexcept {
    PyErr_Format(PyExc_ValueError, "%s of an empty VecList", what);
    return {};
}

}  // namespace err

PyObject* fault_type() noexcept {
    static OnceCell<PyObject> cell;
    return cell.get([] {
        return PyErr_NewExceptionWithDoc(
            "orvath.OrvathFault",
            "Raised when orvath finds a broken internal invariant or a failed argument assertion.\n\n"
            "It derives from BaseException, so `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
    });
}

PyTypeObject* TypeCell::create() noexcept {
    return cell_.get([this]() -> PyTypeObject* {
        Ref type = Ref::steal(PyType_FromSpec(spec_));
        if (!type || (finish_ && !finish_(reinterpret_cast<PyTypeObject*>(type.get())))) return nullptr;
        return reinterpret_cast<PyTypeObject*>(type.release());
    });
}

// ---------------------------------------------------------------------------
// Argument parsing

bool init_param_names() noexcept {
    static OnceCell<PyObject*> cell;
    return cell.get([]() -> PyObject** {
        for (std::size_t i = 0; i < surface::kParamNameCount; ++i) {
            if (g_param_names[i] == nullptr) {
                g_param_names[i] = PyUnicode_InternFromString(surface::kParamNames[i]);
                if (g_param_names[i] == nullptr) return nullptr;
            }
        }
        return g_param_names;
    }) != nullptr;
}

namespace {

// Index of the parameter called `key`, or -1. Interned names compare by
// pointer first; the text comparison catches names built at run time.
int find_param(const Signature& sig, PyObject* key) noexcept {
    for (int i = 0; i < sig.nparams; ++i)
        if (g_param_names[sig.params[i]] == key) return i;
    for (int i = 0; i < sig.nparams; ++i)
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, sig.name(i))) return i;
    return -1;
}

// Places one keyword argument; false with the TypeError set on a bad keyword.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** buf) noexcept {
    int i = find_param(sig, key);
    if (i < 0) return err::unexpected_keyword(sig, key);
    if (buf[i] != nullptr) return err::multiple_values(sig, static_cast<std::size_t>(i));
    buf[i] = value;
    return true;
}

PyObject* const* check_missing(const Signature& sig, PyObject** buf) noexcept {
    for (int i = 0; i < sig.nparams; ++i)
        if (buf[i] == nullptr) return err::missing(sig, buf);
    return buf;
}

}  // namespace

PyObject* const* parse_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** buf) noexcept {
    if (nargs > sig.nparams) return err::too_many_positional(sig, nargs);
    for (int i = 0; i < sig.nparams; ++i) buf[i] = i < nargs ? args[i] : nullptr;
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], buf)) return nullptr;
    }
    return check_missing(sig, buf);
}

PyObject* const* parse_tuple(const Signature& sig, PyObject* args, PyObject* kwargs,
                             PyObject** buf) noexcept {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > sig.nparams) return err::too_many_positional(sig, nargs);
    for (int i = 0; i < sig.nparams; ++i) buf[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!place_keyword(sig, key, value, buf)) return nullptr;
    }
    return check_missing(sig, buf);
}

// ---------------------------------------------------------------------------
// Conversions

bool to_u64(PyObject* o, std::uint64_t& out) noexcept {
    unsigned long long v;
    if (PyLong_Check(o)) {
        v = PyLong_AsUnsignedLongLong(o);
    } else {
        Ref index = Ref::steal(PyNumber_Index(o));
        if (!index) return false;
        v = PyLong_AsUnsignedLongLong(index.get());
    }
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool arg_bool(PyObject* o, const char* arg, bool& out) noexcept {
    if (o == Py_True || o == Py_False) {
        out = o == Py_True;
        return true;
    }
    PyTypeObject* type = Py_TYPE(o);
    Ref module = Ref::steal(PyType_GetModuleName(type));
    Ref name = Ref::steal(PyType_GetName(type));
    if (!module || !name) return err::argument(arg);
    if (PyUnicode_Check(module.get()) && PyUnicode_EqualToUTF8(module.get(), "numpy") &&
        (PyUnicode_EqualToUTF8(name.get(), "bool_") || PyUnicode_EqualToUTF8(name.get(), "bool"))) {
        inquiry truth = type->tp_as_number ? type->tp_as_number->nb_bool : nullptr;
        if (truth == nullptr) {
            Ref holder;
            PyErr_Format(PyExc_TypeError, "object of type '%s' does not define a '__bool__' conversion",
                         type_qualname(o, holder));
            return err::argument(arg);
        }
        int r = truth(o);
        if (r < 0) return err::argument(arg);
        out = r != 0;
        return true;
    }
    return err::type_mismatch(o, "bool", arg);
}

// ---------------------------------------------------------------------------
// Comparison and results

PyObject* not_equal(PyObject* self, PyObject* other) noexcept {
    Ref eq = Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
    if (!eq) return nullptr;
    const int truth = PyObject_IsTrue(eq.get());
    return truth < 0 ? nullptr : new_bool(!truth);
}

PyObject* float_list(const double* values, std::size_t n) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* f = new_float(values[i]);
        if (f == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), f);
    }
    return list.release();
}

}  // namespace orvath
