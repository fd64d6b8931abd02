// orvath.geometry.Circle: a circle lying in a plane of space. The constructor
// stores |radius| and a normalised normal; the setters store what they are
// given. Equal within tolerance, unordered and unhashable.
#include "core/circle.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

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

// Every other member is bound to its core function in the generated tables.
ORVATH_CIRCLE_TABLES

}  // namespace

TypeCell circle_cell{&circle_spec};

}  // namespace orvath
