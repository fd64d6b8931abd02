// The Python class Vec3d: a mutable holder of one 3-D vector value. Every
// method and operator reads the value under a shared borrow and returns a new
// object; only the x, y and z setters change an instance.
#include <cstddef>

#include "core/float_text.hpp"
#include "core/hash.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using core::Vec3;

Vec3dObject* vec3d(PyObject* o) noexcept { return as<Vec3dObject>(o); }

template <class Fn>
auto vec3d_read(PyObject* self, Fn fn) noexcept {
    return read<Vec3dObject>(self, fn);
}

// Methods whose N parameters are all Vec3d: parse, borrow the receiver, then
// copy each argument out in parameter order so the first bad one is reported.
template <std::size_t N, class Fn>
PyObject* vec3d_read_with(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, Fn fn) noexcept {
    return read_with<Vec3dObject>(self, sig, args, nargs, kwnames,
                                  [&](const Vec3& v, PyObject* const* a) -> PyObject* {
                                      Vec3 o[N];
                                      for (std::size_t i = 0; i < N; ++i)
                                          if (!arg_vec3(a[i], sig.name(i), o[i])) return nullptr;
                                      return fn(v, o);
                                  });
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

using Vec3dConstructor = Constructor<surface::vec3d_new, vec3d_make>;

// ---------------------------------------------------------------------------
// Static constructors

PyObject* vec3d_zero(PyObject*, PyObject*) noexcept { return new_vec3d(core::zero()); }
PyObject* vec3d_i(PyObject*, PyObject*) noexcept { return new_vec3d(core::unit_i()); }
PyObject* vec3d_j(PyObject*, PyObject*) noexcept { return new_vec3d(core::unit_j()); }
PyObject* vec3d_k(PyObject*, PyObject*) noexcept { return new_vec3d(core::unit_k()); }

PyObject* vec3d_new_from_to(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec3d_new_from_to;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        Vec3 from, to;
        if (!arg_vec3(a[0], sig.name(0), from) || !arg_vec3(a[1], sig.name(1), to)) return nullptr;
        return new_vec3d(core::new_from_to(from, to));
    });
}

// ---------------------------------------------------------------------------
// Methods

PyObject* vec3d_dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_dot, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) { return new_float(core::dot(v, o[0])); });
}

PyObject* vec3d_cross(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_cross, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) { return new_vec3d(core::cross(v, o[0])); });
}

PyObject* vec3d_angle_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_angle_to, args, nargs, kwnames, [](const Vec3& v, const Vec3* o) {
        return new_angle_radians(core::angle_to(v, o[0]));
    });
}

PyObject* vec3d_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_distance_to, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) { return new_float(core::distance_to(v, o[0])); });
}

PyObject* vec3d_distance_squared(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_distance_squared, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) {
                                  return new_float(core::distance_squared(v, o[0]));
                              });
}

PyObject* vec3d_distance_to_line(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) noexcept {
    return vec3d_read_with<2>(self, surface::vec3d_distance_to_line, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) {
                                  return new_float(core::distance_to_line(v, o[0], o[1]));
                              });
}

PyObject* vec3d_project_onto_line(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
    return vec3d_read_with<2>(self, surface::vec3d_project_onto_line, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) {
                                  return new_vec3d(core::project_onto_line(v, o[0], o[1]));
                              });
}

PyObject* vec3d_project_onto_plane(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
    return vec3d_read_with<1>(self, surface::vec3d_project_onto_plane, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) {
                                  return new_vec3d(core::project_onto_plane(v, o[0]));
                              });
}

PyObject* vec3d_scalar_triple_product(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) noexcept {
    return vec3d_read_with<2>(self, surface::vec3d_scalar_triple_product, args, nargs, kwnames,
                              [](const Vec3& v, const Vec3* o) {
                                  return new_float(core::scalar_triple_product(v, o[0], o[1]));
                              });
}

PyObject* vec3d_magnitude(PyObject* self, PyObject*) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_float(core::magnitude(v)); });
}

PyObject* vec3d_normalize(PyObject* self, PyObject*) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_vec3d(core::normalize(v)); });
}

PyObject* vec3d_is_unit(PyObject* self, PyObject*) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_bool(core::is_unit(v)); });
}

