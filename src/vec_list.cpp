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
#include "core/pool.hpp"
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
template <class Op, const Signature& Sig>
PyObject* vec_list_bulk_with(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return vec_list_read_with(self, Sig, args, nargs, kwnames,
                              [](const Elements& elements, PyObject* const* a) {
                                  return bind::apply<bind::Vec3d>(
                                      Sig, a, [&](const Vec3& other) { return bulk_result(elements, Op{other}); });
                              });
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
