// The Python classes VecList, a growable contiguous array of 3-D vectors
// whose element-wise operations run on the process-wide worker pool, and
// VecListIterator, which hands out the elements of a snapshot of one list.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "core/buffer.hpp"
#include "core/bulk.hpp"
#include "core/pool.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using core::Vec3;
namespace bulk = core::bulk;

// ---------------------------------------------------------------------------
// Object access

using Elements = core::Buffer<Vec3>;

struct IteratorState {
    Elements snapshot;
    std::size_t cursor = 0;
};

using VecListObject = Holder<Elements>;
using VecListIteratorObject = Holder<IteratorState>;

VecListObject* vec_list(PyObject* o) noexcept { return as<VecListObject>(o); }

template <class Fn>
auto vec_list_read(PyObject* self, Fn fn) noexcept {
    return read<VecListObject>(self, fn);
}

PyObject* new_vec_list(PyTypeObject* type, Elements&& elements) noexcept {
    return new_holder<VecListObject>(type, std::move(elements));
}

PyObject* new_vec_list(Elements&& elements) noexcept {
    return new_vec_list(vec_list_type(), std::move(elements));
}

// ---------------------------------------------------------------------------
// Running bulk operations on the pool

// The process-wide pool, started by the first bulk operation.
core::Pool* bulk_pool() noexcept {
    std::string error;
    if (core::Pool* pool = core::Pool::instance(&error)) return pool;
    ORVATH_PANIC(error.empty() ? core::Pool::kNotInitialized : error.c_str());
    return nullptr;
}

err::Fail chunk_failed() noexcept {
    return ORVATH_PANIC("a bulk operation chunk failed; its partial output was discarded");
}

// One element-wise operation into `out`, which holds in.size() entries.
template <class Op>
bool bulk_map(const Elements& in, typename Op::Out* out, Op op) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    return bulk::map(*pool, in.data(), out, in.size(), op) || chunk_failed();
}

// An operation whose result is a new VecList adopting the output array.
template <class Op>
PyObject* bulk_vec_list(const Elements& in, Op op) noexcept {
    Elements out;
    if (!out.allocate(in.size())) return err::no_memory();
    if (!bulk_map(in, out.data(), op)) return nullptr;
    return new_vec_list(std::move(out));
}

PyObject* bool_list(const bool* values, std::size_t n) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_bool(values[i]));
    return list.release();
}

PyObject* entry_list(const double* values, std::size_t n) noexcept { return float_list(values, n); }
PyObject* entry_list(const bool* values, std::size_t n) noexcept { return bool_list(values, n); }

// An operation whose result is a Python list built from the output. Short
// outputs live on the stack, which keeps a small list about as cheap as one
// Vec3d call.
template <class Op>
PyObject* bulk_list(const Elements& in, Op op) noexcept {
    using T = typename Op::Out;
    constexpr std::size_t kOnStack = 64;
    T local[kOnStack];
    core::Buffer<T> heap;
    T* out = local;
    if (in.size() > kOnStack) {
        if (!heap.allocate(in.size())) return err::no_memory();
        out = heap.data();
    }
    if (!bulk_map(in, out, op)) return nullptr;
    return entry_list(out, in.size());
}

// Either result kind, by what the operation produces.
template <class Op>
PyObject* bulk_result(const Elements& in, Op op) noexcept {
    if constexpr (std::is_same_v<typename Op::Out, Vec3>)
        return bulk_vec_list(in, op);
    else
        return bulk_list(in, op);
}

// ---------------------------------------------------------------------------
// Lifecycle

