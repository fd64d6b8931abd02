// The Python classes VecList, a growable contiguous array of 3-D vectors
// whose element-wise operations run on the process-wide worker pool, and
// VecListIterator, which hands out the elements of a snapshot of one list.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "core/buffer.hpp"
#include "core/float_text.hpp"
#include "core/pool.hpp"
#include "objects.hpp"
#include "surface.hpp"

namespace orvath {
namespace {

using core::Vec3;

// ---------------------------------------------------------------------------
// Blocks. Every array of this file comes from core::alloc_huge, which maps
// blocks of 2 MiB and more directly, backed by huge pages. A fresh mapping is
// faulted in and zeroed by the kernel on first touch, and that costs more
// than the arithmetic of a bulk operation over it; so, as malloc keeps its
// heap, a few freed big blocks are kept and handed to the next request they
// fit. The cache is guarded by a try-lock: a thread that finds it busy (or a
// fork child whose parent was inside it) simply goes to the allocator.
namespace blocks {

constexpr std::size_t kUnit = core::kHugeThreshold;  // mapped blocks span whole 2 MiB pages
constexpr std::size_t kSlots = 4;
constexpr std::size_t kMaxCached = std::size_t{64} << 20;

struct Cache {
    std::atomic<bool> busy{false};
    void* block[kSlots] = {};
    std::size_t bytes[kSlots] = {};
    std::size_t total = 0;

    bool lock() noexcept { return !busy.exchange(true, std::memory_order_acquire); }
    void unlock() noexcept { busy.store(false, std::memory_order_release); }
};

Cache g_cache;

// The size the allocator really provides for a request of `bytes`, so that a
// block can later be freed, resized or cached under that count; 0 on overflow.
std::size_t fit(std::size_t bytes) noexcept {
    if (bytes < kUnit) return bytes;
    if (bytes > std::numeric_limits<std::size_t>::max() - (kUnit - 1)) return 0;
    return (bytes + kUnit - 1) & ~(kUnit - 1);
}

// `bytes` is a fit() size; on return it holds the size of the block given.
void* take(std::size_t& bytes) noexcept {
    if (bytes >= kUnit && g_cache.lock()) {
        std::size_t best = kSlots;
        for (std::size_t s = 0; s < kSlots; ++s) {
            const std::size_t b = g_cache.bytes[s];
            if (g_cache.block[s] && b >= bytes && b / 2 <= bytes && (best == kSlots || b < g_cache.bytes[best]))
                best = s;
        }
        void* p = nullptr;
        if (best != kSlots) {
            p = std::exchange(g_cache.block[best], nullptr);
            bytes = std::exchange(g_cache.bytes[best], 0);
            g_cache.total -= bytes;
        }
        g_cache.unlock();
        if (p) return p;
    }
    return core::alloc_huge(bytes);
}

void give(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes >= kUnit && g_cache.lock()) {
        bool kept = false;
        if (g_cache.total + bytes <= kMaxCached) {
            for (std::size_t s = 0; s < kSlots && !kept; ++s) {
                if (g_cache.block[s] == nullptr) {
                    g_cache.block[s] = p;
                    g_cache.bytes[s] = bytes;
                    g_cache.total += bytes;
                    kept = true;
                }
            }
        }
        g_cache.unlock();
        if (kept) return;
    }
    core::free_huge(p, bytes);
}

}  // namespace blocks

// A contiguous array of plain values: a list's elements, a snapshot, or the
// output of a bulk operation (which a new VecList then adopts as it is).
template <class T>
class Array {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    Array() noexcept = default;
    Array(Array&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          bytes_(std::exchange(o.bytes_, 0)) {}
    Array& operator=(Array&& o) noexcept {
        Array gone(std::move(*this));
        data_ = std::exchange(o.data_, nullptr);
        size_ = std::exchange(o.size_, 0);
        bytes_ = std::exchange(o.bytes_, 0);
        return *this;
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() { blocks::give(data_, bytes_); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    // Makes a fresh array of n uninitialised entries; false when memory is short.
    bool allocate(std::size_t n) noexcept {
        *this = Array();
        if (!reserve(n)) return false;
        size_ = n;
        return true;
    }

    bool append(const T* values, std::size_t n) noexcept {
        if (n == 0) return true;
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T) - size_) return false;
        if ((size_ + n) * sizeof(T) > bytes_ && !grow(size_ + n)) return false;
        std::memcpy(data_ + size_, values, n * sizeof(T));
        size_ += n;
        return true;
    }

    bool push_back(const T& v) noexcept {
        if ((size_ + 1) * sizeof(T) > bytes_ && !grow(size_ + 1)) return false;
        data_[size_++] = v;
        return true;
    }

    // Room for n entries in all, without changing the size.
    bool reserve(std::size_t n) noexcept {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) return false;
        return n * sizeof(T) <= bytes_ || resize_block(n * sizeof(T));
    }

private:
    // Amortised growth: at least double the block.
    bool grow(std::size_t count) noexcept {
        std::size_t want = std::max(count, std::size_t{4}) * sizeof(T);
        if (bytes_ <= std::numeric_limits<std::size_t>::max() / 2) want = std::max(want, 2 * bytes_);
        return resize_block(want);
    }

