// orvath.geometry.Plane: an infinite plane, normal . p + distance = 0.
// Every constructor stores a normalised normal; the setters store what they
// are given. Equality, hashing and repr stay those of object (identity).
#include "core/plane.hpp"
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
    return new_holder<PlaneObject>(type, core::make_plane(normal.value, distance));
}

using PlaneConstructor = Constructor<surface::plane_new, plane_make>;

// ---------------------------------------------------------------------------
// Static constructors

PyObject* plane_xy(PyObject*, PyObject*) noexcept { return new_plane(core::plane_xy()); }
PyObject* plane_xz(PyObject*, PyObject*) noexcept { return new_plane(core::plane_xz()); }
PyObject* plane_yz(PyObject*, PyObject*) noexcept { return new_plane(core::plane_yz()); }

PyObject* plane_from_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::plane_from_point;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        HeldArg<Vec3dObject> normal, point;
        if (!normal.read(a[0], vec3d_type(), sig.name(0)) || !point.read(a[1], vec3d_type(), sig.name(1)))
            return nullptr;
        return new_plane(core::plane_from_point(normal.value, point.value));
    });
}

PyObject* plane_from_points(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::plane_from_points;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        HeldArg<Vec3dObject> p1, p2, p3;
        if (!p1.read(a[0], vec3d_type(), sig.name(0)) || !p2.read(a[1], vec3d_type(), sig.name(1)) ||
            !p3.read(a[2], vec3d_type(), sig.name(2)))
            return nullptr;
        return new_plane(core::plane_from_points(p1.value, p2.value, p3.value));
    });
}

// ---------------------------------------------------------------------------
// Methods

// A method of one Vec3d `point`: fn(plane, point).
template <class Fn>
PyObject* plane_with_point(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, Fn fn) noexcept {
    return read_with<PlaneObject>(self, sig, args, nargs, kwnames,
                                  [&](const core::Plane& plane, PyObject* const* a) -> PyObject* {
                                      HeldArg<Vec3dObject> point;
                                      if (!point.read(a[0], vec3d_type(), sig.name(0))) return nullptr;
                                      return fn(plane, point.value);
                                  });
}

PyObject* plane_distance_to_point(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
    return plane_with_point(self, surface::plane_distance_to_point, args, nargs, kwnames,
                            [](const core::Plane& plane, const core::Vec3& point) {
                                return new_float(core::distance_to_point(plane, point));
                            });
}

PyObject* plane_contains_point(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    return plane_with_point(self, surface::plane_contains_point, args, nargs, kwnames,
                            [](const core::Plane& plane, const core::Vec3& point) {
                                return new_bool(core::contains_point(plane, point));
                            });
}

// ---------------------------------------------------------------------------
// Tables

PyMethodDef plane_methods[] = {
    {"from_point", method_cast<plane_from_point>(), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     surface::plane_from_point_doc},
    {"from_points", method_cast<plane_from_points>(), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     surface::plane_from_points_doc},
    {"xy", plane_xy, METH_NOARGS | METH_STATIC, surface::plane_xy_doc},
    {"xz", plane_xz, METH_NOARGS | METH_STATIC, surface::plane_xz_doc},
    {"yz", plane_yz, METH_NOARGS | METH_STATIC, surface::plane_yz_doc},
    {"contains_point", method_cast<plane_contains_point>(), METH_FASTCALL | METH_KEYWORDS,
     surface::plane_contains_point_doc},
    {"distance_to_point", method_cast<plane_distance_to_point>(), METH_FASTCALL | METH_KEYWORDS,
     surface::plane_distance_to_point_doc},
    {"__reduce__", reduce_value<PlaneObject>, METH_NOARGS, surface::plane_reduce_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef plane_getset[] = {
    {"normal", get_field<PlaneObject, &core::Plane::normal>, set_field<PlaneObject, &core::Plane::normal>,
     nullptr, nullptr},
    {"distance", get_field<PlaneObject, &core::Plane::constant>, set_field<PlaneObject, &core::Plane::constant>,
     nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

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