// Copies the items of any sequence of Vec3d. PyObject_Size only sizes the
// first allocation: a sequence that cannot tell its length still converts.
bool elements_from_sequence(PyObject* seq, const char* arg, Elements& out) noexcept {
    if (PyUnicode_Check(seq)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return err::argument(arg);
    }
    if (!PySequence_Check(seq)) return err::type_mismatch(seq, "Sequence", arg);
    const Py_ssize_t hint = PyObject_Size(seq);
    if (hint < 0) PyErr_Clear();
    else (void)out.reserve(static_cast<std::size_t>(hint));  // a refused hint just means growing later
    Ref iter = Ref::steal(PyObject_GetIter(seq));
    if (!iter) return err::argument(arg);
    for (;;) {
        PyObject* raw;
        const int r = PyIter_NextItem(iter.get(), &raw);
        if (r < 0) return err::argument(arg);
        if (r == 0) return true;
        Ref item = Ref::steal(raw);
        Vec3 v;
        if (!arg_vec3(item.get(), arg, v)) return false;
        if (!out.push_back(v)) return err::no_memory();
    }
}

PyObject* vec_list_make(PyTypeObject* type, PyObject* const* a) noexcept {
    Elements elements;
    if (!elements_from_sequence(a[0], surface::vec_list_new.name(0), elements)) return nullptr;
    return new_vec_list(type, std::move(elements));
}

using VecListConstructor = Constructor<surface::vec_list_new, vec_list_make>;

PyObject* vec_list_empty(PyObject*, PyObject*) noexcept { return new_vec_list(Elements()); }

// ---------------------------------------------------------------------------
// Methods

PyObject* vec_list_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_append;
    return write_with<VecListObject>(self, sig, args, nargs, kwnames,
                                     [&](Elements& elements, PyObject* const* a) -> PyObject* {
                                         Vec3 v;
                                         if (!arg_vec3(a[0], sig.name(0), v)) return nullptr;
                                         if (!elements.push_back(v)) return err::no_memory();
                                         Py_RETURN_NONE;
                                     });
}

// `other` is read under its shared borrow while the list holds its exclusive
// one, so extending a list with itself is refused as a borrow conflict.
PyObject* vec_list_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_extend;
    return write_with<VecListObject>(
        self, sig, args, nargs, kwnames, [&](Elements& elements, PyObject* const* a) -> PyObject* {
            PyTypeObject* type = vec_list_type();
            if (!is_instance(a[0], type)) return err::type_mismatch(a[0], short_name(type), sig.name(0));
            return read<VecListObject>(a[0], [&](const Elements& other) -> PyObject* {
                if (!elements.append(other.data(), other.size())) return err::no_memory();
                Py_RETURN_NONE;
            });
        });
}

// Bulk members. Entry i is always the core function of Vec3d applied to
// element i, so a list result equals the Vec3d results element for element.

// Members whose one parameter is the Vec3d `other`: parse, borrow the list for
// the whole call, read `other`, run the operation and build the result.
template <class Op>
PyObject* with_other(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return read_with<VecListObject>(self, sig, args, nargs, kwnames,
                                    [&](const Elements& elements, PyObject* const* a) -> PyObject* {
                                        Vec3 other;
                                        if (!arg_vec3(a[0], sig.name(0), other)) return nullptr;
                                        return bulk_result(elements, Op{other});
                                    });
}

// Members without parameters.
template <class Op>
PyObject* with_elements(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) { return bulk_result(elements, Op{}); });
}

PyObject* vec_list_dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<bulk::Dot>(self, surface::vec_list_dot, args, nargs, kwnames);
}

PyObject* vec_list_cross(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<bulk::Cross>(self, surface::vec_list_cross, args, nargs, kwnames);
}

PyObject* vec_list_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    return with_other<bulk::DistanceTo>(self, surface::vec_list_distance_to, args, nargs, kwnames);
}

PyObject* vec_list_distance_squared(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept {
    return with_other<bulk::DistanceSquared>(self, surface::vec_list_distance_squared, args, nargs, kwnames);
}

// The elements are already the triples, so the rows are built straight from
// them while the borrow keeps them still.
PyObject* vec_list_to_array(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        if (bulk_pool() == nullptr) return nullptr;
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(elements.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const Vec3& e = elements[i];
            const double c[3] = {e.x, e.y, e.z};
            PyObject* row = float_list(c, 3);
            if (row == nullptr) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), row);
        }
        return list.release();
    });
}

