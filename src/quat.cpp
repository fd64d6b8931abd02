// The Python class Quat: a holder of one quaternion value. Methods read the
// value under the receiver's shared borrow and return new objects; only the
// four component setters change an instance.
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// ---------------------------------------------------------------------------
// Object access

template <class Fn>
auto quat_read(PyObject* self, Fn fn) noexcept {
    return read<QuatObject>(self, fn);
}

// Tuples are built from owned items, so an allocation failure part-way
// releases what was made.
PyObject* quat_float_triple(double a, double b, double c) noexcept {
    Ref x = Ref::steal(new_float(a));
    Ref y = Ref::steal(new_float(b));
    Ref z = Ref::steal(new_float(c));
    if (!x || !y || !z) return nullptr;
    return PyTuple_Pack(3, x.get(), y.get(), z.get());
}

// The shape checks of a matrix argument, with their messages.
bool quat_matrix_len(PyObject* seq, Py_ssize_t row, const char* arg) noexcept {
    const Py_ssize_t n = PySequence_Size(seq);
    if (n < 0) return err::argument(arg);
    return n == 3 || err::matrix_shape(row, n);
}

bool quat_matrix_row_type(PyObject* row, Py_ssize_t r, const char* arg) noexcept {
    return PySequence_Check(row) || err::matrix_row_type(row, r, arg);
}

// The common case, a list or tuple of three lists or tuples of exact floats
// (such as the rows that to_rotation_matrix returns), read without running
// any Python code. False, with no error set, sends everything else down the
// general path, which reads the matrix again from the start and words any
// failure. Lists are read inside their critical sections, so a free-threaded
// writer cannot resize one under the read; a row is kept by a reference of
// its own while it is read, and its floats by the row.
bool quat_exact_floats(PyObject* const* items, double* out) noexcept {
    for (int c = 0; c < 3; ++c) {
        if (!PyFloat_CheckExact(items[c])) return false;
        out[c] = PyFloat_AS_DOUBLE(items[c]);
    }
    return true;
}

bool quat_exact_row(PyObject* row, double* out) noexcept {
    bool ok = false;
    if (PyTuple_CheckExact(row)) {
        ok = PyTuple_GET_SIZE(row) == 3 && quat_exact_floats(&PyTuple_GET_ITEM(row, 0), out);
    } else if (PyList_CheckExact(row)) {
        Py_BEGIN_CRITICAL_SECTION(row);
        ok = PyList_GET_SIZE(row) == 3 && quat_exact_floats(&PyList_GET_ITEM(row, 0), out);
        Py_END_CRITICAL_SECTION();
    }
    return ok;
}

bool quat_matrix_exact(PyObject* m, core::Mat3& out) noexcept {
    Ref rows[3];
    bool ok = false;
    if (PyTuple_CheckExact(m)) {
        ok = PyTuple_GET_SIZE(m) == 3;
        for (Py_ssize_t r = 0; ok && r < 3; ++r) rows[r] = Ref::borrow(PyTuple_GET_ITEM(m, r));
    } else if (PyList_CheckExact(m)) {
        Py_BEGIN_CRITICAL_SECTION(m);
        ok = PyList_GET_SIZE(m) == 3;
        for (Py_ssize_t r = 0; ok && r < 3; ++r) rows[r] = Ref::borrow(PyList_GET_ITEM(m, r));
        Py_END_CRITICAL_SECTION();
    }
    return ok && quat_exact_row(rows[0].get(), out[0].data()) && quat_exact_row(rows[1].get(), out[1].data()) &&
           quat_exact_row(rows[2].get(), out[2].data());
}

