// The functions of orvath.geometry: plane_line, circle_point,
// circle_point_unchecked and circle_circle. Only circle_circle can fail for a
// geometric reason; the others give NaN, infinities or False instead.
#include "core/intersect.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// The two crossings as a tuple, or the ValueError naming why there are none.
PyObject* crossings(const core::CircleCircle& r) noexcept {
    if (r.outcome != core::CircleOutcome::Ok) return err::no_solution(core::outcome_message(r.outcome));
    return new_vec3d_pair(r.first, r.second);
}

PyObject* geometry_circle_circle(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) noexcept {
    const Signature& sig = surface::fn_circle_circle;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) {
        return bind::apply<bind::Circle, bind::Circle>(sig, a, [](const core::Circle& c1, const core::Circle& c2) {
            return crossings(core::circle_circle(c1, c2));
        });
    });
}

}  // namespace

ORVATH_GEOMETRY_TABLES

}  // namespace orvath