    bool resize_block(std::size_t want) noexcept {
        std::size_t bytes = blocks::fit(want);
        if (bytes == 0) return false;
        void* p;
        if (data_ == nullptr) {
            p = blocks::take(bytes);
        } else {
            p = core::realloc_huge(data_, bytes_, bytes);
        }
        if (p == nullptr) return false;
        data_ = static_cast<T*>(p);
        bytes_ = bytes;
        return true;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t bytes_ = 0;  // block size, as the allocator must be told it
};

using Elements = Array<Vec3>;

struct IteratorState {
    Elements snapshot;
    std::size_t cursor = 0;
};

using VecListObject = Holder<Elements>;
using VecListIteratorObject = Holder<IteratorState>;

VecListObject* vec_list(PyObject* o) noexcept { return as<VecListObject>(o); }

PyObject* not_implemented() noexcept { Py_RETURN_NOTIMPLEMENTED; }

PyObject* new_vec_list(PyTypeObject* type, Elements&& elements) noexcept {
    return new_holder<VecListObject>(type, std::move(elements));
}

PyObject* new_vec_list(Elements&& elements) noexcept {
    return new_vec_list(vec_list_type(), std::move(elements));
}

// ---------------------------------------------------------------------------
// Kernels: one chunk of one bulk operation, entry i computed from element i by
// the core function that Vec3d uses. Each kernel is compiled for AVX-512, AVX2
// and baseline x86-64 and picked when the module loads. Vectorising keeps
// every IEEE operation and its grouping (the build forbids contraction into
// fused multiply-adds), so all three give the bits of the scalar code; the one
// freedom left is which NaN an operation on two NaNs returns, since the
// compiler may swap the operands of an addition or a multiplication.
//
// GCC and clang pick the clone through an ifunc, which needs ELF and a C
// library that resolves it (glibc; musl does not). Elsewhere (macOS, Windows,
// musl, other architectures) the kernels are built once, for the baseline.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__) && defined(__GLIBC__)
#define ORVATH_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ORVATH_KERNEL
#endif

struct NoOperand {};

template <class T, class P>
using Kernel = void (*)(const Vec3*, T*, std::size_t, std::size_t, P) noexcept;

ORVATH_KERNEL void kernel_dot(const Vec3* __restrict in, double* __restrict out, std::size_t begin,
                              std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::dot(in[i], o);
}

ORVATH_KERNEL void kernel_distance_squared(const Vec3* __restrict in, double* __restrict out, std::size_t begin,
                                           std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::distance_squared(in[i], o);
}

ORVATH_KERNEL void kernel_distance_to(const Vec3* __restrict in, double* __restrict out, std::size_t begin,
                                      std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::distance_to(in[i], o);
}

ORVATH_KERNEL void kernel_magnitude(const Vec3* __restrict in, double* __restrict out, std::size_t begin,
                                    std::size_t end, NoOperand) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::magnitude(in[i]);
}

ORVATH_KERNEL void kernel_is_unit(const Vec3* __restrict in, bool* __restrict out, std::size_t begin,
                                  std::size_t end, NoOperand) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::is_unit(in[i]);
}

ORVATH_KERNEL void kernel_normalize(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                    std::size_t end, NoOperand) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::normalize(in[i]);
}

ORVATH_KERNEL void kernel_cross(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::cross(in[i], o);
}

ORVATH_KERNEL void kernel_add(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                              std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::add(in[i], o);
}

ORVATH_KERNEL void kernel_sub(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                              std::size_t end, Vec3 o) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::sub(in[i], o);
}

