// The binder: a core function made into a Python member from its parameter
// and result types. A member's row in the generated tables names the kinds of
// its receiver, result and parameters and the core function; the binder does
// the rest, by the rules every member follows: the receiver's shared borrow
// taken after parsing and kept until the result is built, the arguments read
// in parameter order (the first bad one is reported and stops the others),
// each class-typed argument held under its shared borrow until the result is
// built, numbers through the float rule, the result through the kind's
// constructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "objects.hpp"

namespace orvath::bind {

// ---------------------------------------------------------------------------
// Kinds. Each names what the core function receives (Param), what it returns
// (Value), how an argument is read (Arg: read, then get) and how a result is
// built (make).

// A value converted by Read and built by Make: numbers through the float
// rule, bools through the bool rule, indices through the unsigned integer rule.
template <class V, bool (*Read)(PyObject*, const char*, V&) noexcept, PyObject* (*Make)(V) noexcept>
struct Scalar {
    using Value = V;
    using Param = V;
    class Arg {
    public:
        bool read(PyObject* o, const char* name) noexcept { return Read(o, name, v_); }
        V get() const noexcept { return v_; }

    private:
        V v_{};
    };
    static PyObject* make(V v) noexcept { return Make(v); }
};

using Float = Scalar<double, arg_double, new_float>;
using Bool = Scalar<bool, arg_bool, new_bool>;
using Index = Scalar<std::uint64_t, arg_u64, new_index>;

// An instance of one of the classes, held while the call runs.
template <class O, PyTypeObject* (*Type)() noexcept, auto Make>
struct Instance {
    using Obj = O;
    using Value = typename Obj::Value;
    using Param = std::conditional_t<std::is_scalar_v<Value>, Value, const Value&>;
    class Arg {
    public:
        bool read(PyObject* o, const char* name) noexcept { return held_.read(o, Type(), name); }
        Param get() const noexcept { return held_.value(); }

    private:
        HeldArg<Obj> held_;
    };
    static PyObject* make(Param v) noexcept { return Make(v); }
};

using Vec3d = Instance<Vec3dObject, vec3d_type, new_vec3d>;
using Quat = Instance<QuatObject, quat_type, new_quat>;
using AngleRadians = Instance<AngleObject, angle_radians_type, new_angle_radians>;
using AngleDegrees = Instance<AngleObject, angle_degrees_type, new_angle_degrees>;
using Plane = Instance<PlaneObject, plane_type, new_plane>;
using Circle = Instance<CircleObject, circle_type, new_circle>;

// The type of a core function taking A... and returning R's value; naming it
// picks the overload of a core name.
template <class R, class... A>
using CoreFn = typename R::Value (*)(typename A::Param...);

// Reads the parsed arguments `a` as A..., then answers fn(arguments), which
// builds the result. The held arguments are released after it exists.
template <class... A, class Fn>
inline PyObject* apply(const Signature& sig, PyObject* const* a, Fn&& fn) noexcept {
    return [&]<std::size_t... I>(std::index_sequence<I...>) -> PyObject* {
        std::tuple<typename A::Arg...> args;
        if (!(std::get<I>(args).read(a[I], sig.name(I)) && ...)) return nullptr;
        return fn(std::get<I>(args).get()...);
    }(std::index_sequence_for<A...>{});
}

// ---------------------------------------------------------------------------
// Members

// A method of a Self receiver with parameters A... and result R.
template <class Self, class R, class... A>
struct Method {
    template <const Signature& Sig, CoreFn<R, Self, A...> F>
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return read_with<typename Self::Obj>(
            self, Sig, args, nargs, kwnames, [](const typename Self::Value& v, PyObject* const* a) {
                return apply<A...>(Sig, a, [&v](typename A::Param... x) { return R::make(F(v, x...)); });
            });
    }
};

// A method without parameters, and a read-only property.
template <class Self, class R>
struct Method<Self, R> {
    template <CoreFn<R, Self> F>
    static PyObject* call(PyObject* self, PyObject*) noexcept {
        return read<typename Self::Obj>(self, [](const typename Self::Value& v) { return R::make(F(v)); });
    }
    template <CoreFn<R, Self> F>
    static PyObject* get(PyObject* self, void*) noexcept {
        return call<F>(self, nullptr);
    }
};

// A static method or module function with parameters A... and result R.
template <class R, class... A>
struct Function {
    template <const Signature& Sig, CoreFn<R, A...> F>
    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return call_with(Sig, args, nargs, kwnames, [](PyObject* const* a) {
            return apply<A...>(Sig, a, [](typename A::Param... x) { return R::make(F(x...)); });
        });
    }
};

template <class R>
struct Function<R> {
    template <CoreFn<R> F>
    static PyObject* call(PyObject*, PyObject*) noexcept {
        return R::make(F());
    }
};

// A constructor: the instance of `type` holding F(arguments).
template <class Self, class... A>
struct Make {
    template <const Signature& Sig, CoreFn<Self, A...> F>
    static PyObject* make(PyTypeObject* type, PyObject* const* a) noexcept {
        return apply<A...>(Sig, a, [type](typename A::Param... x) {
            return new_holder<typename Self::Obj>(type, F(x...));
        });
    }
};

// A static method that answers a constant.
template <class R, typename R::Value V>
PyObject* constant(PyObject*, PyObject*) noexcept {
    return R::make(V);
}

}  // namespace orvath::bind
