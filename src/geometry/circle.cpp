// orvath.geometry.Circle: a circle lying in a plane of space. The constructor
// stores |radius| and a normalised normal; the setters store what they are
// given. Equal within tolerance, unordered and unhashable.
#include "core/circle.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

template <class Fn>
auto circle_read(PyObject* self, Fn fn) noexcept {
    return read<CircleObject>(self, fn);
}

// ---------------------------------------------------------------------------
// Lifecycle

PyObject* circle_make(PyTypeObject* type, PyObject* const* args) noexcept {
    const Signature& sig = surface::circle_new;
    HeldArg<Vec3dObject> center;
    if (!center.read(args[0], vec3d_type(), sig.name(0))) return nullptr;
    double radius;
    if (!arg_double(args[1], sig.name(1), radius)) return nullptr;
    HeldArg<Vec3dObject> normal;
    if (!normal.read(args[2], vec3d_type(), sig.name(2))) return nullptr;
    return new_holder<CircleObject>(type, core::make_circle(center.value, radius, normal.value));
}

using CircleConstructor = Constructor<surface::circle_new, circle_make>;

// ---------------------------------------------------------------------------
// Methods

PyObject* circle_none(PyObject*, PyObject*) noexcept { return new_circle(core::circle_none()); }

PyObject* circle_get_plane(PyObject* self, PyObject*) noexcept {
    return circle_read(self, [](const core::Circle& c) { return new_plane(core::get_plane(c)); });
}

PyObject* circle_is_degenerate(PyObject* self, PyObject*) noexcept {
    return circle_read(self, [](const core::Circle& c) { return new_bool(core::is_degenerate(c)); });
}

PyObject* circle_in_same_plane(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    const Signature& sig = surface::circle_in_same_plane;
    return read_with<CircleObject>(self, sig, args, nargs, kwnames,
                                   [&](const core::Circle& c, PyObject* const* a) -> PyObject* {
                                       HeldArg<CircleObject> other;
                                       if (!other.read(a[0], circle_type(), sig.name(0))) return nullptr;
                                       return new_bool(core::in_same_plane(c, other.value));
                                   });
}

// ---------------------------------------------------------------------------
// Properties

PyObject* circle_get_area(PyObject* self, void*) noexcept {
    return circle_read(self, [](const core::Circle& c) { return new_float(core::area(c)); });
}

// ---------------------------------------------------------------------------
// Slots

// `==` answers NotImplemented unless both sides are readable circles, so a
// foreign or busy operand falls back to the interpreter's identity rule; `!=`
// is the negation of that whole protocol.
PyObject* circle_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op == Py_NE) return not_equal(self, other);
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
    {"__reduce__", reduce_value<CircleObject>, METH_NOARGS, surface::circle_reduce_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef circle_getset[] = {
    {"center", get_field<CircleObject, &core::Circle::center>, set_field<CircleObject, &core::Circle::center>,
     nullptr, nullptr},
    {"radius", get_field<CircleObject, &core::Circle::radius>, set_field<CircleObject, &core::Circle::radius>,
     nullptr, nullptr},
    {"normal", get_field<CircleObject, &core::Circle::normal>, set_field<CircleObject, &core::Circle::normal>,
     nullptr, nullptr},
    {"area", circle_get_area, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot circle_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::circle_doc)},
    {Py_tp_new, slot(CircleConstructor::tp_new)},
    {Py_tp_vectorcall, slot(CircleConstructor::vectorcall)},
    {Py_tp_dealloc, slot(holder_dealloc<CircleObject>)},
    {Py_tp_richcompare, slot(circle_richcompare)},
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