ORVATH_KERNEL void kernel_scale(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                std::size_t end, double s) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::scale(in[i], s);
}

ORVATH_KERNEL void kernel_divide(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                 std::size_t end, double s) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::divide(in[i], s);
}

// One loop per axis, so that each folds the axis away.
ORVATH_KERNEL void kernel_collapse(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                   std::size_t end, std::uint64_t axis) noexcept {
    switch (axis) {
        case 0: for (std::size_t i = begin; i < end; ++i) out[i] = core::collapse(in[i], 0); break;
        case 1: for (std::size_t i = begin; i < end; ++i) out[i] = core::collapse(in[i], 1); break;
        default: for (std::size_t i = begin; i < end; ++i) out[i] = core::collapse(in[i], 2); break;
    }
}

ORVATH_KERNEL void kernel_rotate(const Vec3* __restrict in, Vec3* __restrict out, std::size_t begin,
                                 std::size_t end, core::Quat q) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = core::rotate(q, in[i]);
}

// ---------------------------------------------------------------------------
// Running bulk operations on the pool.

// Work per element in the pool's units (about one double operation each);
// they decide whether and how finely an operation is split.
namespace cost {
constexpr std::size_t kOffset = 3;      // + - * collapse: streaming, memory bound
constexpr std::size_t kDivide = 6;
constexpr std::size_t kDot = 5;
constexpr std::size_t kCross = 9;
constexpr std::size_t kLength = 8;      // magnitude, distances, is_unit: a square root
constexpr std::size_t kNormalize = 16;  // a square root and three divisions
constexpr std::size_t kRotate = 30;
constexpr std::size_t kNearest = 6;
constexpr std::size_t kText = 400;      // three shortest round-trip conversions
}  // namespace cost

// The process-wide pool, started by the first bulk operation.
core::Pool* bulk_pool() noexcept {
    std::string error;
    if (core::Pool* pool = core::Pool::instance(&error)) return pool;
    ORVATH_PANIC(error.empty() ? core::Pool::kNotInitialized : error.c_str());
    return nullptr;
}

bool chunk_failed() noexcept {
    return ORVATH_PANIC("a bulk operation chunk failed; its partial output was discarded");
}

// Calls body(begin, end) over [0, n) on the pool, then checks that the chunks
// covered every index exactly once. An operation the pool would not split
// runs here directly.
template <class Body>
bool run_chunks(core::Pool* pool, std::size_t n, std::size_t cost, const Body& body) noexcept {
    if (pool->chunk_count(n, cost) == 1) {
        if (n != 0) body(std::size_t{0}, n);
        return true;
    }
    std::atomic<std::size_t> covered{0};
    const bool ok = pool->for_each_range(n, cost, [&](std::size_t begin, std::size_t end) {
        body(begin, end);
        covered.fetch_add(end - begin, std::memory_order_relaxed);
    });
    if (!ok || covered.load(std::memory_order_relaxed) != n) return chunk_failed();
    return true;
}

// One element-wise bulk operation into `out`, which holds in.size() entries.
template <class T, class P>
bool bulk_map(const Elements& in, T* out, std::size_t cost, Kernel<T, P> kernel, P operand) noexcept {
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return false;
    const Vec3* src = in.data();
    return run_chunks(pool, in.size(), cost,
                      [=](std::size_t b, std::size_t e) { kernel(src, out, b, e, operand); });
}

// A bulk operation whose result is a new VecList adopting the output array.
template <class P>
PyObject* bulk_vec_list(const Elements& in, std::size_t cost, Kernel<Vec3, P> kernel, P operand) noexcept {
    Elements out;
    if (!out.allocate(in.size())) return PyErr_NoMemory();
    if (!bulk_map(in, out.data(), cost, kernel, operand)) return nullptr;
    return new_vec_list(std::move(out));
}

PyObject* float_list(const double* values, std::size_t n) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* f = PyFloat_FromDouble(values[i]);
        if (f == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), f);
    }
    return list.release();
}

PyObject* bool_list(const bool* values, std::size_t n) noexcept {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_bool(values[i]));
    return list.release();
}

// A bulk operation whose result is a Python list built from the output. Short
// outputs live on the stack, which keeps a small list about as cheap as one
// Vec3d call.
template <class T, class P>
PyObject* bulk_list(const Elements& in, std::size_t cost, Kernel<T, P> kernel, P operand,
                    PyObject* (*build)(const T*, std::size_t)) noexcept {
    constexpr std::size_t kOnStack = 64;
    T local[kOnStack];
    Array<T> heap;
    T* out = local;
    if (in.size() > kOnStack) {
        if (!heap.allocate(in.size())) return PyErr_NoMemory();
        out = heap.data();
    }
    if (!bulk_map(in, out, cost, kernel, operand)) return nullptr;
    return build(out, in.size());
}

