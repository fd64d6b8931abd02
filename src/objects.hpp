// The Python objects of orvath as the class files see each other: layouts,
// the once-created type objects, and the constructors and argument readers
// that one class uses for another's values.
#pragma once

#include <cstddef>

#include "call.hpp"
#include "core/buffer.hpp"
#include "core/circle.hpp"
#include "core/plane.hpp"
#include "core/quat.hpp"
#include "core/vec3.hpp"

namespace orvath {

using Vec3dObject = Holder<core::Vec3>;
using QuatObject = Holder<core::Quat>;
using AngleObject = Holder<double>;  // AngleRadians and AngleDegrees
using AngleRadiansObject = AngleObject;
using AngleDegreesObject = AngleObject;
using PlaneObject = Holder<core::Plane>;
using CircleObject = Holder<core::Circle>;

// Each class's type object, created on first use (nullptr with an error set
// if that fails). The cells live in the class files.
extern TypeCell vec3d_cell;
extern TypeCell vec_list_cell;
extern TypeCell vec_list_iterator_cell;
extern TypeCell quat_cell;
extern TypeCell angle_radians_cell;
extern TypeCell angle_degrees_cell;
extern TypeCell plane_cell;
extern TypeCell circle_cell;

inline PyTypeObject* vec3d_type() noexcept { return vec3d_cell.get(); }
inline PyTypeObject* vec_list_type() noexcept { return vec_list_cell.get(); }
inline PyTypeObject* vec_list_iterator_type() noexcept { return vec_list_iterator_cell.get(); }
inline PyTypeObject* quat_type() noexcept { return quat_cell.get(); }
inline PyTypeObject* angle_radians_type() noexcept { return angle_radians_cell.get(); }
inline PyTypeObject* angle_degrees_type() noexcept { return angle_degrees_cell.get(); }
inline PyTypeObject* plane_type() noexcept { return plane_cell.get(); }
inline PyTypeObject* circle_type() noexcept { return circle_cell.get(); }

// The functions of orvath.geometry in publication order, ending with {}.
extern PyMethodDef geometry_functions[];

// ---------------------------------------------------------------------------
// Pickling and copying (src/pickle.cpp). Every class pickles as a call of the
// unpublished orvath._restore(name, state): the classes' own names
// ("builtins.Vec3d") do not import, the function's does. The state is a block
// of the value's doubles, little-endian.

// orvath._restore, added to the module without being published.
extern PyMethodDef restore_function;

// (orvath._restore, (class name of `self`, state)); `state` is borrowed.
PyObject* reduced(PyObject* self, PyObject* state) noexcept;

// __reduce__ of the classes that hold a fixed number of doubles.
template <class Obj>
PyObject* reduce_value(PyObject* self, PyObject*) noexcept;

// A new VecList holding the n vectors of a little-endian state block (in
// src/vec_list.cpp).
PyObject* vec_list_from_state(const unsigned char* data, std::size_t n) noexcept;

// A read-only memoryview of shape (n,) over the n doubles of `values`, which
// it takes over (in src/float_array.cpp).
PyObject* float_array(core::Buffer<double>&& values) noexcept;

// The state block of n vectors, written serially (the pool copies it on a
// little-endian machine, where it is the elements' own memory).
void store_vectors(const core::Vec3* v, std::size_t n, unsigned char* out) noexcept;

inline PyObject* new_vec3d(const core::Vec3& v) noexcept { return new_holder<Vec3dObject>(vec3d_type(), v); }
// The tuple (Vec3d(a), Vec3d(b)).
inline PyObject* new_vec3d_pair(const core::Vec3& a, const core::Vec3& b) noexcept {
    Ref first = Ref::steal(new_vec3d(a));
    if (!first) return nullptr;
    Ref second = Ref::steal(new_vec3d(b));
    if (!second) return nullptr;
    return PyTuple_Pack(2, first.get(), second.get());
}
inline PyObject* new_quat(const core::Quat& q) noexcept { return new_holder<QuatObject>(quat_type(), q); }
inline PyObject* new_angle_radians(double a) noexcept {
    return new_holder<AngleObject>(angle_radians_type(), a);
}
inline PyObject* new_angle_degrees(double a) noexcept {
    return new_holder<AngleObject>(angle_degrees_type(), a);
}
inline PyObject* new_plane(const core::Plane& p) noexcept { return new_holder<PlaneObject>(plane_type(), p); }
inline PyObject* new_circle(const core::Circle& c) noexcept {
    return new_holder<CircleObject>(circle_type(), c);
}

inline bool arg_vec3(PyObject* o, const char* arg, core::Vec3& out) noexcept {
    return arg_value<Vec3dObject>(o, vec3d_type(), arg, out);
}
inline bool arg_quat(PyObject* o, const char* arg, core::Quat& out) noexcept {
    return arg_value<QuatObject>(o, quat_type(), arg, out);
}
inline bool arg_angle_radians(PyObject* o, const char* arg, double& out) noexcept {
    return arg_value<AngleObject>(o, angle_radians_type(), arg, out);
}
inline bool arg_plane(PyObject* o, const char* arg, core::Plane& out) noexcept {
    return arg_value<PlaneObject>(o, plane_type(), arg, out);
}
inline bool arg_circle(PyObject* o, const char* arg, core::Circle& out) noexcept {
    return arg_value<CircleObject>(o, circle_type(), arg, out);
}

// Values as Python objects and back, for the property templates below.
inline PyObject* to_object(double v) noexcept { return new_float(v); }
inline PyObject* to_object(const core::Vec3& v) noexcept { return new_vec3d(v); }
inline bool from_object(PyObject* o, const char* arg, double& out) noexcept { return arg_double(o, arg, out); }
inline bool from_object(PyObject* o, const char* arg, core::Vec3& out) noexcept { return arg_vec3(o, arg, out); }

// The field a property exposes: a member of the value, or (nullptr) the
// whole value, as for the angles.
template <auto Field, class V>
inline auto& field_of(V& value) noexcept {
    if constexpr (std::is_same_v<decltype(Field), std::nullptr_t>)
        return value;
    else
        return value.*Field;
}

// A property's getter: a new object for the field, read under a shared borrow.
template <class Obj, auto Field = nullptr>
PyObject* get_field(PyObject* self, void*) noexcept {
    return read<Obj>(self, [](const typename Obj::Value& v) { return to_object(field_of<Field>(v)); });
}

// A property's setter: the new value is converted first (errors name it
// `value`), then stored under the exclusive borrow; the other fields stay.
template <class Obj, auto Field = nullptr>
int set_field(PyObject* self, PyObject* value, void*) noexcept {
    if (value == nullptr) return err::no_deleter();
    std::remove_cvref_t<decltype(field_of<Field>(std::declval<typename Obj::Value&>()))> v;
    if (!from_object(value, surface::kSetterParam, v)) return -1;
    return write<Obj>(self, [&](typename Obj::Value& stored) {
        field_of<Field>(stored) = v;
        return 0;
    });
}

}  // namespace orvath