PyObject* vec3d_to_quat(PyObject* self, PyObject*) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_quat(core::to_quat(v)); });
}

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
PyObject* vec3d_subscript(PyObject* self, PyObject* index) noexcept {
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
    return index ? vec3d_subscript(self, index.get()) : nullptr;
}

// iter(v) yields x, y and z through the item slot above, so each component
// is read under its own shared borrow when it is handed out, as v[i] reads it.
PyObject* vec3d_iter(PyObject* self) noexcept { return PySeqIter_New(self); }

template <Vec3 (*Op)(const Vec3&, const Vec3&)>
PyObject* vec3d_binary(PyObject* a, PyObject* b) noexcept {
    Vec3 lhs, rhs;
    PyTypeObject* type = vec3d_type();
    if (!try_value<Vec3dObject>(a, type, lhs) || !try_value<Vec3dObject>(b, type, rhs)) return not_implemented();
    return new_vec3d(Op(lhs, rhs));
}

// One side of `vector * number`; false (error cleared) when that reading fails.
// The vector stays borrowed while the number converts, since __float__ may be
// arbitrary Python code.
bool vec3d_scaled(PyObject* vector, PyObject* number, Vec3& out) noexcept {
    if (!is_instance(vector, vec3d_type())) return false;
    Vec3dObject* obj = vec3d(vector);
    SharedBorrow borrow(obj->borrow);
    double s;
    if (!borrow || !to_double(number, s)) {
        PyErr_Clear();
        return false;
    }
    out = core::scale(obj->value, s);
    return true;
}

PyObject* vec3d_multiply(PyObject* a, PyObject* b) noexcept {
    Vec3 r;
    if (vec3d_scaled(a, b, r) || vec3d_scaled(b, a, r)) return new_vec3d(r);
    return not_implemented();
}

PyObject* vec3d_true_divide(PyObject* a, PyObject* b) noexcept {
    if (!is_instance(a, vec3d_type())) return not_implemented();
    Vec3dObject* obj = vec3d(a);
    SharedBorrow borrow(obj->borrow);
    double s;
    if (!borrow || !to_double(b, s)) return not_implemented();
    return new_vec3d(core::divide(obj->value, s));
}

PyObject* vec3d_negative(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return new_vec3d(core::negate(v)); });
}

// Equality within EPSILON; vectors have no ordering. A conflicting borrow on
// the other operand is an internal fault here, not a fallback to identity.
PyObject* vec3d_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    PyTypeObject* type = vec3d_type();
    Vec3 lhs, rhs;
    if (!try_value<Vec3dObject>(self, type, lhs) || !is_instance(other, type)) Py_RETURN_NOTIMPLEMENTED;
    Vec3dObject* obj = vec3d(other);
    if (!obj->borrow.try_shared()) return ORVATH_PANIC("Already mutably borrowed: PyBorrowError");
    rhs = obj->value;
    obj->borrow.release_shared();
    switch (op) {
        case Py_EQ: return new_bool(core::approx_eq(lhs, rhs));
        case Py_NE: return new_bool(!core::approx_eq(lhs, rhs));
        default: Py_RETURN_NOTIMPLEMENTED;
    }
}

Py_hash_t vec3d_hash(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) { return static_cast<Py_hash_t>(core::hash_vec3(v)); });
}

PyObject* vec3d_repr(PyObject* self) noexcept {
    return vec3d_read(self, [](const Vec3& v) {
        char text[sizeof "Vec3d(, , )" + 3 * core::FLOAT_TEXT_MAX];
        std::size_t n = 0;
        auto put = [&](const char* s, std::size_t len) {
            for (std::size_t i = 0; i < len; ++i) text[n++] = s[i];
        };
        put("Vec3d(", 6);
        n += core::format_double(v.x, text + n);
        put(", ", 2);
        n += core::format_double(v.y, text + n);
        put(", ", 2);
        n += core::format_double(v.z, text + n);
        put(")", 1);
        return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(n));
    });
}

// ---------------------------------------------------------------------------
// Tables