// ---------------------------------------------------------------------------
// Construction

// Copies the items of any sequence of Vec3d. PyObject_Size only sizes the
// first allocation: a sequence that cannot tell its length still converts.
bool elements_from_sequence(PyObject* seq, Elements& out) noexcept {
    if (PyUnicode_Check(seq)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return err::argument("list");
    }
    if (!PySequence_Check(seq)) return err::type_mismatch(seq, "Sequence", "list");
    const Py_ssize_t hint = PyObject_Size(seq);
    if (hint < 0) PyErr_Clear();
    else (void)out.reserve(static_cast<std::size_t>(hint));  // a refused hint just means growing later
    Ref iter = Ref::steal(PyObject_GetIter(seq));
    if (!iter) return err::argument("list");
    for (;;) {
        PyObject* raw;
        const int r = PyIter_NextItem(iter.get(), &raw);
        if (r < 0) return err::argument("list");
        if (r == 0) return true;
        Ref item = Ref::steal(raw);
        Vec3 v;
        if (!arg_vec3(item.get(), "list", v)) return false;
        if (!out.push_back(v)) return PyErr_NoMemory(), false;
    }
}

PyObject* vec_list_make(PyTypeObject* type, PyObject* const* a) noexcept {
    Elements elements;
    if (!elements_from_sequence(a[0], elements)) return nullptr;
    return new_vec_list(type, std::move(elements));
}

PyObject* vec_list_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_tuple(surface::vec_list_new, args, kwargs, buf);
    return a ? vec_list_make(type, a) : nullptr;
}

PyObject* vec_list_vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                              PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::vec_list_new, args, static_cast<Py_ssize_t>(nargsf), kwnames, buf);
    return a ? vec_list_make(reinterpret_cast<PyTypeObject*>(type), a) : nullptr;
}

PyObject* vec_list_empty(PyObject*, PyObject*) noexcept { return new_vec_list(Elements()); }

// ---------------------------------------------------------------------------
// Container methods

PyObject* vec_list_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::vec_list_append, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    ExclusiveBorrow borrow(obj->borrow);
    if (!borrow) return err::already_borrowed();
    Vec3 v;
    if (!arg_vec3(a[0], "vec", v)) return nullptr;
    if (!obj->value.push_back(v)) return PyErr_NoMemory();
    Py_RETURN_NONE;
}

// `other` is read under its shared borrow while the list holds its exclusive
// one, so extending a list with itself is refused as a borrow conflict.
PyObject* vec_list_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::vec_list_extend, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    ExclusiveBorrow borrow(obj->borrow);
    if (!borrow) return err::already_borrowed();
    if (!is_instance(a[0], vec_list_type())) return err::type_mismatch(a[0], "VecList", "other");
    VecListObject* other = vec_list(a[0]);
    SharedBorrow other_borrow(other->borrow);
    if (!other_borrow) return err::already_mutably_borrowed();
    if (!obj->value.append(other->value.data(), other->value.size())) return PyErr_NoMemory();
    Py_RETURN_NONE;
}

Py_ssize_t vec_list_length(PyObject* self) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return static_cast<int>(err::already_mutably_borrowed());
    return static_cast<Py_ssize_t>(obj->value.size());
}

PyObject* vec_list_subscript(PyObject* self, PyObject* key) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    std::uint64_t index;
    if (!arg_u64(key, "index", index)) return nullptr;
    if (index >= obj->value.size()) return err::index_out_of_bounds();
    return new_vec3d(obj->value.data()[index]);
}

PyObject* vec_list_item(PyObject* self, Py_ssize_t position) noexcept {
    Ref key = Ref::steal(PyLong_FromSsize_t(position));
    return key ? vec_list_subscript(self, key.get()) : nullptr;
}

PyObject* vec_list_get_list(PyObject* self, void*) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    const Elements& elements = obj->value;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(elements.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        PyObject* v = new_vec3d(elements.data()[i]);
        if (v == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
    }
    return list.release();
}