PyObject* vec_list_collapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_collapse;
    return read_with<VecListObject>(self, sig, args, nargs, kwnames,
                                    [&](const Elements& elements, PyObject* const* a) -> PyObject* {
                                        std::uint64_t axis;
                                        if (!arg_u64(a[0], sig.name(0), axis)) return nullptr;
                                        if (axis > 2) return ORVATH_PANIC("assertion failed: axis <= 2");
                                        core::Pool* pool = bulk_pool();
                                        if (pool == nullptr) return nullptr;
                                        Elements out;
                                        if (!out.allocate(elements.size())) return err::no_memory();
                                        if (!bulk::collapse(*pool, elements.data(), out.data(), elements.size(),
                                                            axis))
                                            return chunk_failed();
                                        return new_vec_list(std::move(out));
                                    });
}

// The rotated elements go to a new array that replaces the old one only once
// every chunk has finished, so a failure leaves the list as it was.
PyObject* vec_list_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_rotate;
    return write_with<VecListObject>(self, sig, args, nargs, kwnames,
                                     [&](Elements& elements, PyObject* const* a) -> PyObject* {
                                         core::Quat q;
                                         if (!arg_quat(a[0], sig.name(0), q)) return nullptr;
                                         Elements out;
                                         if (!out.allocate(elements.size())) return err::no_memory();
                                         if (!bulk_map(elements, out.data(), bulk::Rotate{q})) return nullptr;
                                         elements = std::move(out);
                                         Py_RETURN_NONE;
                                     });
}

// The best of every stride-th element, then the best of that sample's
// neighbourhood. `other` stays borrowed while `stride` converts: __index__ is
// Python code.
PyObject* vec_list_minimum_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_minimum_distance_to;
    return read_with<VecListObject>(
        self, sig, args, nargs, kwnames, [&](const Elements& elements, PyObject* const* a) -> PyObject* {
            HeldArg<Vec3dObject> other;
            if (!other.read(a[0], vec3d_type(), sig.name(0))) return nullptr;
            std::uint64_t stride;
            if (!arg_u64(a[1], sig.name(1), stride)) return nullptr;
            if (stride == 0) return ORVATH_PANIC("assertion failed: stride != 0");
            core::Pool* pool = bulk_pool();
            if (pool == nullptr) return nullptr;
            if (elements.size() == 0) return ORVATH_PANIC("called `Option::unwrap()` on a `None` value");
            const std::optional<bulk::Nearest> found =
                bulk::minimum_distance_to(*pool, elements.data(), elements.size(), other.value, stride);
            if (!found) return chunk_failed();
            Ref index = Ref::steal(PyLong_FromSize_t(found->index));
            if (!index) return nullptr;
            Ref distance = Ref::steal(new_float(found->distance));
            if (!distance) return nullptr;
            return PyTuple_Pack(2, index.get(), distance.get());
        });
}

// ---------------------------------------------------------------------------
// Properties

PyObject* vec_list_get_list(PyObject* self, void*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(elements.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            PyObject* v = new_vec3d(elements[i]);
            if (v == nullptr) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
        }
        return list.release();
    });
}

// ---------------------------------------------------------------------------
// Slots

Py_ssize_t vec_list_length(PyObject* self) noexcept {
    return vec_list_read(self, [](const Elements& e) { return static_cast<Py_ssize_t>(e.size()); });
}

PyObject* vec_list_subscript(PyObject* self, PyObject* key) noexcept {
    return vec_list_read(self, [key](const Elements& elements) -> PyObject* {
        std::uint64_t index;
        if (!arg_u64(key, surface::vec_list_getitem.name(0), index)) return nullptr;
        if (index >= elements.size()) return err::index_out_of_bounds();
        return new_vec3d(elements[index]);
    });
}

