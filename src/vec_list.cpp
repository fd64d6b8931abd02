// The Python classes VecList, a growable contiguous array of 3-D vectors
// whose element-wise operations run on the process-wide worker pool, and
// VecListIterator, which hands out the elements of a snapshot of one list.
// A list also exports its elements through the buffer protocol and reads
// arrays of any number format through from_array.
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "core/buffer.hpp"
#include "core/bulk.hpp"
#include "core/each.hpp"
#include "core/pool.hpp"
#include "core/reduce.hpp"
#include "bind.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using core::Vec3;
namespace bulk = core::bulk;

// ---------------------------------------------------------------------------
// Object access

using Elements = core::Buffer<Vec3>;

// The buffer views alive over a list's elements. A view is counted while the
// list's shared borrow is held, and append and extend read the count under the
// exclusive one, so no view can start while the array may move, and the array
// cannot move while a view is alive. A view is released without a borrow (a
// release cannot fail), so on a free-threaded build the count is atomic in its
// own right; with the interpreter lock every change happens under the lock.
class ExportCount {
public:
    void add() noexcept {
#ifdef Py_GIL_DISABLED
        n_.fetch_add(1, std::memory_order_relaxed);
#else
        n_.store(n_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
#endif
    }
    // Release, so that a reader's last use of the memory happens before a
    // resize that finds the count at zero.
    void remove() noexcept {
#ifdef Py_GIL_DISABLED
        n_.fetch_sub(1, std::memory_order_release);
#else
        n_.store(n_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
#endif
    }
    bool any() const noexcept { return n_.load(std::memory_order_acquire) != 0; }

private:
    std::atomic<Py_ssize_t> n_{0};
};

struct ListValue {
    Elements elements;
    ExportCount exports{};
};

struct IteratorState {
    Elements snapshot;
    std::size_t cursor = 0;
};

using VecListObject = Holder<ListValue>;
using VecListIteratorObject = Holder<IteratorState>;

VecListObject* vec_list(PyObject* o) noexcept { return as<VecListObject>(o); }

// Members that read the elements: fn(elements) under the shared borrow.
template <class Fn>
auto vec_list_read(PyObject* self, Fn fn) noexcept {
    return read<VecListObject>(self, [&](const ListValue& list) { return fn(list.elements); });
}

template <class Fn>
PyObject* vec_list_read_with(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, Fn fn) noexcept {
    return read_with<VecListObject>(self, sig, args, nargs, kwnames,
                                    [&](const ListValue& list, PyObject* const* a) { return fn(list.elements, a); });
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
    return err::pool_failed(ORVATH_HERE, error.empty() ? core::Pool::kNotInitialized : error.c_str());
}

// One element-wise operation into `out`, which holds in.size() entries.
template <class Op>
bool bulk_map(const Elements& in, typename Op::Out* out, Op op) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    return bulk::map(*pool, in.data(), out, in.size(), op) || err::chunk_failed(ORVATH_HERE);
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

// An operation whose float results come back as a read-only array of doubles.
template <class Op>
PyObject* bulk_array(const Elements& in, Op op) noexcept {
    core::Buffer<double> out;
    if (!out.allocate(in.size())) return err::no_memory();
    if (!bulk_map(in, out.data(), op)) return nullptr;
    return float_array(std::move(out));
}

// A copy of the elements made on the pool.
bool copy_elements(const Vec3* from, std::size_t n, Elements& out) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    if (!out.allocate(n)) return err::no_memory();
    return bulk::copy_vectors(*pool, from, out.data(), n) || err::chunk_failed(ORVATH_HERE);
}

// ---------------------------------------------------------------------------
// Lifecycle

// The items of any sequence, in iteration order, each turned into a vector by
// convert(item, index, v). PyObject_Size only sizes the first allocation: a
// sequence that cannot tell its length (or lies about it) still converts.
template <class Convert>
bool elements_from_items(PyObject* seq, const char* arg, Elements& out, Convert convert) noexcept {
    if (!PySequence_Check(seq)) return err::type_mismatch(seq, "Sequence", arg);
    const Py_ssize_t hint = PyObject_Size(seq);
    if (hint < 0) err::discard();
    else (void)out.reserve(static_cast<std::size_t>(hint));  // a refused hint just means growing later
    Ref iter = Ref::steal(PyObject_GetIter(seq));
    if (!iter) return err::argument(arg);
    for (std::size_t index = 0;; ++index) {
        PyObject* raw;
        const int r = PyIter_NextItem(iter.get(), &raw);
        if (r < 0) return err::argument(arg);
        if (r == 0) return true;
        Ref item = Ref::steal(raw);
        Vec3 v;
        if (!convert(item.get(), index, v)) return false;
        if (!out.push_back(v)) return err::no_memory();
    }
}

// The constructor's items: Vec3d objects only.
bool elements_from_sequence(PyObject* seq, const char* arg, Elements& out) noexcept {
    if (PyUnicode_Check(seq)) return err::str_items(arg);
    return elements_from_items(seq, arg, out,
                               [arg](PyObject* item, std::size_t, Vec3& v) { return arg_vec3(item, arg, v); });
}

PyObject* vec_list_make(PyTypeObject* type, PyObject* const* a) noexcept {
    Elements elements;
    if (!elements_from_sequence(a[0], surface::vec_list_new.name(0), elements)) return nullptr;
    return new_vec_list(type, std::move(elements));
}

PyObject* vec_list_empty(PyObject*, PyObject*) noexcept { return new_vec_list(Elements()); }

// from_array, from an exporter of rows of three numbers: any number format,
// any strides. The exporter's own description is checked before anything is
// read: a view that contradicts itself is refused, not trusted.
bool elements_from_buffer(PyObject* array, const char* arg, Elements& out) noexcept {
    BufferView view;
    if (!view.get(array, PyBUF_RECORDS_RO)) return err::argument(arg);
    const Py_buffer& v = *view;
    if (v.ndim > 0 && v.shape == nullptr) return err::inconsistent_buffer("it has no shape");
    if (v.ndim != 2 || v.shape[0] < 0 || v.shape[1] != 3) return err::array_shape(v.ndim, v.shape);
    const char* format_text = v.format ? v.format : "B";
    const std::optional<bulk::ElementFormat> format = bulk::parse_format(format_text);
    if (!format) return err::array_format(format_text, arg);
    const auto itemsize = static_cast<Py_ssize_t>(format->size);
    if (v.itemsize != itemsize) return err::inconsistent_buffer("its item size is not its format's");
    const Py_ssize_t n = v.shape[0];
    if (n > PY_SSIZE_T_MAX / (3 * itemsize) || v.len != n * 3 * itemsize)
        return err::inconsistent_buffer("its length is not its shape's");
    if (v.suboffsets != nullptr) return err::inconsistent_buffer("it has suboffsets");
    const bulk::Rows rows{static_cast<const unsigned char*>(v.buf), v.strides ? v.strides[0] : 3 * itemsize,
                          v.strides ? v.strides[1] : itemsize};
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    if (!out.allocate(static_cast<std::size_t>(n))) return err::no_memory();
    return bulk::read_rows(*pool, rows, *format, out.data(), out.size()) || err::chunk_failed(ORVATH_HERE);
}

// One row of from_array's sequence path. The row is read through a tuple of
// its items, taken before any of them converts, so a __float__ that changes
// the row cannot change what is being read; a tuple row is that already.
bool row_from_sequence(PyObject* row, std::size_t index, const char* arg, Vec3& out) noexcept {
    if (!PySequence_Check(row)) return err::row_type(row, index, arg);
    Ref items = PyTuple_CheckExact(row) ? Ref::borrow(row) : Ref::steal(PySequence_Tuple(row));
    if (!items) return err::argument(arg);
    const Py_ssize_t length = PyTuple_GET_SIZE(items.get());
    if (length != 3) return err::row_length(index, length);
    double c[3];
    for (Py_ssize_t k = 0; k < 3; ++k)
        if (!to_double(PyTuple_GET_ITEM(items.get(), k), c[k])) return err::argument(arg);
    out = {c[0], c[1], c[2]};
    return true;
}

// from_array, from a sequence of rows, taken like the constructor's items.
bool elements_from_rows(PyObject* seq, const char* arg, Elements& out) noexcept {
    return elements_from_items(seq, arg, out, [arg](PyObject* row, std::size_t index, Vec3& v) {
        return row_from_sequence(row, index, arg, v);
    });
}

PyObject* vec_list_from_array(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_from_array;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        Elements elements;
        const bool ok = PyObject_CheckBuffer(a[0]) ? elements_from_buffer(a[0], sig.name(0), elements)
                                                   : elements_from_rows(a[0], sig.name(0), elements);
        return ok ? new_vec_list(std::move(elements)) : nullptr;
    });
}

