// Pickling and copying: __reduce__ of the value classes and the reconstructor
// orvath._restore(name, state) that pickle and copy call to rebuild them.
//
// The state of a value is its stored doubles in field order, each written as
// 8 little-endian bytes: bit for bit whatever it holds (-0.0, infinities, NaN
// payloads), and the same block on every machine. Nothing is recomputed on the
// way back: a Plane or Circle gets exactly the fields it had, without being
// normalised again.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

// One double of a state block, at any alignment.
void store_le(unsigned char* p, double d) noexcept {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(d);
    if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap64(bits);
    std::memcpy(p, &bits, sizeof bits);
}

double load_le(const unsigned char* p) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, p, sizeof bits);
    if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap64(bits);
    return std::bit_cast<double>(bits);
}

// The doubles of a value in field order, which is its state's order: every
// value is a padding-free struct of doubles (a Plane is its normal, then the
// constant term as stored; a Circle its center, radius and normal).
template <class V>
struct Layout {
    static constexpr std::size_t kCount = sizeof(V) / sizeof(double);
    using Doubles = std::array<double, kCount>;
    static_assert(sizeof(Doubles) == sizeof(V), "a value is a whole number of doubles, without padding");
    static Doubles store(const V& v) noexcept { return std::bit_cast<Doubles>(v); }
    static V load(const Doubles& f) noexcept { return std::bit_cast<V>(f); }
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
    typename L::Doubles f;
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
PyObject* orvath_restore(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
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

ORVATH_ORVATH_TABLES

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
        const typename L::Doubles f = L::store(v);
        PyObject* block = PyBytes_FromStringAndSize(nullptr, 8 * L::kCount);
        if (block == nullptr) return nullptr;
        auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(block));
        for (std::size_t i = 0; i < L::kCount; ++i) store_le(out + 8 * i, f[i]);
        return block;
    }));
    return state ? reduced(self, state.get()) : nullptr;
}

void store_vectors(const core::Vec3* v, std::size_t n, unsigned char* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const auto f = Layout<core::Vec3>::store(v[i]);
        for (std::size_t k = 0; k < f.size(); ++k) store_le(out + 8 * (3 * i + k), f[k]);
    }
}

template PyObject* reduce_value<Vec3dObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<QuatObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<AngleObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<PlaneObject>(PyObject*, PyObject*) noexcept;
template PyObject* reduce_value<CircleObject>(PyObject*, PyObject*) noexcept;

}  // namespace orvath