constexpr int kStaticArgs = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;
constexpr int kArgs = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef vec3d_methods[] = {
    {"i", vec3d_i, METH_NOARGS | METH_STATIC, surface::vec3d_i_doc},
    {"j", vec3d_j, METH_NOARGS | METH_STATIC, surface::vec3d_j_doc},
    {"k", vec3d_k, METH_NOARGS | METH_STATIC, surface::vec3d_k_doc},
    {"new_from_to", method_cast<vec3d_new_from_to>(), kStaticArgs, surface::vec3d_new_from_to_doc},
    {"zero", vec3d_zero, METH_NOARGS | METH_STATIC, surface::vec3d_zero_doc},
    {"angle_to", method_cast<vec3d_angle_to>(), kArgs, surface::vec3d_angle_to_doc},
    {"cross", method_cast<vec3d_cross>(), kArgs, surface::vec3d_cross_doc},
    {"distance_squared", method_cast<vec3d_distance_squared>(), kArgs, surface::vec3d_distance_squared_doc},
    {"distance_to", method_cast<vec3d_distance_to>(), kArgs, surface::vec3d_distance_to_doc},
    {"distance_to_line", method_cast<vec3d_distance_to_line>(), kArgs, surface::vec3d_distance_to_line_doc},
    {"dot", method_cast<vec3d_dot>(), kArgs, surface::vec3d_dot_doc},
    {"is_unit", vec3d_is_unit, METH_NOARGS, surface::vec3d_is_unit_doc},
    {"magnitude", vec3d_magnitude, METH_NOARGS, surface::vec3d_magnitude_doc},
    {"normalize", vec3d_normalize, METH_NOARGS, surface::vec3d_normalize_doc},
    {"project_onto_line", method_cast<vec3d_project_onto_line>(), kArgs, surface::vec3d_project_onto_line_doc},
    {"project_onto_plane", method_cast<vec3d_project_onto_plane>(), kArgs, surface::vec3d_project_onto_plane_doc},
    {"scalar_triple_product", method_cast<vec3d_scalar_triple_product>(), kArgs,
     surface::vec3d_scalar_triple_product_doc},
    {"to_array", vec3d_to_array, METH_NOARGS, surface::vec3d_to_array_doc},
    {"to_quat", vec3d_to_quat, METH_NOARGS, surface::vec3d_to_quat_doc},
    {"__reduce__", reduce_value<Vec3dObject>, METH_NOARGS, surface::vec3d_reduce_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef vec3d_getset[] = {
    {"x", get_field<Vec3dObject, &Vec3::x>, set_field<Vec3dObject, &Vec3::x>, nullptr, nullptr},
    {"y", get_field<Vec3dObject, &Vec3::y>, set_field<Vec3dObject, &Vec3::y>, nullptr, nullptr},
    {"z", get_field<Vec3dObject, &Vec3::z>, set_field<Vec3dObject, &Vec3::z>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot vec3d_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::vec3d_doc)},
    {Py_tp_dealloc, slot(holder_dealloc<Vec3dObject>)},
    {Py_tp_new, slot(Vec3dConstructor::tp_new)},
    {Py_tp_vectorcall, slot(Vec3dConstructor::vectorcall)},
    {Py_tp_methods, vec3d_methods},
    {Py_tp_getset, vec3d_getset},
    {Py_tp_richcompare, slot(vec3d_richcompare)},
    {Py_tp_hash, slot(vec3d_hash)},
    {Py_tp_repr, slot(vec3d_repr)},
    {Py_mp_subscript, slot(vec3d_subscript)},
    {Py_sq_item, slot(vec3d_item)},
    {Py_tp_iter, slot(vec3d_iter)},
    {Py_nb_add, slot(vec3d_binary<core::add>)},
    {Py_nb_subtract, slot(vec3d_binary<core::sub>)},
    {Py_nb_multiply, slot(vec3d_multiply)},
    {Py_nb_true_divide, slot(vec3d_true_divide)},
    {Py_nb_negative, slot(vec3d_negative)},
    {0, nullptr},
};

PyType_Spec vec3d_spec = {
    .name = "builtins.Vec3d",
    .basicsize = sizeof(Vec3dObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = vec3d_slots,
};

}  // namespace

TypeCell vec3d_cell{&vec3d_spec};

}  // namespace orvath