// ---------------------------------------------------------------------------
// Methods

// Growing may move the array, which an exported view still points into: with
// a view alive both growing members refuse before they look at the argument.
PyObject* vec_list_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_append;
    return write_with<VecListObject>(self, sig, args, nargs, kwnames,
                                     [&](ListValue& list, PyObject* const* a) -> PyObject* {
                                         if (list.exports.any()) return err::existing_exports();
                                         Vec3 v;
                                         if (!arg_vec3(a[0], sig.name(0), v)) return nullptr;
                                         if (!list.elements.push_back(v)) return err::no_memory();
                                         Py_RETURN_NONE;
                                     });
}

// `other` is read under its shared borrow while the list holds its exclusive
// one, so extending a list with itself is refused as a borrow conflict.
PyObject* vec_list_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_extend;
    return write_with<VecListObject>(
        self, sig, args, nargs, kwnames, [&](ListValue& list, PyObject* const* a) -> PyObject* {
            if (list.exports.any()) return err::existing_exports();
            PyTypeObject* type = vec_list_type();
            if (!is_instance(a[0], type)) return err::type_mismatch(a[0], short_name(type), sig.name(0));
            return vec_list_read(a[0], [&](const Elements& other) -> PyObject* {
                if (!list.elements.append(other.data(), other.size())) return err::no_memory();
                Py_RETURN_NONE;
            });
        });
}

