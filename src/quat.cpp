// The Python class Quat: a holder of one quaternion value. Methods read the
// value under the receiver's shared borrow and return new objects; only the
// four component setters change an instance.
#include "core/float_text.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// ---------------------------------------------------------------------------
// Object access

QuatObject* quat_obj(PyObject* self) noexcept { return as<QuatObject>(self); }

// Converts the four components in parameter order; the first failure is
// reported under its own name and stops the others from being examined.
bool quat_components(PyObject* const* args, core::Quat& out) noexcept {
    return arg_double(args[0], "w", out.w) && arg_double(args[1], "i", out.i) &&
           arg_double(args[2], "j", out.j) && arg_double(args[3], "k", out.k);
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

// ---------------------------------------------------------------------------
// Lifecycle: the tuple/dict form and the vectorcall form share every message.

PyObject* quat_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* buf[4];
    PyObject* const* a = parse_tuple(surface::quat_new, args, kwargs, buf);
    if (a == nullptr) return nullptr;
    core::Quat q;
    if (!quat_components(a, q)) return nullptr;
    return new_holder<QuatObject>(type, q);
}

PyObject* quat_vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                          PyObject* kwnames) noexcept {
    PyObject* buf[4];
    PyObject* const* a =
        parse_args(surface::quat_new, args, static_cast<Py_ssize_t>(nargsf), kwnames, buf);
    if (a == nullptr) return nullptr;
    core::Quat q;
    if (!quat_components(a, q)) return nullptr;
    return new_holder<QuatObject>(reinterpret_cast<PyTypeObject*>(type), q);
}

// ---------------------------------------------------------------------------
// Static methods

PyObject* quat_identity(PyObject*, PyObject*) noexcept { return new_quat(core::identity()); }

// The axis is checked before the angle; an AngleDegrees or a bare number is
// refused rather than guessed to be radians.
PyObject* quat_from_axis_angle(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    PyObject* buf[2];
    PyObject* const* a = parse_args(surface::quat_from_axis_angle, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    core::Vec3 axis;
    double angle;
    if (!arg_vec3(a[0], "axis", axis) || !arg_angle_radians(a[1], "angle", angle)) return nullptr;
    return new_quat(core::from_axis_angle(axis, angle));
}

// ---------------------------------------------------------------------------
// Methods. Each keeps the receiver's shared borrow until its result is built.

PyObject* quat_conjugate(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_quat(core::conjugate(obj->value));
}

PyObject* quat_is_unit(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_bool(core::is_unit(obj->value));
}

PyObject* quat_magnitude(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_float(core::magnitude(obj->value));
}

PyObject* quat_normalize(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_quat(core::normalize(obj->value));
}

PyObject* quat_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::quat_rotate, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    core::Vec3 v;
    if (!arg_vec3(a[0], "v", v)) return nullptr;
    return new_vec3d(core::rotate(obj->value, v));
}

PyObject* quat_to_axis_angle(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    const core::AxisAngle aa = core::to_axis_angle(obj->value);
    Ref axis = Ref::steal(new_vec3d(aa.axis));
    if (!axis) return nullptr;
    Ref angle = Ref::steal(new_angle_radians(aa.angle));
    if (!angle) return nullptr;
    return PyTuple_Pack(2, axis.get(), angle.get());
}

// A list with unfilled slots is safe to drop, so each row is placed as soon
// as it exists and an early return frees everything made so far.
PyObject* quat_to_rotation_matrix(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    const core::Mat3 m = core::to_rotation_matrix(obj->value);
    Ref rows = Ref::steal(PyList_New(3));
    if (!rows) return nullptr;
    for (Py_ssize_t r = 0; r < 3; ++r) {
        PyObject* row = PyList_New(3);
        if (row == nullptr) return nullptr;
        PyList_SET_ITEM(rows.get(), r, row);
        for (Py_ssize_t c = 0; c < 3; ++c) {
            PyObject* item = new_float(m[r][c]);
            if (item == nullptr) return nullptr;
            PyList_SET_ITEM(row, c, item);
        }
    }
    return rows.release();
}

