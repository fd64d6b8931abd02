// The call conventions: argument parsing, conversions and error helpers.
#include "call.hpp"

#include <string>

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

Fail already_mutably_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return {};
}

Fail already_borrowed() noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return {};
}

Fail index_out_of_bounds() noexcept {
    PyErr_SetString(PyExc_IndexError, "Index out of bounds");
    return {};
}

Fail no_deleter() noexcept {
    PyErr_SetString(PyExc_AttributeError, "property has no deleter");
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

Fail panic_at(const char* file, int line, const char* message) noexcept {
    PyObject* type = fault_type();
    if (type == nullptr) return {};
    // The diagnostic must not clobber an error of its own: save nothing, since
    // no exception is pending when a fault is raised.
    PySys_FormatStderr("orvath: internal fault at %s:%d: %s\n", file, line, message);
    PyErr_SetString(type, message);
    return {};
}

}  // namespace err

PyObject* fault_type() noexcept {
    static std::atomic<PyObject*> cell{nullptr};
    static PyMutex mutex{};
    PyObject* t = cell.load(std::memory_order_acquire);
    if (t != nullptr) return t;
    PyMutex_Lock(&mutex);
    t = cell.load(std::memory_order_relaxed);
    if (t == nullptr) {
        t = PyErr_NewExceptionWithDoc(
            "orvath.OrvathFault",
            "Raised when orvath finds a broken internal invariant or a failed argument assertion.\n\n"
            "It derives from BaseException, so `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
        if (t != nullptr) cell.store(t, std::memory_order_release);
    }
    PyMutex_Unlock(&mutex);
    return t;
}

PyTypeObject* TypeCell::create() noexcept {
    PyMutex_Lock(&mutex_);
    PyTypeObject* t = type_.load(std::memory_order_relaxed);
    if (t == nullptr) {
        t = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(spec_));
        if (t != nullptr) type_.store(t, std::memory_order_release);
    }
    PyMutex_Unlock(&mutex_);
    return t;
}

// ---------------------------------------------------------------------------
// Argument parsing

bool init_param_names() noexcept {
    static std::atomic<bool> done{false};
    static PyMutex mutex{};
    if (done.load(std::memory_order_acquire)) return true;
    PyMutex_Lock(&mutex);
    bool ok = true;
    for (std::size_t i = 0; ok && i < surface::kParamNameCount; ++i) {
        if (g_param_names[i] == nullptr) {
            g_param_names[i] = PyUnicode_InternFromString(surface::kParamNames[i]);
            ok = g_param_names[i] != nullptr;
        }
    }
    if (ok) done.store(true, std::memory_order_release);
    PyMutex_Unlock(&mutex);
    return ok;
}

namespace {

PyObject* too_many_positional(const Signature& sig, Py_ssize_t given) noexcept {
    PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", sig.full_name,
                 int(sig.nparams), given, given == 1 ? "was" : "were");
    return nullptr;
}

// Index of the parameter called `key`, or -1. Interned names compare by
// pointer first; the text comparison catches names built at run time.
int find_param(const Signature& sig, PyObject* key) noexcept {
    for (int i = 0; i < sig.nparams; ++i)
        if (g_param_names[sig.params[i]] == key) return i;
    for (int i = 0; i < sig.nparams; ++i)
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, surface::kParamNames[sig.params[i]]))
            return i;
    return -1;
}

// Places one keyword argument; nullptr-with-error on a bad keyword.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** buf) noexcept {
    int i = find_param(sig, key);
    if (i < 0) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", sig.full_name, key);
        return false;
    }
    if (buf[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.full_name,
                     surface::kParamNames[sig.params[i]]);
        return false;
    }
    buf[i] = value;
    return true;
}

PyObject* const* check_missing(const Signature& sig, PyObject** buf) noexcept {
    int missing = 0;
    for (int i = 0; i < sig.nparams; ++i) missing += buf[i] == nullptr;
    if (missing == 0) return buf;
    std::string names;
    int seen = 0;
    for (int i = 0; i < sig.nparams; ++i) {
        if (buf[i] != nullptr) continue;
        if (seen > 0) {
            if (missing == 2) names += " and ";
            else if (seen == missing - 1) names += ", and ";
            else names += ", ";
        }
        names += '\'';
        names += surface::kParamNames[sig.params[i]];
        names += '\'';
        ++seen;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %d required positional %s: %s", sig.full_name, missing,
                 missing == 1 ? "argument" : "arguments", names.c_str());
    return nullptr;
}

}  // namespace

PyObject* const* parse_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** buf) noexcept {
    if (nargs > sig.nparams) return too_many_positional(sig, nargs), nullptr;
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
    if (nargs > sig.nparams) return too_many_positional(sig, nargs), nullptr;
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

}  // namespace orvath