// Bulk members. Entry i is always the core function of Vec3d applied to
// element i, so a list result equals the Vec3d results element for element.

// Members whose one parameter is the Vec3d `other`: parse, borrow the list for
// the whole call, read `other`, run the operation and build the result.
template <class Op, PyObject* (*Build)(const Elements&, Op) noexcept = bulk_result<Op>>
PyObject* with_other(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return vec_list_read_with(self, sig, args, nargs, kwnames, [&](const Elements& elements, PyObject* const* a) {
        return bind::apply<bind::Vec3d>(sig, a, [&](const Vec3& other) { return Build(elements, Op{other}); });
    });
}

// The table rows of such members (kernel= in the surface).
template <class Op, const Signature& Sig>
PyObject* vec_list_bulk_with(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<Op>(self, Sig, args, nargs, kwnames);
}

// Members without parameters.
template <class Op>
PyObject* vec_list_bulk(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) { return bulk_result(elements, Op{}); });
}

// The elements are already the triples, so the rows are built straight from
// them while the borrow keeps them still. This runs without the pool, but like
// every bulk member it refuses with the pool's fault when the pool cannot start.
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
    return vec_list_read_with(self, sig, args, nargs, kwnames,
                              [&](const Elements& elements, PyObject* const* a) -> PyObject* {
                                  std::uint64_t axis;
                                  if (!arg_u64(a[0], sig.name(0), axis)) return nullptr;
                                  if (axis > 2) return err::axis_out_of_range(ORVATH_HERE);
                                  core::Pool* pool = bulk_pool();
                                  if (pool == nullptr) return nullptr;
                                  Elements out;
                                  if (!out.allocate(elements.size())) return err::no_memory();
                                  if (!bulk::collapse(*pool, elements.data(), out.data(), elements.size(), axis))
                                      return err::chunk_failed(ORVATH_HERE);
                                  return new_vec_list(std::move(out));
                              });
}

// Each element is rotated where it is: its new value depends on it alone and
// the computation cannot fail, so no error can leave the list half rotated,
// and views of the list see the new values.
PyObject* vec_list_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_rotate;
    return write_with<VecListObject>(self, sig, args, nargs, kwnames,
                                     [&](ListValue& list, PyObject* const* a) -> PyObject* {
                                         core::Quat q;
                                         if (!arg_quat(a[0], sig.name(0), q)) return nullptr;
                                         core::Pool* pool = bulk_pool();
                                         if (pool == nullptr) return nullptr;
                                         Elements& elements = list.elements;
                                         if (!bulk::map_in_place(*pool, elements.data(), elements.size(),
                                                                 bulk::Rotate{q}))
                                             return err::chunk_failed(ORVATH_HERE);
                                         Py_RETURN_NONE;
                                     });
}