// A 3x3 matrix argument is any sequence of three sequences of three numbers
// (lists, tuples, a numpy array). The whole shape is checked before any
// element is converted, and each row and element is held by its own
// reference while it is used: __len__, __getitem__ and an element's
// __float__ may run Python code that changes the sequences, which can then
// change what is read but never free it. The message names the shape found.
bool quat_matrix(PyObject* m, const char* arg, core::Mat3& out) noexcept {
    if (quat_matrix_exact(m, out)) return true;
    if (!PySequence_Check(m)) return err::type_mismatch(m, "Sequence", arg);
    if (!quat_matrix_len(m, -1, arg)) return false;
    Ref rows[3];
    for (Py_ssize_t r = 0; r < 3; ++r) {
        rows[r] = Ref::steal(PySequence_GetItem(m, r));
        if (!rows[r]) return err::argument(arg);
    }
    Ref items[3][3];
    for (Py_ssize_t r = 0; r < 3; ++r) {
        PyObject* row = rows[r].get();
        if (!quat_matrix_row_type(row, r, arg) || !quat_matrix_len(row, r, arg)) return false;
        for (Py_ssize_t c = 0; c < 3; ++c) {
            items[r][c] = Ref::steal(PySequence_GetItem(row, c));
            if (!items[r][c]) return err::argument(arg);
        }
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (!arg_double(items[r][c].get(), arg, out[r][c])) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Lifecycle

// The four components in parameter order; the first failure is reported
// under its own name and stops the others from being examined.
PyObject* quat_make(PyTypeObject* type, PyObject* const* a) noexcept {
    const Signature& sig = surface::quat_new;
    core::Quat q;
    if (!arg_double(a[0], sig.name(0), q.w) || !arg_double(a[1], sig.name(1), q.i) ||
        !arg_double(a[2], sig.name(2), q.j) || !arg_double(a[3], sig.name(3), q.k))
        return nullptr;
    return new_holder<QuatObject>(type, q);
}

// ---------------------------------------------------------------------------
// Members that need more than a binder row: a matrix argument, results of
// several objects.

PyObject* quat_from_rotation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept {
    const Signature& sig = surface::quat_from_rotation_matrix;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        core::Mat3 m;
        if (!quat_matrix(a[0], sig.name(0), m)) return nullptr;
        const double det = core::determinant(m);
        if (det <= 0.0) return err::not_a_rotation(det);
        return new_quat(core::from_rotation_matrix(m));
    });
}

PyObject* quat_to_axis_angle(PyObject* self, PyObject*) noexcept {
    return quat_read(self, [](const core::Quat& q) -> PyObject* {
        const core::AxisAngle aa = core::to_axis_angle(q);
        Ref axis = Ref::steal(new_vec3d(aa.axis));
        if (!axis) return nullptr;
        Ref angle = Ref::steal(new_angle_radians(aa.angle));
        if (!angle) return nullptr;
        return PyTuple_Pack(2, axis.get(), angle.get());
    });
}

// A list with unfilled slots is safe to drop, so each row is placed as soon
// as it exists and an early return frees everything made so far.
PyObject* quat_to_rotation_matrix(PyObject* self, PyObject*) noexcept {
    return quat_read(self, [](const core::Quat& q) -> PyObject* {
        const core::Mat3 m = core::to_rotation_matrix(q);
        Ref rows = Ref::steal(PyList_New(3));
        if (!rows) return nullptr;
        for (Py_ssize_t r = 0; r < 3; ++r) {
            PyObject* row = float_list(m[r].data(), 3);
            if (row == nullptr) return nullptr;
            PyList_SET_ITEM(rows.get(), r, row);
        }
        return rows.release();
    });
}

PyObject* quat_to_vec3d(PyObject* self, PyObject*) noexcept {
    return quat_read(self, [](const core::Quat& q) {
        const core::Vec3 v = core::to_vec3d(q);
        return quat_float_triple(v.x, v.y, v.z);
    });
}

// ---------------------------------------------------------------------------
// Slots

// Only == and != exist. The other operand, once known to be a Quat, is read
// without a fallback: an exclusive borrow on it at this point means a write is
// in flight, which no comparison can answer honestly.
PyObject* quat_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    PyTypeObject* type = quat_type();
    if (type == nullptr) return nullptr;
    return compare<QuatObject>(self, other, type, ORVATH_HERE, [op](const core::Quat& p, const core::Quat& q) {
        if (op == Py_EQ) return new_bool(core::approx_eq(p, q));
        // != is the same four tests, each negated, not a second notion of equality.
        return new_bool(!(std::fabs(p.w - q.w) < core::EPSILON) || !(std::fabs(p.i - q.i) < core::EPSILON) ||
                        !(std::fabs(p.j - q.j) < core::EPSILON) || !(std::fabs(p.k - q.k) < core::EPSILON));
    });
}

PyObject* quat_repr(PyObject* self) noexcept {
    return quat_read(self, [](const core::Quat& q) {
        const double parts[4] = {q.w, q.i, q.j, q.k};
        return call_text("Quat", parts);
    });
}

// ---------------------------------------------------------------------------
// Tables

// No hash slot: with rich comparison defined the interpreter makes the class
// unhashable by itself.
ORVATH_QUAT_TABLES

}  // namespace

TypeCell quat_cell{&quat_spec};

}  // namespace orvath