PyObject* vec_list_item(PyObject* self, Py_ssize_t position) noexcept {
    Ref key = Ref::steal(PyLong_FromSsize_t(position));
    return key ? vec_list_subscript(self, key.get()) : nullptr;
}

PyObject* vec_list_iter(PyObject* self) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        PyTypeObject* type = vec_list_iterator_type();
        if (type == nullptr) return nullptr;
        Elements snapshot;
        if (!snapshot.append(elements.data(), elements.size())) return err::no_memory();
        return new_holder<VecListIteratorObject>(type, std::move(snapshot));
    });
}

// "[" + element texts joined by line feeds + "]". The texts are formatted on
// the pool; running out of memory there is a MemoryError like any other.
PyObject* vec_list_repr(PyObject* self) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        core::Pool* pool = bulk_pool();
        if (pool == nullptr) return nullptr;
        std::string text;
        switch (bulk::format_elements(*pool, elements.data(), elements.size(), text)) {
            case bulk::TextStatus::Ok: break;
            case bulk::TextStatus::OutOfMemory: return err::no_memory();
            case bulk::TextStatus::Failed: return chunk_failed();
        }
        // Every character of the float text is ASCII.
        const std::size_t n = text.size();
        PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n + 2), 127);
        if (s == nullptr) return nullptr;
        Py_UCS1* out = PyUnicode_1BYTE_DATA(s);
        out[0] = '[';
        if (n) std::memcpy(out + 1, text.data(), n);
        out[n + 1] = ']';
        return s;
    });
}

// Number slots, under the NotImplemented rule: an operand pair that does not
// convert is not ours, and its error is dropped. Once both operands are read,
// a failure of the operation itself is a real error.

template <class Op>
PyObject* vec_list_offset(PyObject* list, PyObject* vector) noexcept {
    if (!is_instance(list, vec_list_type())) return not_implemented();
    VecListObject* obj = vec_list(list);
    SharedBorrow borrow(obj->borrow);
    Vec3 o;
    if (!borrow || !try_value<Vec3dObject>(vector, vec3d_type(), o)) return not_implemented();
    return bulk_vec_list(obj->value, Op{o});
}

// One reading of `list op number`: null without an error when it does not
// apply. The list stays borrowed while the number converts (__float__ may be
// arbitrary Python code).
template <class Op>
PyObject* vec_list_scalar(PyObject* list, PyObject* number, bool& applied) noexcept {
    if (!is_instance(list, vec_list_type())) return nullptr;
    VecListObject* obj = vec_list(list);
    SharedBorrow borrow(obj->borrow);
    double s;
    if (!borrow || !to_double(number, s)) {
        PyErr_Clear();
        return nullptr;
    }
    applied = true;
    return bulk_vec_list(obj->value, Op{s});
}

PyObject* vec_list_multiply(PyObject* left, PyObject* right) noexcept {
    bool applied = false;
    PyObject* r = vec_list_scalar<bulk::Scale>(left, right, applied);
    if (applied) return r;
    r = vec_list_scalar<bulk::Scale>(right, left, applied);
    if (applied) return r;
    return not_implemented();
}

PyObject* vec_list_true_divide(PyObject* left, PyObject* right) noexcept {
    bool applied = false;
    PyObject* r = vec_list_scalar<bulk::Divide>(left, right, applied);
    return applied ? r : not_implemented();
}

// ---------------------------------------------------------------------------
// VecListIterator

PyObject* vec_list_iterator_iter(PyObject* self) noexcept {
    PyTypeObject* type = vec_list_iterator_type();
    if (type == nullptr) return nullptr;
    if (!is_instance(self, type)) return err::type_mismatch(self, short_name(type), surface::kReceiverParam);
    return read<VecListIteratorObject>(self, [self](const IteratorState&) { return Py_NewRef(self); });
}