// The best of every stride-th element, then the best of that sample's
// neighbourhood. `other` stays borrowed while `stride` converts: __index__ is
// Python code.
PyObject* vec_list_minimum_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_minimum_distance_to;
    return vec_list_read_with(
        self, sig, args, nargs, kwnames, [&](const Elements& elements, PyObject* const* a) -> PyObject* {
            auto nearest = [&](const Vec3& other, std::uint64_t stride) -> PyObject* {
                if (stride == 0) return err::zero_stride(ORVATH_HERE);
                core::Pool* pool = bulk_pool();
                if (pool == nullptr) return nullptr;
                if (elements.size() == 0) return err::empty_list(ORVATH_HERE);
                const std::optional<bulk::Nearest> found =
                    bulk::minimum_distance_to(*pool, elements.data(), elements.size(), other, stride);
                if (!found) return err::chunk_failed(ORVATH_HERE);
                Ref index = Ref::steal(PyLong_FromSize_t(found->index));
                if (!index) return nullptr;
                Ref distance = Ref::steal(new_float(found->distance));
                if (!distance) return nullptr;
                return PyTuple_Pack(2, index.get(), distance.get());
            };
            return bind::apply<bind::Vec3d, bind::Index>(sig, a, nearest);
        });
}

// ---------------------------------------------------------------------------
// Whole-array members

PyObject* vec_list_magnitude_array(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) { return bulk_array(elements, bulk::Magnitude{}); });
}

PyObject* vec_list_dot_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<bulk::Dot, bulk_array>(self, surface::vec_list_dot_array, args, nargs, kwnames);
}

PyObject* vec_list_distance_to_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) noexcept {
    return with_other<bulk::DistanceTo, bulk_array>(self, surface::vec_list_distance_to_array, args, nargs,
                                                    kwnames);
}

PyObject* vec_list_distance_squared_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) noexcept {
    return with_other<bulk::DistanceSquared, bulk_array>(self, surface::vec_list_distance_squared_array, args,
                                                         nargs, kwnames);
}

// Members of two lists of the same length: `other` is read under its own
// shared borrow, so it may be the list itself.
template <class Op>
PyObject* with_each(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
    return vec_list_read_with(
        self, sig, args, nargs, kwnames, [&](const Elements& elements, PyObject* const* a) -> PyObject* {
            PyTypeObject* type = vec_list_type();
            if (!is_instance(a[0], type)) return err::type_mismatch(a[0], short_name(type), sig.name(0));
            return vec_list_read(a[0], [&](const Elements& other) -> PyObject* {
                const std::size_t n = elements.size();
                if (other.size() != n) return err::list_length(n, other.size());
                core::Pool* pool = bulk_pool();
                if (pool == nullptr) return nullptr;
                core::Buffer<typename Op::Out> out;
                if (!out.allocate(n)) return err::no_memory();
                if (!bulk::map_pairs(*pool, elements.data(), other.data(), out.data(), n, Op{}))
                    return err::chunk_failed(ORVATH_HERE);
                if constexpr (std::is_same_v<typename Op::Out, Vec3>)
                    return new_vec_list(std::move(out));
                else
                    return float_array(std::move(out));
            });
        });
}

PyObject* vec_list_add_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_each<bulk::AddEach>(self, surface::vec_list_add_each, args, nargs, kwnames);
}

PyObject* vec_list_sub_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_each<bulk::SubEach>(self, surface::vec_list_sub_each, args, nargs, kwnames);
}

PyObject* vec_list_cross_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_each<bulk::CrossEach>(self, surface::vec_list_cross_each, args, nargs, kwnames);
}

PyObject* vec_list_dot_each(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_each<bulk::DotEach>(self, surface::vec_list_dot_each, args, nargs, kwnames);
}

// take: the gather of the elements at the given positions. Every index is
// checked before the result is allocated.

PyObject* gather_elements(const Elements& elements, const bulk::Indices& indices) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return nullptr;
    Elements out;
    if (!out.allocate(indices.count)) return err::no_memory();
    switch (bulk::gather(*pool, elements.data(), elements.size(), indices, out.data())) {
        case bulk::IndexCheck::Ok: return new_vec_list(std::move(out));
        case bulk::IndexCheck::Bad: return err::indices_changed(ORVATH_HERE);
        case bulk::IndexCheck::Failed: break;
    }
    return err::chunk_failed(ORVATH_HERE);
}

