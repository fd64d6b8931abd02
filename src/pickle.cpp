// Pickling and copying: __reduce__ of the value classes and the reconstructor
// orvath._restore(name, state) that pickle and copy call to rebuild them.
//
// The state of a value is its stored doubles in field order, each written as
// 8 little-endian bytes: bit for bit whatever it holds (-0.0, infinities, NaN
// payloads), and the same block on every machine. Nothing is recomputed on the
// way back: a Plane or Circle gets exactly the fields it had, without being
// normalised again.
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// The fields of each value, in the order its state lists them.
template <class V>
struct Layout;

template <>
struct Layout<core::Vec3> {
    static constexpr std::size_t kCount = 3;
    static void store(const core::Vec3& v, double* f) noexcept { f[0] = v.x, f[1] = v.y, f[2] = v.z; }
    static core::Vec3 load(const double* f) noexcept { return {f[0], f[1], f[2]}; }
};

template <>
struct Layout<core::Quat> {
    static constexpr std::size_t kCount = 4;
    static void store(const core::Quat& q, double* f) noexcept { f[0] = q.w, f[1] = q.i, f[2] = q.j, f[3] = q.k; }
    static core::Quat load(const double* f) noexcept { return {f[0], f[1], f[2], f[3]}; }
};

// AngleRadians and AngleDegrees.
template <>
struct Layout<double> {
    static constexpr std::size_t kCount = 1;
    static void store(double a, double* f) noexcept { f[0] = a; }
    static double load(const double* f) noexcept { return f[0]; }
};

// The normal, then the constant term as stored.
template <>
struct Layout<core::Plane> {
    static constexpr std::size_t kCount = 4;
    static void store(const core::Plane& p, double* f) noexcept {
        Layout<core::Vec3>::store(p.normal, f);
        f[3] = p.constant;
    }
    static core::Plane load(const double* f) noexcept { return {Layout<core::Vec3>::load(f), f[3]}; }
};

// The center, the radius, the normal.
template <>
struct Layout<core::Circle> {
    static constexpr std::size_t kCount = 7;
    static void store(const core::Circle& c, double* f) noexcept {
        Layout<core::Vec3>::store(c.center, f);
        f[3] = c.radius;
        Layout<core::Vec3>::store(c.normal, f + 4);
    }
    static core::Circle load(const double* f) noexcept {
        return {Layout<core::Vec3>::load(f), f[3], Layout<core::Vec3>::load(f + 4)};
    }
};

// orvath._restore as the module has it now: looked up on every call, since
// pickle checks that the function it is handed is the one the name finds,
// and re-importing the module makes a new function object.
PyObject* reconstructor() noexcept { return PyImport_ImportModuleAttrString("orvath", restore_function.ml_name); }

// ---------------------------------------------------------------------------
// orvath._restore

template <class Obj>
PyObject* restore_value(PyTypeObject* type, const unsigned char* data) noexcept {
    using L = Layout<typename Obj::Value>;
    double f[L::kCount];
    for (std::size_t i = 0; i < L::kCount; ++i) f[i] = load_le(data + 8 * i);
    return new_holder<Obj>(type, L::load(f));
}

struct Restorable {
    PyTypeObject* (*type)() noexcept;
    std::size_t count;  // doubles in the state
    PyObject* (*make)(PyTypeObject*, const unsigned char*) noexcept;
};

template <class Obj>
constexpr Restorable restorable(PyTypeObject* (*type)() noexcept) noexcept {
    return {type, Layout<typename Obj::Value>::kCount, restore_value<Obj>};
}

const Restorable kRestorable[] = {
    restorable<Vec3dObject>(vec3d_type),
    restorable<QuatObject>(quat_type),
    restorable<AngleObject>(angle_radians_type),
    restorable<AngleObject>(angle_degrees_type),
    restorable<PlaneObject>(plane_type),
    restorable<CircleObject>(circle_type),
};

// `name` is the class's bare name, `state` any C-contiguous buffer of its
// block (bytes in-band, the list's own memory or a memoryview of it when a
// protocol 5 buffer travelled out of band).
PyObject* restore(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::fn_restore;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        PyObject* name = a[0];
        if (!PyUnicode_Check(name)) return err::type_mismatch(name, "str", sig.name(0));
        BufferView state;
        if (!state.get(a[1], PyBUF_SIMPLE)) return err::argument(sig.name(1));
        const auto* data = static_cast<const unsigned char*>(state->buf);
        const Py_ssize_t len = state->len;
        PyTypeObject* list_type = vec_list_type();
        if (list_type == nullptr) return nullptr;
        if (PyUnicode_EqualToUTF8(name, short_name(list_type))) {
            constexpr std::size_t kVector = 3 * 8;
            if (len % kVector != 0) return err::state_size(short_name(list_type), kVector, true, len);
            return vec_list_from_state(data, static_cast<std::size_t>(len) / kVector);
        }
        for (const Restorable& r : kRestorable) {
            PyTypeObject* type = r.type();
            if (type == nullptr) return nullptr;
            if (!PyUnicode_EqualToUTF8(name, short_name(type))) continue;
            if (len != static_cast<Py_ssize_t>(8 * r.count))
                return err::state_size(short_name(type), 8 * r.count, false, len);
            return r.make(type, data);
        }
        return err::unknown_class(name);
    });
}

}  // namespace

PyMethodDef restore_function = {"_restore", method_cast<restore>(), METH_FASTCALL | METH_KEYWORDS,
                                surface::fn_restore_doc};

PyObject* reduced(PyObject* self, PyObject* state) noexcept {
    Ref fn = Ref::steal(reconstructor());
    if (!fn) return nullptr;
    Ref name = Ref::steal(PyUnicode_FromString(short_name(Py_TYPE(self))));
    if (!name) return nullptr;
    Ref args = Ref::steal(PyTuple_Pack(2, name.get(), state));
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

template <class Obj>
PyObject* reduce_value(PyObject* self, PyObject*) noexcept {
    using L = Layout<typename Obj::Value>;
    Ref state = Ref::steal(read<Obj>(self, [](const typename Obj::Value& v) -> PyObject* {
        double f[L::kCount];
        L::store(v, f);
        PyObject* block = PyBytes_FromStringAndSize(nullptr, 8 * L::kCount);
        if (block == nullptr) return nullptr;
        auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(block));
        for (std::size_t i = 0; i < L::kCount; ++i) store_le(out + 8 * i, f[i]);
        return block;
    }));
    return state ? reduced(self, state.get()) : nullptr;
}

template PyObject* reduce_value<Vec3dObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<QuatObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<AngleObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<PlaneObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<CircleObject>(PyObject*, PyObject*) noexcept;

}  // namespace orvath
