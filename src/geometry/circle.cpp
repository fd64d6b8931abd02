// orvath.geometry.Circle: a circle lying in a plane of space. The constructor
// stores |radius| and a normalised normal; the setters store what they are
// given. Equal within tolerance, unordered and unhashable.
#include "core/circle.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

CircleObject* circle_obj(PyObject* self) noexcept { return as<CircleObject>(self); }

// ---------------------------------------------------------------------------
// Lifecycle

PyObject* circle_make(PyTypeObject* type, PyObject* const* args) noexcept {
    HeldArg<Vec3dObject> center;
    if (!center.read(args[0], vec3d_type(), "center")) return nullptr;
    double radius;
    if (!arg_double(args[1], "radius", radius)) return nullptr;
    HeldArg<Vec3dObject> normal;
    if (!normal.read(args[2], vec3d_type(), "normal")) return nullptr;
    return new_holder<CircleObject>(type, core::make_circle(center.value, radius, normal.value));
}

PyObject* circle_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* buf[3];
    PyObject* const* a = parse_tuple(surface::circle_new, args, kwargs, buf);
    return a ? circle_make(type, a) : nullptr;
}

PyObject* circle_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) noexcept {
    PyObject* buf[3];
    PyObject* const* a = parse_args(surface::circle_new, args, static_cast<Py_ssize_t>(nargsf), kwnames, buf);
    return a ? circle_make(reinterpret_cast<PyTypeObject*>(type), a) : nullptr;
}

// ---------------------------------------------------------------------------
// Methods

PyObject* circle_none(PyObject*, PyObject*) noexcept { return new_circle(core::circle_none()); }

PyObject* circle_get_plane(PyObject* self, PyObject*) noexcept {
    SharedBorrow b(circle_obj(self)->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_plane(core::get_plane(circle_obj(self)->value));
}

PyObject* circle_is_degenerate(PyObject* self, PyObject*) noexcept {
    SharedBorrow b(circle_obj(self)->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_bool(core::is_degenerate(circle_obj(self)->value));
}

PyObject* circle_in_same_plane(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::circle_in_same_plane, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    SharedBorrow b(circle_obj(self)->borrow);
    if (!b) return err::already_mutably_borrowed();
    HeldArg<CircleObject> other;
    if (!other.read(a[0], circle_type(), "other")) return nullptr;
    return new_bool(core::in_same_plane(circle_obj(self)->value, other.value));
}

// ---------------------------------------------------------------------------
// Properties

PyObject* circle_get_area(PyObject* self, void*) noexcept {
    SharedBorrow b(circle_obj(self)->borrow);
    if (!b) return err::already_mutably_borrowed();
    return new_float(core::area(circle_obj(self)->value));
}

// ---------------------------------------------------------------------------
// Slots

// `==` answers NotImplemented unless both sides are readable circles, so a
// foreign or busy operand falls back to the interpreter's identity rule. `!=`
// is the negation of that whole protocol rather than of this slot alone, which
// keeps the two consistent for foreign operands as well.
PyObject* circle_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op == Py_NE) {
        Ref result = Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
        if (!result) return nullptr;
        int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return nullptr;
        return new_bool(!truth);
    }
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    core::Circle a, b;
    if (!try_value<CircleObject>(self, circle_type(), a) || !try_value<CircleObject>(other, circle_type(), b))
        Py_RETURN_NOTIMPLEMENTED;
    return new_bool(core::approx_eq(a, b));
}

// ---------------------------------------------------------------------------
// Tables

PyMethodDef circle_methods[] = {
    {"none", circle_none, METH_NOARGS | METH_STATIC, surface::circle_none_doc},
    {"get_plane", circle_get_plane, METH_NOARGS, surface::circle_get_plane_doc},
    {"in_same_plane", method_cast<circle_in_same_plane>(), METH_FASTCALL | METH_KEYWORDS,
     surface::circle_in_same_plane_doc},
    {"is_degenerate", circle_is_degenerate, METH_NOARGS, surface::circle_is_degenerate_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef circle_getset[] = {
    {"center", get_vec3<CircleObject, &core::Circle::center>, set_vec3<CircleObject, &core::Circle::center>,
     nullptr, nullptr},
    {"radius", get_double<CircleObject, &core::Circle::radius>,
     set_double<CircleObject, &core::Circle::radius>, nullptr, nullptr},
    {"normal", get_vec3<CircleObject, &core::Circle::normal>, set_vec3<CircleObject, &core::Circle::normal>,
     nullptr, nullptr},
    {"area", circle_get_area, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot circle_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::circle_doc)},
    {Py_tp_new, reinterpret_cast<void*>(circle_new)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(circle_vectorcall)},
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc<CircleObject>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(circle_richcompare)},
    {Py_tp_methods, circle_methods},
    {Py_tp_getset, circle_getset},
    {0, nullptr},
};

PyType_Spec circle_spec = {
    .name = "builtins.Circle",
    .basicsize = sizeof(CircleObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = circle_slots,
};

}  // namespace

TypeCell circle_cell{&circle_spec};

}  // namespace orvath