// Positions already checked against the length.
PyObject* gather_positions(const Elements& elements, const core::Buffer<std::uint64_t>& positions) noexcept {
    const bulk::Indices indices{reinterpret_cast<const unsigned char*>(positions.data()), sizeof(std::uint64_t),
                                {bulk::Scalar::U64, sizeof(std::uint64_t), false}, positions.size()};
    return gather_elements(elements, indices);
}

// A buffer of integers of any width, signedness, byte order and stride, read
// where it lies.
PyObject* take_from_buffer(const Elements& elements, PyObject* source, const char* arg) noexcept {
    BufferView view;
    if (!view.get(source, PyBUF_RECORDS_RO)) return err::argument(arg);
    const Py_buffer& v = *view;
    if (v.ndim > 0 && v.shape == nullptr) return err::inconsistent_buffer("it has no shape");
    if (v.ndim != 1 || v.shape[0] < 0) return err::index_shape(v.ndim, v.shape);
    const char* format_text = v.format ? v.format : "B";
    const std::optional<bulk::ElementFormat> format = bulk::parse_format(format_text);
    if (!format || !bulk::is_index_format(*format)) return err::index_format(format_text, arg);
    if (v.itemsize != static_cast<Py_ssize_t>(format->size))
        return err::inconsistent_buffer("its item size is not its format's");
    if (v.len != v.shape[0] * v.itemsize) return err::inconsistent_buffer("its length is not its shape's");
    if (v.suboffsets != nullptr) return err::inconsistent_buffer("it has suboffsets");
    const bulk::Indices indices{static_cast<const unsigned char*>(v.buf), v.strides ? v.strides[0] : v.itemsize,
                                *format, static_cast<std::size_t>(v.shape[0])};
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return nullptr;
    bulk::BadIndex bad;
    switch (bulk::check_indices(*pool, indices, elements.size(), bad)) {
        case bulk::IndexCheck::Ok: break;
        case bulk::IndexCheck::Failed: return err::chunk_failed(ORVATH_HERE);
        case bulk::IndexCheck::Bad: {
            const std::string text = (bad.negative ? "-" : "") + std::to_string(bad.magnitude);
            return bad.negative ? err::negative_index(text.c_str(), bad.position)
                                : err::index_out_of_range(text.c_str(), bad.position, elements.size());
        }
    }
    return gather_elements(elements, indices);
}

// One item of a sequence of indices, checked against the length.
bool index_item(PyObject* item, std::size_t position, std::size_t length, const char* arg,
                std::uint64_t& out) noexcept {
    Ref index = Ref::steal(PyNumber_Index(item));
    if (!index) return err::argument(arg);
    const bool negative = PyLong_IsNegative(index.get()) == 1;
    std::uint64_t value = PyLong_AsUnsignedLongLong(index.get());
    const bool beyond = value == static_cast<std::uint64_t>(-1) && PyErr_Occurred();
    if (beyond) PyErr_Clear();
    if (!negative && !beyond && value < length) {
        out = value;
        return true;
    }
    Ref text = Ref::steal(PyObject_Str(index.get()));
    const char* t = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (t == nullptr) return false;
    return negative ? err::negative_index(t, position) : err::index_out_of_range(t, position, length);
}

// Any other sequence of integers: its items are taken into a tuple first, so
// an __index__ that changes the sequence cannot change what is being read
// (the receiver itself stays borrowed and cannot change at all).
PyObject* take_from_sequence(const Elements& elements, PyObject* source, const char* arg) noexcept {
    if (!PySequence_Check(source)) return err::type_mismatch(source, "Sequence", arg);
    Ref items = PyTuple_CheckExact(source) ? Ref::borrow(source) : Ref::steal(PySequence_Tuple(source));
    if (!items) return err::argument(arg);
    const auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
    core::Buffer<std::uint64_t> positions;
    if (!positions.allocate(n)) return err::no_memory();
    for (std::size_t k = 0; k < n; ++k)
        if (!index_item(PyTuple_GET_ITEM(items.get(), k), k, elements.size(), arg, positions[k])) return nullptr;
    return gather_positions(elements, positions);
}