PyObject* vec_list_iter(PyObject* self) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    PyTypeObject* type = vec_list_iterator_type();
    if (type == nullptr) return nullptr;
    Elements snapshot;
    if (!snapshot.append(obj->value.data(), obj->value.size())) return PyErr_NoMemory();
    return new_holder<VecListIteratorObject>(type, std::move(snapshot));
}

// "[" + element texts joined by line feeds + "]". Each chunk formats its own
// run of elements; the runs are joined in element order.
PyObject* vec_list_repr(PyObject* self) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return nullptr;
    const Vec3* in = obj->value.data();
    // The texts are the one per-element allocation of a bulk operation; running
    // out of memory there is the caller's MemoryError, not an internal fault.
    std::atomic<bool> out_of_memory{false};
    auto format = [in, &out_of_memory](std::size_t begin, std::size_t end) {
        std::string text;
        try {
            text.reserve((end - begin) * 32);
            for (std::size_t i = begin; i < end; ++i) {
                if (i != begin) text += '\n';
                text += "Vec3d(";
                core::append_double(text, in[i].x);
                text += ", ";
                core::append_double(text, in[i].y);
                text += ", ";
                core::append_double(text, in[i].z);
                text += ')';
            }
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
            throw;
        }
        return text;
    };
    auto join = [&out_of_memory](std::string left, std::string right) {
        try {
            left += '\n';
            left += right;
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
            throw;
        }
        return left;
    };
    std::optional<std::string> text =
        pool->reduce_ranges(obj->value.size(), cost::kText, std::string(), format, join);
    if (!text) return out_of_memory.load() ? PyErr_NoMemory() : (chunk_failed(), nullptr);
    // Every character of the float text is ASCII.
    const std::size_t n = text->size();
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n + 2), 127);
    if (s == nullptr) return nullptr;
    Py_UCS1* out = PyUnicode_1BYTE_DATA(s);
    out[0] = '[';
    if (n) std::memcpy(out + 1, text->data(), n);
    out[n + 1] = ']';
    return s;
}

// ---------------------------------------------------------------------------
// Bulk members. Entry i is always the core function of Vec3d applied to
// element i, so a list result equals the Vec3d results element for element.

// Members whose one parameter is the Vec3d `other`: parse, borrow the list for
// the whole call, read `other`, run the kernel and build the result.
template <class T, class Build>
PyObject* with_other(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, Kernel<T, Vec3> kernel, std::size_t cost, Build build) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(sig, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    Vec3 other;
    if (!arg_vec3(a[0], "other", other)) return nullptr;
    if constexpr (std::is_same_v<T, Vec3>)
        return bulk_vec_list(obj->value, cost, kernel, other);
    else
        return bulk_list(obj->value, cost, kernel, other, build);
}

// Members without parameters.
template <class T, class Build>
PyObject* with_elements(PyObject* self, Kernel<T, NoOperand> kernel, std::size_t cost, Build build) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    if constexpr (std::is_same_v<T, Vec3>)
        return bulk_vec_list(obj->value, cost, kernel, NoOperand{});
    else
        return bulk_list(obj->value, cost, kernel, NoOperand{}, build);
}

PyObject* vec_list_dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<double>(self, surface::vec_list_dot, args, nargs, kwnames, kernel_dot, cost::kDot,
                              float_list);
}

PyObject* vec_list_cross(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return with_other<Vec3>(self, surface::vec_list_cross, args, nargs, kwnames, kernel_cross, cost::kCross,
                            nullptr);
}

PyObject* vec_list_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    return with_other<double>(self, surface::vec_list_distance_to, args, nargs, kwnames, kernel_distance_to,
                              cost::kLength, float_list);
}

PyObject* vec_list_distance_squared(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept {
    return with_other<double>(self, surface::vec_list_distance_squared, args, nargs, kwnames,
                              kernel_distance_squared, cost::kDot, float_list);
}

PyObject* vec_list_magnitude(PyObject* self, PyObject*) noexcept {
    return with_elements<double>(self, kernel_magnitude, cost::kLength, float_list);
}

PyObject* vec_list_normalize(PyObject* self, PyObject*) noexcept {
    return with_elements<Vec3>(self, kernel_normalize, cost::kNormalize, nullptr);
}

PyObject* vec_list_is_unit(PyObject* self, PyObject*) noexcept {
    return with_elements<bool>(self, kernel_is_unit, cost::kLength, bool_list);
}

// The elements are already the triples, so the rows are built straight from
// them while the borrow keeps them still.
PyObject* vec_list_to_array(PyObject* self, PyObject*) noexcept {
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    if (bulk_pool() == nullptr) return nullptr;
    const Elements& in = obj->value;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(in.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const Vec3& e = in.data()[i];
        PyObject* row = float_list(&e.x, 3);
        if (row == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), row);
    }
    return list.release();
}

