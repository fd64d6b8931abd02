// orvath.geometry.Circle: a circle lying in a plane of space. The constructor
// stores |radius| and a normalised normal; the setters store what they are
// given. Equal within tolerance, unordered and unhashable.
#include "core/circle.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

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
    return new_holder<CircleObject>(type, core::make_circle(center.value(), radius, normal.value()));
}

using CircleConstructor = Constructor<surface::circle_new, circle_make>;

// ---------------------------------------------------------------------------
// Slots

// `==` answers NotImplemented unless both sides are readable circles, so a
// foreign or busy operand falls back to the interpreter's identity rule; `!=`
// is the negation of that whole protocol.
PyObject* circle_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (op == Py_NE) return not_equal(self, other);
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    core::Circle a, b;
    PyTypeObject* type = circle_type();
    if (copy_value<CircleObject>(self, type, a) != Copy::Copied ||
        copy_value<CircleObject>(other, type, b) != Copy::Copied)
        Py_RETURN_NOTIMPLEMENTED;
    return new_bool(core::approx_eq(a, b));
}

// ---------------------------------------------------------------------------
// Tables

ORVATH_CIRCLE_TABLES

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