// A range with a bound beyond Py_ssize_t, item by item as it runs: its
// positions are distinct, so a bad one comes within the list's length + 1
// items, long before the range ends.
PyObject* take_from_huge_range(const Elements& elements, PyObject* source, const char* arg) noexcept {
    Ref iter = Ref::steal(PyObject_GetIter(source));
    if (!iter) return nullptr;
    core::Buffer<std::uint64_t> positions;
    for (std::size_t k = 0;; ++k) {
        PyObject* raw;
        const int r = PyIter_NextItem(iter.get(), &raw);
        if (r < 0) return nullptr;
        if (r == 0) return gather_positions(elements, positions);
        Ref item = Ref::steal(raw);
        std::uint64_t position;
        if (!index_item(item.get(), k, elements.size(), arg, position)) return nullptr;
        if (!positions.push_back(position)) return err::no_memory();
    }
}

// A range, by arithmetic: no object per index, and the first bad position
// found without walking to it. A valid range holds distinct positions, so
// never more than the list's length; a step of 1 is one contiguous copy.
std::optional<PyObject*> take_from_range(const Elements& elements, PyObject* source, const char* arg) noexcept {
    if (!PyRange_Check(source)) return std::nullopt;
    Py_ssize_t bounds[3];
    const char* names[3] = {"start", "stop", "step"};
    for (int k = 0; k < 3; ++k) {
        Ref value = Ref::steal(PyObject_GetAttrString(source, names[k]));
        if (!value) return nullptr;
        bounds[k] = PyLong_AsSsize_t(value.get());
        if (bounds[k] == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return take_from_huge_range(elements, source, arg);
        }
    }
    const Py_ssize_t count = PyObject_Size(source);
    if (count < 0) return nullptr;
    const auto [start, stop, step] = bounds;
    const auto length = static_cast<Py_ssize_t>(elements.size());
    // The first position whose value leaves [0, length) on the way the range
    // runs. Values are computed modulo 2^64: each is a member of the range, so
    // the result fits even where a partial product would not.
    const auto value_at = [&](std::size_t k) {
        return static_cast<Py_ssize_t>(static_cast<std::size_t>(start) + k * static_cast<std::size_t>(step));
    };
    Py_ssize_t bad = 0;
    if (start >= 0 && start < length) {
        const auto ahead = static_cast<std::size_t>(step > 0 ? length - start - 1 : start);
        const std::size_t stride = step > 0 ? static_cast<std::size_t>(step) : 0 - static_cast<std::size_t>(step);
        bad = static_cast<Py_ssize_t>(ahead / stride + 1);
    }
    if (bad < count) {
        const Py_ssize_t value = value_at(static_cast<std::size_t>(bad));
        const std::string text = std::to_string(value);
        const auto position = static_cast<std::size_t>(bad);
        return value < 0 ? err::negative_index(text.c_str(), position)
                         : err::index_out_of_range(text.c_str(), position, elements.size());
    }
    const auto n = static_cast<std::size_t>(count);
    if (step == 1) {
        Elements out;
        if (!copy_elements(elements.data() + (n ? start : 0), n, out)) return nullptr;
        return new_vec_list(std::move(out));
    }
    core::Buffer<std::uint64_t> positions;
    if (!positions.allocate(n)) return err::no_memory();
    for (std::size_t k = 0; k < n; ++k) positions[k] = static_cast<std::uint64_t>(value_at(k));
    return gather_positions(elements, positions);
}

PyObject* vec_list_take(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_take;
    return vec_list_read_with(self, sig, args, nargs, kwnames,
                              [&](const Elements& elements, PyObject* const* a) -> PyObject* {
                                  if (PyObject_CheckBuffer(a[0])) return take_from_buffer(elements, a[0], sig.name(0));
                                  if (const auto result = take_from_range(elements, a[0], sig.name(0))) return *result;
                                  return take_from_sequence(elements, a[0], sig.name(0));
                              });
}

// Copies: one pooled copy of the elements (pickling would copy them twice).
PyObject* vec_list_copy(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        Elements out;
        return copy_elements(elements.data(), elements.size(), out) ? new_vec_list(std::move(out)) : nullptr;
    });
}

// The elements are values, so a deep copy is the same copy; `memo` is
// copy.deepcopy's dictionary, which has nothing to record for them.
PyObject* vec_list_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_deepcopy;
    return call_with(sig, args, nargs, kwnames, [&](PyObject* const* a) -> PyObject* {
        if (!PyDict_Check(a[0])) return err::type_mismatch(a[0], "dict", sig.name(0));
        return vec_list_copy(self, nullptr);
    });
}