PyObject* vec_list_collapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::vec_list_collapse, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    std::uint64_t axis;
    if (!arg_u64(a[0], "axis", axis)) return nullptr;
    if (axis > 2) return ORVATH_PANIC("assertion failed: axis <= 2");
    return bulk_vec_list(obj->value, cost::kOffset, kernel_collapse, axis);
}

// The rotated elements go to a new array that replaces the old one only once
// every chunk has finished, so a failure leaves the list as it was.
PyObject* vec_list_rotate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* buf[1];
    PyObject* const* a = parse_args(surface::vec_list_rotate, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    ExclusiveBorrow borrow(obj->borrow);
    if (!borrow) return err::already_borrowed();
    core::Quat q;
    if (!arg_quat(a[0], "quat", q)) return nullptr;
    Elements out;
    if (!out.allocate(obj->value.size())) return PyErr_NoMemory();
    if (!bulk_map(obj->value, out.data(), cost::kRotate, kernel_rotate, q)) return nullptr;
    obj->value = std::move(out);
    Py_RETURN_NONE;
}

// ---------------------------------------------------------------------------
// minimum_distance_to: the best of every stride-th element, then the best of
// that sample's neighbourhood.

// Squared distances ordered by IEEE 754 totalOrder: flipping the magnitude
// bits of negative patterns makes signed integer order the total order (a NaN
// with the sign bit set sorts below everything, one without above +inf).
inline std::int64_t total_order_key(double d) noexcept {
    const std::int64_t bits = std::bit_cast<std::int64_t>(d);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// The search key of element e. The sum ((dx² + dy²) + dz²) evaluated in that
// order on x86-64 carries the first NaN among the differences, but the
// compiler may swap the operands of an addition, in vector code especially;
// so when the squared distance is NaN that NaN is picked explicitly, and
// every code path (and so every way of splitting the list) agrees on its sign.
inline std::int64_t nearest_key(const Vec3& e, const Vec3& o) noexcept {
    const double d = core::distance_squared(e, o);
    const double dx = e.x - o.x, dy = e.y - o.y, dz = e.z - o.z;
    const double first_nan = dx != dx ? dx : (dy != dy ? dy : dz);
    return total_order_key(d != d ? first_nan : d);
}

struct Nearest {
    std::int64_t key;
    std::size_t index;  // kNone until a first element was seen
};
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Combining chunk results: the left one wins unless the right one is strictly smaller.
inline Nearest nearer(Nearest left, Nearest right) noexcept { return right.key < left.key ? right : left; }

// The smallest key among the elements in[j * step] for j in [begin, end), as
// (key, j); the lowest j among equal keys. Keys are computed a block at a
// time so that the key and minimum loops stay simple enough to vectorise.
ORVATH_KERNEL Nearest nearest_in(const Vec3* __restrict in, std::size_t step, std::size_t begin, std::size_t end,
                                 Vec3 o) noexcept {
    constexpr std::size_t kBlock = 256;
    std::int64_t keys[kBlock];
    Nearest best{0, kNone};
    for (std::size_t base = begin; base < end; base += kBlock) {
        const std::size_t m = std::min(kBlock, end - base);
        const Vec3* p = in + base * step;
        if (step == 1) {
            for (std::size_t j = 0; j < m; ++j) keys[j] = nearest_key(p[j], o);
        } else {
            for (std::size_t j = 0; j < m; ++j) keys[j] = nearest_key(p[j * step], o);
        }
        std::int64_t low = keys[0];
        for (std::size_t j = 1; j < m; ++j) low = std::min(low, keys[j]);
        if (best.index == kNone || low < best.key) {
            std::size_t j = 0;
            while (keys[j] != low) ++j;
            best = {low, base + j};
        }
    }
    return best;
}

// The nearest of `count` (at least one) samples spaced `step` apart. Samples
// further apart than one element each cost a cache line of their own.
std::optional<Nearest> nearest(core::Pool* pool, const Vec3* in, std::size_t step, std::size_t count,
                               Vec3 o) noexcept {
    if (count <= 8) {  // too short for the vector kernel to pay its set-up
        Nearest best{nearest_key(in[0], o), 0};
        for (std::size_t j = 1; j < count; ++j) {
            const std::int64_t key = nearest_key(in[j * step], o);
            if (key < best.key) best = {key, j};
        }
        return best;
    }
    const std::size_t per_sample = step == 1 ? cost::kNearest : 4 * cost::kNearest;
    if (pool->chunk_count(count, per_sample) == 1) return nearest_in(in, step, 0, count, o);
    auto chunk = [=](std::size_t b, std::size_t e) { return nearest_in(in, step, b, e, o); };
    return pool->reduce_ranges(count, per_sample, Nearest{0, kNone}, chunk, nearer);
}

PyObject* vec_list_minimum_distance_to(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) noexcept {
    PyObject* buf[2];
    PyObject* const* a = parse_args(surface::vec_list_minimum_distance_to, args, nargs, kwnames, buf);
    if (a == nullptr) return nullptr;
    VecListObject* obj = vec_list(self);
    SharedBorrow borrow(obj->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    // `other` stays borrowed while `stride` converts: __index__ is Python code.
    HeldArg<Vec3dObject> other;
    if (!other.read(a[0], vec3d_type(), "other")) return nullptr;
    std::uint64_t stride;
    if (!arg_u64(a[1], "stride", stride)) return nullptr;
    if (stride == 0) return ORVATH_PANIC("assertion failed: stride != 0");
    core::Pool* pool = bulk_pool();
    if (pool == nullptr) return nullptr;

    const Elements& elements = obj->value;
    const std::size_t n = elements.size();
    if (n == 0) return ORVATH_PANIC("called `Option::unwrap()` on a `None` value");
    const Vec3* in = elements.data();
    const Vec3 o = other.value;

    const std::size_t samples = (n - 1) / stride + 1;
    const std::optional<Nearest> coarse = nearest(pool, in, stride, samples, o);
    if (!coarse || coarse->index == kNone) return chunk_failed(), nullptr;
    const std::size_t c = coarse->index * stride;

    const std::size_t start = c >= stride ? c - stride : 0;
    const std::size_t end = stride <= n - c ? c + stride : n;
    const std::optional<Nearest> fine = nearest(pool, in + start, 1, end - start, o);
    if (!fine || fine->index == kNone) return chunk_failed(), nullptr;
    const std::size_t index = start + fine->index;

    Ref result = Ref::steal(PyTuple_New(2));
    if (!result) return nullptr;
    PyObject* position = PyLong_FromSize_t(index);
    if (position == nullptr) return nullptr;
    PyTuple_SET_ITEM(result.get(), 0, position);
    PyObject* distance = new_float(core::distance_to(in[index], o));
    if (distance == nullptr) return nullptr;
    PyTuple_SET_ITEM(result.get(), 1, distance);
    return result.release();
}

// ---------------------------------------------------------------------------
// Number slots, under the NotImplemented rule: an operand pair that does not
// convert is not ours, and its error is dropped. Once both operands are read,
// a failure of the operation itself is a real error.

template <Kernel<Vec3, Vec3> Op>
PyObject* vec_list_offset(PyObject* list, PyObject* vector) noexcept {
    if (!is_instance(list, vec_list_type())) return not_implemented();
    VecListObject* obj = vec_list(list);
    SharedBorrow borrow(obj->borrow);
    Vec3 o;
    if (!borrow || !try_value<Vec3dObject>(vector, vec3d_type(), o)) return not_implemented();
    return bulk_vec_list(obj->value, cost::kOffset, Op, o);
}

// One reading of `list * number`: null without an error when it does not
// apply. The list stays borrowed while the number converts (__float__ may be
// arbitrary Python code).
PyObject* vec_list_scaled(PyObject* list, PyObject* number, bool& applied) noexcept {
    if (!is_instance(list, vec_list_type())) return nullptr;
    VecListObject* obj = vec_list(list);
    SharedBorrow borrow(obj->borrow);
    double s;
    if (!borrow || !to_double(number, s)) {
        PyErr_Clear();
        return nullptr;
    }
    applied = true;
    return bulk_vec_list(obj->value, cost::kOffset, kernel_scale, s);
}

PyObject* vec_list_multiply(PyObject* left, PyObject* right) noexcept {
    bool applied = false;
    PyObject* r = vec_list_scaled(left, right, applied);
    if (applied) return r;
    r = vec_list_scaled(right, left, applied);
    if (applied) return r;
    return not_implemented();
}

PyObject* vec_list_true_divide(PyObject* left, PyObject* right) noexcept {
    if (!is_instance(left, vec_list_type())) return not_implemented();
    VecListObject* obj = vec_list(left);
    SharedBorrow borrow(obj->borrow);
    double s;
    if (!borrow || !to_double(right, s)) {
        PyErr_Clear();
        return not_implemented();
    }
    return bulk_vec_list(obj->value, cost::kDivide, kernel_divide, s);
}

// ---------------------------------------------------------------------------
// VecListIterator

PyObject* vec_list_iterator_iter(PyObject* self) noexcept {
    PyTypeObject* type = vec_list_iterator_type();
    if (type == nullptr) return nullptr;
    if (!is_instance(self, type)) return err::type_mismatch(self, "VecListIterator", "self");
    SharedBorrow borrow(as<VecListIteratorObject>(self)->borrow);
    if (!borrow) return err::already_mutably_borrowed();
    return Py_NewRef(self);
}

// The end is reported as NULL without an exception; the snapshot is dropped
// then, since an exhausted iterator never reads it again.
PyObject* vec_list_iterator_next(PyObject* self) noexcept {
    VecListIteratorObject* it = as<VecListIteratorObject>(self);
    ExclusiveBorrow borrow(it->borrow);
    if (!borrow) return err::already_borrowed();
    IteratorState& state = it->value;
    if (state.cursor >= state.snapshot.size()) {
        state.snapshot = Elements();
        state.cursor = 0;
        return nullptr;
    }
    PyObject* v = new_vec3d(state.snapshot.data()[state.cursor]);
    if (v != nullptr) ++state.cursor;
    return v;
}

// ---------------------------------------------------------------------------
// Tables

constexpr int kArgs = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef vec_list_methods[] = {
    {"empty", method_cast<vec_list_empty>(), METH_NOARGS | METH_STATIC, surface::vec_list_empty_doc},
    {"append", method_cast<vec_list_append>(), kArgs, surface::vec_list_append_doc},
    {"collapse", method_cast<vec_list_collapse>(), kArgs, surface::vec_list_collapse_doc},
    {"cross", method_cast<vec_list_cross>(), kArgs, surface::vec_list_cross_doc},
    {"distance_squared", method_cast<vec_list_distance_squared>(), kArgs, surface::vec_list_distance_squared_doc},
    {"distance_to", method_cast<vec_list_distance_to>(), kArgs, surface::vec_list_distance_to_doc},
    {"dot", method_cast<vec_list_dot>(), kArgs, surface::vec_list_dot_doc},
    {"extend", method_cast<vec_list_extend>(), kArgs, surface::vec_list_extend_doc},
    {"is_unit", method_cast<vec_list_is_unit>(), METH_NOARGS, surface::vec_list_is_unit_doc},
    {"magnitude", method_cast<vec_list_magnitude>(), METH_NOARGS, surface::vec_list_magnitude_doc},
    {"minimum_distance_to", method_cast<vec_list_minimum_distance_to>(), kArgs,
     surface::vec_list_minimum_distance_to_doc},
    {"normalize", method_cast<vec_list_normalize>(), METH_NOARGS, surface::vec_list_normalize_doc},
    {"rotate", method_cast<vec_list_rotate>(), kArgs, surface::vec_list_rotate_doc},
    {"to_array", method_cast<vec_list_to_array>(), METH_NOARGS, surface::vec_list_to_array_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef vec_list_getset[] = {
    {"list", vec_list_get_list, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot vec_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(surface::vec_list_doc)},
    {Py_tp_dealloc, slot(holder_dealloc<VecListObject>)},
    {Py_tp_new, slot(vec_list_new)},
    {Py_tp_vectorcall, slot(vec_list_vectorcall)},
    {Py_tp_methods, vec_list_methods},
    {Py_tp_getset, vec_list_getset},
    {Py_tp_repr, slot(vec_list_repr)},
    {Py_tp_iter, slot(vec_list_iter)},
    {Py_mp_length, slot(vec_list_length)},
    {Py_mp_subscript, slot(vec_list_subscript)},
    {Py_sq_item, slot(vec_list_item)},
    {Py_nb_add, slot(vec_list_offset<kernel_add>)},
    {Py_nb_subtract, slot(vec_list_offset<kernel_sub>)},
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