PyObject* quat_to_vec3d(PyObject* self, PyObject*) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    const core::Vec3 v = core::to_vec3d(obj->value);
    return quat_float_triple(v.x, v.y, v.z);
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
    if (!is_instance(self, type)) Py_RETURN_NOTIMPLEMENTED;
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b || !is_instance(other, type)) Py_RETURN_NOTIMPLEMENTED;
    QuatObject* rhs = quat_obj(other);
    SharedBorrow rb(rhs->borrow);
    if (!rb) return ORVATH_PANIC("Already mutably borrowed: PyBorrowError");
    const core::Quat& p = obj->value;
    const core::Quat& q = rhs->value;
    if (op == Py_EQ) return new_bool(core::approx_eq(p, q));
    // != is the same four tests, each negated, not a second notion of equality.
    return new_bool(!(std::fabs(p.w - q.w) < core::EPSILON) || !(std::fabs(p.i - q.i) < core::EPSILON) ||
                    !(std::fabs(p.j - q.j) < core::EPSILON) || !(std::fabs(p.k - q.k) < core::EPSILON));
}

PyObject* quat_repr(PyObject* self) noexcept {
    QuatObject* obj = quat_obj(self);
    SharedBorrow b(obj->borrow);
    if (!b) return err::already_mutably_borrowed();
    const double parts[4] = {obj->value.w, obj->value.i, obj->value.j, obj->value.k};
    char text[sizeof("Quat()") + 4 * core::FLOAT_TEXT_MAX + 3 * 2];
    std::size_t n = 0;
    std::memcpy(text, "Quat(", 5);
    n += 5;
    for (int c = 0; c < 4; ++c) {
        if (c > 0) {
            text[n++] = ',';
            text[n++] = ' ';
        }
        n += core::format_double(parts[c], text + n);
    }
    text[n++] = ')';
    return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(n));
}

// ---------------------------------------------------------------------------
// Tables

PyMethodDef quat_methods[] = {
    {"from_axis_angle", method_cast<quat_from_axis_angle>(),
     METH_STATIC | METH_FASTCALL | METH_KEYWORDS, surface::quat_from_axis_angle_doc},
    {"identity", quat_identity, METH_STATIC | METH_NOARGS, surface::quat_identity_doc},
    {"conjugate", quat_conjugate, METH_NOARGS, surface::quat_conjugate_doc},
    {"is_unit", quat_is_unit, METH_NOARGS, surface::quat_is_unit_doc},
    {"magnitude", quat_magnitude, METH_NOARGS, surface::quat_magnitude_doc},
    {"normalize", quat_normalize, METH_NOARGS, surface::quat_normalize_doc},
    {"rotate", method_cast<quat_rotate>(),
     METH_FASTCALL | METH_KEYWORDS, surface::quat_rotate_doc},
    {"to_axis_angle", quat_to_axis_angle, METH_NOARGS, surface::quat_to_axis_angle_doc},
    {"to_rotation_matrix", quat_to_rotation_matrix, METH_NOARGS, surface::quat_to_rotation_matrix_doc},
    {"to_vec3d", quat_to_vec3d, METH_NOARGS, surface::quat_to_vec3d_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef quat_getset[] = {
    {"w", get_double<QuatObject, &core::Quat::w>, set_double<QuatObject, &core::Quat::w>, nullptr, nullptr},
    {"i", get_double<QuatObject, &core::Quat::i>, set_double<QuatObject, &core::Quat::i>, nullptr, nullptr},
    {"j", get_double<QuatObject, &core::Quat::j>, set_double<QuatObject, &core::Quat::j>, nullptr, nullptr},
    {"k", get_double<QuatObject, &core::Quat::k>, set_double<QuatObject, &core::Quat::k>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// No hash slot: with rich comparison defined the interpreter makes the class
// unhashable by itself.
PyType_Slot quat_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::quat_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<QuatObject>)},
    {Py_tp_new, reinterpret_cast<void*>(quat_new)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(quat_vectorcall)},
    {Py_tp_richcompare, reinterpret_cast<void*>(quat_richcompare)},
    {Py_tp_repr, reinterpret_cast<void*>(quat_repr)},
    {Py_tp_methods, quat_methods},
    {Py_tp_getset, quat_getset},
    {0, nullptr},
};

PyType_Spec quat_spec = {
    .name = "builtins.Quat",
    .basicsize = sizeof(QuatObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = quat_slots,
};

}  // namespace

TypeCell quat_cell{&quat_spec};

}  // namespace orvath
