// The Python class Vec3d: a mutable holder of one 3-D vector value. Every
// method and operator reads the value under a shared borrow and returns a new
// object; only the x, y and z setters change an instance.
#include <cstddef>

#include "core/hash.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using core::Vec3;

template <class Fn>
auto vec3d_read(PyObject* self, Fn fn) noexcept {
    return read<Vec3dObject>(self, fn);
}

// ---------------------------------------------------------------------------
// Lifecycle

PyObject* vec3d_make(PyTypeObject* type, PyObject* const* a) noexcept {
    const Signature& sig = surface::vec3d_new;
    Vec3 v;
    if (!arg_double(a[0], sig.name(0), v.x) || !arg_double(a[1], sig.name(1), v.y) ||
        !arg_double(a[2], sig.name(2), v.z))
        return nullptr;
    return new_holder<Vec3dObject>(type, v);
}

// ---------------------------------------------------------------------------
// Methods. The others are bound to their core functions in the generated
// table.

PyObject* vec3d_to_array(PyObject* self, PyObject*) noexcept {
    return vec3d_read(self, [](const Vec3& v) {
        const double c[3] = {v.x, v.y, v.z};
        return float_list(c, 3);
    });
}

// ---------------------------------------------------------------------------
// Slots

// The receiver is borrowed before `index` is converted, so an __index__ that
// writes to this vector meets the borrow and fails instead of racing.
PyObject* vec3d_getitem(PyObject* self, PyObject* index) noexcept {
    return vec3d_read(self, [index](const Vec3& v) -> PyObject* {
        std::uint64_t i;
        if (!arg_u64(index, surface::vec3d_getitem.name(0), i)) return nullptr;
        switch (i) {
            case 0: return new_float(v.x);
            case 1: return new_float(v.y);
            case 2: return new_float(v.z);
            default: return err::index_out_of_bounds();
        }
    });
}

// Sequence iteration and `in` reach the components through this slot.
PyObject* vec3d_item(PyObject* self, Py_ssize_t position) noexcept {
    Ref index = Ref::steal(PyLong_FromSsize_t(position));
    return index ? vec3d_getitem(self, index.get()) : nullptr;
}

// iter(v) yields x, y and z through the item slot above, so each component
// is read under its own shared borrow when it is handed out, as v[i] reads it.
PyObject* vec3d_iter(PyObject* self) noexcept { return PySeqIter_New(self); }

template <Vec3 (*Op)(const Vec3&, const Vec3&)>
PyObject* vec3d_binary(PyObject* a, PyObject* b) noexcept {
    PyTypeObject* type = vec3d_type();
    return with_instance<Vec3dObject>(a, type, [&](const Vec3& lhs) {
        return with_instance<Vec3dObject>(b, type, [&](const Vec3& rhs) { return new_vec3d(Op(lhs, rhs)); });
    });
}

// `vector op number`. The vector stays borrowed while the number converts,
// since __float__ may be arbitrary Python code.
template <Vec3 (*Op)(const Vec3&, double)>
PyObject* vec3d_scalar(PyObject* vector, PyObject* number) noexcept {
    return with_instance<Vec3dObject>(vector, vec3d_type(), [number](const Vec3& v) {
        return with_number(number, [&v](double s) { return new_vec3d(Op(v, s)); });
    });
}

constexpr auto vec3d_add = vec3d_binary<core::add>;
constexpr auto vec3d_sub = vec3d_binary<core::sub>;
constexpr auto vec3d_truediv = vec3d_scalar<core::divide>;

PyObject* vec3d_mul(PyObject* a, PyObject* b) noexcept {
    return or_else(vec3d_scalar<core::scale>(a, b), [=] { return vec3d_scalar<core::scale>(b, a); });
}

PyObject* vec3d_neg(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_vec3d(core::negate(v)); });
}

// Equality within EPSILON; vectors have no ordering. A conflicting borrow on
// the other operand is an internal fault here, not a fallback to identity.
PyObject* vec3d_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    return compare<Vec3dObject>(self, other, vec3d_type(), ORVATH_HERE, [op](const Vec3& a, const Vec3& b) {
        switch (op) {
            case Py_EQ: return new_bool(core::approx_eq(a, b));
            case Py_NE: return new_bool(!core::approx_eq(a, b));
            default: Py_RETURN_NOTIMPLEMENTED;
        }
    });
}

Py_hash_t vec3d_hash(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return static_cast<Py_hash_t>(core::hash_vec3(v)); });
}

PyObject* vec3d_repr(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) {
        const double c[3] = {v.x, v.y, v.z};
        return call_text("Vec3d", c);
    });
}

// ---------------------------------------------------------------------------
// Tables

ORVATH_VEC3D_TABLES

}  // namespace

TypeCell vec3d_cell{&vec3d_spec};

}  // namespace orvath
