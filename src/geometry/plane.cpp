// orvath.geometry.Plane: an infinite plane, normal . p + distance = 0.
// Every constructor stores a normalised normal; the setters store what they
// are given. Equality, hashing and repr stay those of object (identity).
#include "core/plane.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// ---------------------------------------------------------------------------
// Lifecycle

// The `distance` argument is the signed distance from the origin; the plane
// stores its negation as the constant term.
PyObject* plane_make(PyTypeObject* type, PyObject* const* args) noexcept {
    const Signature& sig = surface::plane_new;
    HeldArg<Vec3dObject> normal;
    if (!normal.read(args[0], vec3d_type(), sig.name(0))) return nullptr;
    double distance;
    if (!arg_double(args[1], sig.name(1), distance)) return nullptr;
    return new_holder<PlaneObject>(type, core::make_plane(normal.value(), distance));
}

using PlaneConstructor = Constructor<surface::plane_new, plane_make>;

ORVATH_PLANE_TABLES

PyType_Slot plane_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::plane_doc)},
    {Py_tp_new, slot(PlaneConstructor::tp_new)},
    {Py_tp_vectorcall, slot(PlaneConstructor::vectorcall)},
    {Py_tp_dealloc, slot(holder_dealloc<PlaneObject>)},
    {Py_tp_methods, plane_methods},
    {Py_tp_getset, plane_getset},
    {0, nullptr},
};

PyType_Spec plane_spec = {
    .name = "builtins.Plane",
    .basicsize = sizeof(PlaneObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = plane_slots,
};

}  // namespace

TypeCell plane_cell{&plane_spec};

}  // namespace orvath