// Reductions: the exact sums, the mean and the bounds of the elements, the
// same bits for any thread count, any chunking and any order of the elements.
// The pool is asked for first, as by every bulk operation, even when the list
// is empty.

// Each component the exact sum over the elements, rounded once.
bool elements_sum(const Elements& elements, Vec3& out) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    return bulk::exact_sum(*pool, elements.data(), elements.size(), out) || err::chunk_failed(ORVATH_HERE);
}

PyObject* vec_list_sum(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        Vec3 total;
        return elements_sum(elements, total) ? new_vec3d(total) : nullptr;
    });
}

// The rounded sum divided by the length: two roundings.
PyObject* vec_list_mean(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        Vec3 total;
        if (!elements_sum(elements, total)) return nullptr;
        if (elements.size() == 0) return err::empty_reduction("mean");
        return new_vec3d(core::divide(total, static_cast<double>(elements.size())));
    });
}

PyObject* vec_list_bounds(PyObject* self, PyObject*) noexcept {
    return vec_list_read(self, [](const Elements& elements) -> PyObject* {
        core::Pool* pool = bulk_pool();
        if (pool == nullptr) return nullptr;
        if (elements.size() == 0) return err::empty_reduction("bounds");
        Vec3 low, high;
        if (!bulk::bounds(*pool, elements.data(), elements.size(), low, high)) return err::chunk_failed(ORVATH_HERE);
        return new_vec3d_pair(low, high);
    });
}

// Pickling. The state is the elements' memory: little-endian doubles, three
// per element (on a big-endian machine a byte-swapped copy).

PyObject* state_block(const Elements& elements) noexcept {
    const std::size_t n = elements.size();
    Ref block = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n * sizeof(Vec3))));
    if (!block) return nullptr;
    auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(block.get()));
    if constexpr (std::endian::native == std::endian::little) {
        core::Pool* pool = bulk_pool();
        if (pool == nullptr) return nullptr;
        if (!bulk::copy_vectors(*pool, elements.data(), out, n)) return err::chunk_failed(ORVATH_HERE);
    } else {
        store_vectors(elements.data(), n, out);
    }
    return block.release();
}

PyObject* vec_list_reduce(PyObject* self, PyObject*) noexcept {
    Ref state = Ref::steal(vec_list_read(self, state_block));
    return state ? reduced(self, state.get()) : nullptr;
}

