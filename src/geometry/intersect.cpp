// The functions of orvath.geometry: plane_line, circle_point,
// circle_point_unchecked and circle_circle. Only circle_circle can fail for a
// geometric reason; the others give NaN, infinities or False instead.
#include "core/intersect.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

PyObject* geometry_plane_line(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::fn_plane_line;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        HeldArg<PlaneObject> plane;
        HeldArg<Vec3dObject> pa, pb;
        if (!plane.read(a[0], plane_type(), sig.name(0)) || !pa.read(a[1], vec3d_type(), sig.name(1)) ||
            !pb.read(a[2], vec3d_type(), sig.name(2)))
            return nullptr;
        return new_vec3d(core::plane_line(plane.value, pa.value, pb.value));
    });
}

// Both point tests share their arguments; the circle and the point stay
// borrowed while `inner` is converted, since a numpy bool's truth slot is
// Python code.
template <bool (*Test)(const core::Circle&, const core::Vec3&, bool) noexcept>
PyObject* geometry_circle_point_with(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) noexcept {
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        HeldArg<CircleObject> circle;
        HeldArg<Vec3dObject> point;
        bool inner;
        if (!circle.read(a[0], circle_type(), sig.name(0)) || !point.read(a[1], vec3d_type(), sig.name(1)) ||
            !arg_bool(a[2], sig.name(2), inner))
            return nullptr;
        return new_bool(Test(circle.value, point.value, inner));
    });
}

PyObject* geometry_circle_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return geometry_circle_point_with<core::circle_point>(surface::fn_circle_point, args, nargs, kwnames);
}

PyObject* geometry_circle_point_unchecked(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) noexcept {
    return geometry_circle_point_with<core::circle_point_unchecked>(surface::fn_circle_point_unchecked, args,
                                                                    nargs, kwnames);
}

PyObject* geometry_circle_circle(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) noexcept {
    const Signature& sig = surface::fn_circle_circle;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        HeldArg<CircleObject> circle1, circle2;
        if (!circle1.read(a[0], circle_type(), sig.name(0)) || !circle2.read(a[1], circle_type(), sig.name(1)))
            return nullptr;
        const core::CircleCircle r = core::circle_circle(circle1.value, circle2.value);
        if (r.outcome != core::CircleOutcome::Ok) {
            PyErr_SetString(PyExc_ValueError, core::outcome_message(r.outcome));
            return nullptr;
        }
        return new_vec3d_pair(r.first, r.second);
    });
}

}  // namespace

PyMethodDef geometry_functions[] = {
    {"circle_circle", method_cast<geometry_circle_circle>(), METH_FASTCALL | METH_KEYWORDS,
     surface::fn_circle_circle_doc},
    {"circle_point", method_cast<geometry_circle_point>(), METH_FASTCALL | METH_KEYWORDS,
     surface::fn_circle_point_doc},
    {"circle_point_unchecked", method_cast<geometry_circle_point_unchecked>(), METH_FASTCALL | METH_KEYWORDS,
     surface::fn_circle_point_unchecked_doc},
    {"plane_line", method_cast<geometry_plane_line>(), METH_FASTCALL | METH_KEYWORDS,
     surface::fn_plane_line_doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace orvath