// The end is reported as NULL without an exception; the snapshot is dropped
// then, since an exhausted iterator never reads it again.
PyObject* vec_list_iterator_next(PyObject* self) noexcept {
    return write<VecListIteratorObject>(self, [](IteratorState& state) -> PyObject* {
        if (state.cursor >= state.snapshot.size()) {
            state.snapshot = Elements();
            state.cursor = 0;
            return nullptr;
        }
        PyObject* v = new_vec3d(state.snapshot[state.cursor]);
        if (v != nullptr) ++state.cursor;
        return v;
    });
}

// ---------------------------------------------------------------------------
// Tables

constexpr int kArgs = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef vec_list_methods[] = {
    {"empty", vec_list_empty, METH_NOARGS | METH_STATIC, surface::vec_list_empty_doc},
    {"append", method_cast<vec_list_append>(), kArgs, surface::vec_list_append_doc},
    {"collapse", method_cast<vec_list_collapse>(), kArgs, surface::vec_list_collapse_doc},
    {"cross", method_cast<vec_list_cross>(), kArgs, surface::vec_list_cross_doc},
    {"distance_squared", method_cast<vec_list_distance_squared>(), kArgs, surface::vec_list_distance_squared_doc},
    {"distance_to", method_cast<vec_list_distance_to>(), kArgs, surface::vec_list_distance_to_doc},
    {"dot", method_cast<vec_list_dot>(), kArgs, surface::vec_list_dot_doc},
    {"extend", method_cast<vec_list_extend>(), kArgs, surface::vec_list_extend_doc},
    {"is_unit", with_elements<bulk::IsUnit>, METH_NOARGS, surface::vec_list_is_unit_doc},
    {"magnitude", with_elements<bulk::Magnitude>, METH_NOARGS, surface::vec_list_magnitude_doc},
    {"minimum_distance_to", method_cast<vec_list_minimum_distance_to>(), kArgs,
     surface::vec_list_minimum_distance_to_doc},
    {"normalize", with_elements<bulk::Normalize>, METH_NOARGS, surface::vec_list_normalize_doc},
    {"rotate", method_cast<vec_list_rotate>(), kArgs, surface::vec_list_rotate_doc},
    {"to_array", vec_list_to_array, METH_NOARGS, surface::vec_list_to_array_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef vec_list_getset[] = {
    {"list", vec_list_get_list, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot vec_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::vec_list_doc)},
    {Py_tp_dealloc, slot(holder_dealloc<VecListObject>)},
    {Py_tp_new, slot(VecListConstructor::tp_new)},
    {Py_tp_vectorcall, slot(VecListConstructor::vectorcall)},
    {Py_tp_methods, vec_list_methods},
    {Py_tp_getset, vec_list_getset},
    {Py_tp_repr, slot(vec_list_repr)},
    {Py_tp_iter, slot(vec_list_iter)},
    {Py_mp_length, slot(vec_list_length)},
    {Py_mp_subscript, slot(vec_list_subscript)},
    {Py_sq_item, slot(vec_list_item)},
    {Py_nb_add, slot(vec_list_offset<bulk::Add>)},
    {Py_nb_subtract, slot(vec_list_offset<bulk::Sub>)},
    {Py_nb_multiply, slot(vec_list_multiply)},
    {Py_nb_true_divide, slot(vec_list_true_divide)},
    {0, nullptr},
};

PyType_Spec vec_list_spec = {
    .name = "builtins.VecList",
    .basicsize = sizeof(VecListObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = vec_list_slots,
};

PyType_Slot vec_list_iterator_slots[] = {
    {Py_tp_dealloc, slot(holder_dealloc<VecListIteratorObject>)},
    {Py_tp_iter, slot(vec_list_iterator_iter)},
    {Py_tp_iternext, slot(vec_list_iterator_next)},
    {0, nullptr},
};

PyType_Spec vec_list_iterator_spec = {
    .name = "builtins.VecListIterator",
    .basicsize = sizeof(VecListIteratorObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = vec_list_iterator_slots,
};

}  // namespace

TypeCell vec_list_cell{&vec_list_spec};
TypeCell vec_list_iterator_cell{&vec_list_iterator_spec};

}  // namespace orvath