// From protocol 5 on, the state is a PickleBuffer over the list itself: the
// pickler writes it straight from the elements in band, or hands it to the
// buffer_callback out of band, and nothing is copied on the way out. Until
// that PickleBuffer is released the list cannot grow.
PyObject* vec_list_reduce_ex(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    const Signature& sig = surface::vec_list_reduce_ex;
    Ref state = Ref::steal(vec_list_read_with(
        self, sig, args, nargs, kwnames, [&](const Elements& elements, PyObject* const* a) -> PyObject* {
            std::uint64_t protocol;
            if (!arg_u64(a[0], sig.name(0), protocol)) return nullptr;
            if (protocol >= 5 && std::endian::native == std::endian::little) return PyPickleBuffer_FromObject(self);
            return state_block(elements);
        }));
    return state ? reduced(self, state.get()) : nullptr;
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

Py_ssize_t vec_list_len(PyObject* self) noexcept {
    return vec_list_read(self, [](const Elements& e) { return static_cast<Py_ssize_t>(e.size()); });
}

PyObject* vec_list_getitem(PyObject* self, PyObject* key) noexcept {
    return vec_list_read(self, [key](const Elements& elements) -> PyObject* {
        std::uint64_t index;
        if (!arg_u64(key, surface::vec_list_getitem.name(0), index)) return nullptr;
        if (index >= elements.size()) return err::index_out_of_bounds();
        return new_vec3d(elements[index]);
    });
}

PyObject* vec_list_item(PyObject* self, Py_ssize_t position) noexcept {
    Ref key = Ref::steal(PyLong_FromSsize_t(position));
    return key ? vec_list_getitem(self, key.get()) : nullptr;
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
            case bulk::TextStatus::Failed: return err::chunk_failed(ORVATH_HERE);
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
    return with_instance<VecListObject>(list, vec_list_type(), [vector](const ListValue& value) {
        return with_instance<Vec3dObject>(vector, vec3d_type(),
                                          [&](const Vec3& o) { return bulk_vec_list(value.elements, Op{o}); });
    });
}

// `list op number`. The list stays borrowed while the number converts
// (__float__ may be arbitrary Python code).
template <class Op>
PyObject* vec_list_scalar(PyObject* list, PyObject* number) noexcept {
    return with_instance<VecListObject>(list, vec_list_type(), [number](const ListValue& value) {
        return with_number(number, [&](double s) { return bulk_vec_list(value.elements, Op{s}); });
    });
}

constexpr auto vec_list_add = vec_list_offset<bulk::Add>;
constexpr auto vec_list_sub = vec_list_offset<bulk::Sub>;
constexpr auto vec_list_truediv = vec_list_scalar<bulk::Divide>;

PyObject* vec_list_mul(PyObject* left, PyObject* right) noexcept {
    return or_else(vec_list_scalar<bulk::Scale>(left, right),
                   [=] { return vec_list_scalar<bulk::Scale>(right, left); });
}

// The buffer protocol: the elements as a read-only, C-contiguous array of
// doubles of shape (len, 3), strides (24, 8). The view keeps the list alive;
// while any view is alive, append and extend refuse and rotate writes its
// results into the viewed memory.
constexpr Py_ssize_t kStrides[2] = {sizeof(Vec3), sizeof(double)};

int vec_list_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    view->obj = nullptr;
    // A writer through the view would bypass the borrow word.
    if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) return err::not_writable();
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    const Elements& elements = obj->value.elements;
    const std::size_t n = elements.size();
    if ((flags & PyBUF_F_CONTIGUOUS) == PyBUF_F_CONTIGUOUS && n > 1) return err::not_fortran_contiguous();
    // The shape outlives this call: it is the view's own, freed on release.
    Py_ssize_t* shape = nullptr;
    if ((flags & PyBUF_ND) == PyBUF_ND) {
        shape = static_cast<Py_ssize_t*>(PyMem_Malloc(2 * sizeof(Py_ssize_t)));
        if (shape == nullptr) return err::no_memory();
        shape[0] = static_cast<Py_ssize_t>(n);
        shape[1] = 3;
    }
    // An empty list owns no memory; its view still points at something.
    static const double kNothing[3] = {};
    const void* data = n ? static_cast<const void*>(elements.data()) : kNothing;
    view->buf = const_cast<void*>(data);
    view->obj = Py_NewRef(self);
    view->len = static_cast<Py_ssize_t>(n * sizeof(Vec3));
    view->itemsize = sizeof(double);
    view->readonly = 1;
    view->ndim = shape ? 2 : 1;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
    view->shape = shape;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? const_cast<Py_ssize_t*>(kStrides) : nullptr;
    view->suboffsets = nullptr;
    view->internal = shape;
    obj->value.exports.add();
    return 0;
}

void vec_list_release_buffer(PyObject* self, Py_buffer* view) noexcept {
    PyMem_Free(view->internal);
    vec_list(self)->value.exports.remove();
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

ORVATH_VEC_LIST_TABLES
ORVATH_VEC_LIST_ITERATOR_TABLES

// numpy's operators and ufuncs defer to the list's own (NEP 13): without this,
// a numpy scalar on the left of * or + would take the list for an array
// through its buffer and answer with an ndarray where the list's operators
// answer (a VecList, or the interpreter's TypeError).
bool vec_list_finish(PyTypeObject* type) noexcept {
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__array_ufunc__", Py_None) == 0;
}

}  // namespace

TypeCell vec_list_cell{&vec_list_spec, vec_list_finish};
TypeCell vec_list_iterator_cell{&vec_list_iterator_spec};

PyObject* vec_list_from_state(const unsigned char* data, std::size_t n) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return nullptr;
    Elements elements;
    if (!elements.allocate(n)) return err::no_memory();
    const bulk::ElementFormat little{bulk::Scalar::F64, sizeof(double), std::endian::native != std::endian::little};
    const bulk::Rows rows{data, sizeof(Vec3), sizeof(double)};
    if (!bulk::read_rows(*pool, rows, little, elements.data(), n)) return err::chunk_failed(ORVATH_HERE);
    return new_vec_list(std::move(elements));
}

}  // namespace orvath
