// Bulk operations over contiguous arrays of vectors: the element operations of
// the VecList members, the work each costs the pool, the nearest-element
// search, the element text, and copying vectors in from foreign memory.
//
// Entry i of every element-wise operation is the core function of the single
// vector applied to element i, so a bulk result equals the single results
// element for element, bit for bit, whatever the number of threads. The one
// freedom vector code takes is which NaN an operation on two NaNs returns (the
// compiler may swap the operands of an addition or a multiplication).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/pool.hpp"
#include "core/quat.hpp"
#include "core/vec3.hpp"

namespace orvath::core::bulk {

// Work per element in the pool's units (about a tenth of a nanosecond each),
// measured for the AVX-512 kernels on lists of 2e4 and 2e5 elements. They are
// only priors: the process-wide pool splits an operation by what operations
// of its kind took on the machine it runs on (Tuning, in core/pool.hpp);
// private pools split by these costs.
namespace cost {
inline constexpr std::size_t kOffset = 6;      // + - * collapse, copy: streaming, memory bound
inline constexpr std::size_t kDivide = 6;
inline constexpr std::size_t kDot = 4;         // dot, distance_squared: one double out
inline constexpr std::size_t kCross = 6;
inline constexpr std::size_t kLength = 4;      // magnitude, distance, is_unit: a square root, one value out
inline constexpr std::size_t kNormalize = 9;   // a square root and three divisions
inline constexpr std::size_t kRotate = 11;
inline constexpr std::size_t kNearest = 5;     // one key of the nearest search, consecutive elements
inline constexpr std::size_t kText = 2500;     // three shortest round-trip conversions
inline constexpr std::size_t kConvert = 10;    // three loads from any layout, each converted to double
}  // namespace cost

// ---------------------------------------------------------------------------
// Element operations: `Out operator()(const Vec3&)` and the cost of one call.

// e -> F(e, other), e -> F(e) and e -> F(e, s) with the core functions.
template <class R, R (*F)(const Vec3&, const Vec3&) noexcept, std::size_t Cost>
struct WithVector {
    using Out = R;
    static constexpr std::size_t kCost = Cost;
    Vec3 other;
    R operator()(const Vec3& e) const noexcept { return F(e, other); }
};

template <class R, R (*F)(const Vec3&) noexcept, std::size_t Cost>
struct OfElement {
    using Out = R;
    static constexpr std::size_t kCost = Cost;
    R operator()(const Vec3& e) const noexcept { return F(e); }
};

template <Vec3 (*F)(const Vec3&, double) noexcept, std::size_t Cost>
struct WithScalar {
    using Out = Vec3;
    static constexpr std::size_t kCost = Cost;
    double s;
    Vec3 operator()(const Vec3& e) const noexcept { return F(e, s); }
};

// The lengths: the kernel runs `plain`, the formula without the scaling, as
// vector code, and redoes with the full function the rare elements that
// `rescale` flags (the lengths in vec3.hpp), so each entry keeps the bits of
// the single call.
struct DistanceTo {
    using Out = double;
    static constexpr std::size_t kCost = cost::kLength;
    Vec3 other;
    double operator()(const Vec3& e) const noexcept { return distance_to(e, other); }
    double plain(const Vec3& e) const noexcept { return plain_magnitude(sub(e, other)); }
    bool rescale(const Vec3& e) const noexcept { return outside_normal_range(distance_squared(e, other)); }
};
template <class R, R (*F)(const Vec3&) noexcept, R (*Plain)(const Vec3&) noexcept, std::size_t Cost>
struct OfLength : OfElement<R, F, Cost> {
    R plain(const Vec3& e) const noexcept { return Plain(e); }
    bool rescale(const Vec3& e) const noexcept { return outside_normal_range(dot(e, e)); }
};

using Dot = WithVector<double, dot, cost::kDot>;
using DistanceSquared = WithVector<double, distance_squared, cost::kDot>;
using Cross = WithVector<Vec3, cross, cost::kCross>;
using Add = WithVector<Vec3, add, cost::kOffset>;
using Sub = WithVector<Vec3, sub, cost::kOffset>;
using Magnitude = OfLength<double, magnitude, plain_magnitude, cost::kLength>;
using IsUnit = OfElement<bool, is_unit, cost::kLength>;
using Normalize = OfLength<Vec3, normalize, plain_normalize, cost::kNormalize>;
using Scale = WithScalar<scale, cost::kOffset>;
using Divide = WithScalar<divide, cost::kDivide>;

// Operations whose x, y and z each come from the same component of the
// operands alone. Their plain loop is vector code in the x y z x y z layout
// itself, so they never move vectors into axis registers (core/lanes.hpp):
// on the AVX2 clone the shuffles made `+ - *` 10 to 25 % slower in the caches.
template <class Op>
inline constexpr bool kComponentWise = false;
template <>
inline constexpr bool kComponentWise<Add> = true;
template <>
inline constexpr bool kComponentWise<Sub> = true;
template <>
inline constexpr bool kComponentWise<Scale> = true;
template <>
inline constexpr bool kComponentWise<Divide> = true;

// One type per axis, so that each loop folds its axis away.
template <std::uint64_t Axis>
struct Collapse {
    static_assert(Axis <= 2);
    using Out = Vec3;
    static constexpr std::size_t kCost = cost::kOffset;
    Vec3 operator()(const Vec3& e) const noexcept { return collapse(e, Axis); }
};

struct Rotate {
    using Out = Vec3;
    static constexpr std::size_t kCost = cost::kRotate;
    Quat quat;
    Vec3 operator()(const Vec3& e) const noexcept { return rotate(quat, e); }
};

// Every element-wise operation, each listed once: bulk.cpp instantiates (and
// clones) the kernels of this list. A new operation is its struct above and a
// row here; in place, a row of the second list too.
#define ORVATH_BULK_OPERATIONS(X)                                                                       \
    X(Dot) X(DistanceSquared) X(DistanceTo) X(Cross) X(Add) X(Sub) X(Magnitude) X(IsUnit) X(Normalize) \
    X(Scale) X(Divide) X(Collapse<0>) X(Collapse<1>) X(Collapse<2>) X(Rotate)
#define ORVATH_BULK_IN_PLACE_OPERATIONS(X) X(Rotate)

// ---------------------------------------------------------------------------
// Running element-wise operations on the pool.

// What the pool has measured of each operation (one per struct).
template <class Op>
inline Tuning tuning{Op::kCost};

// out[i] = op(in[i]) for i in [begin, end). Defined in bulk.cpp for each
// operation above, compiled for AVX-512, AVX2 and baseline x86-64 and picked
// when the library loads.
template <class Op>
void kernel(const Vec3* __restrict in, typename Op::Out* __restrict out, std::size_t begin, std::size_t end,
            Op op) noexcept;

// Calls body(begin, end) over [0, n) on the pool as planned from `tuning`
// (timed, when the plan says so), then checks that the chunks covered every
// index exactly once. False when a chunk failed: the output must then be
// discarded.
template <class Body>
bool run_chunks(Pool& pool, std::size_t n, Tuning& tuning, const Body& body) noexcept {
    return Pool::timed(pool.plan(n, tuning), tuning, [&](const Pool::Plan& plan) {
        std::atomic<std::size_t> covered{0};
        const bool ok = pool.for_each_range(plan, [&](std::size_t begin, std::size_t end) {
            body(begin, end);
            covered.fetch_add(end - begin, std::memory_order_relaxed);
        });
        return ok && covered.load(std::memory_order_relaxed) == n;
    });
}

// out[i] = op(in[i]) for every i in [0, n); out holds n entries.
template <class Op>
bool map(Pool& pool, const Vec3* in, typename Op::Out* out, std::size_t n, Op op) noexcept {
    return run_chunks(pool, n, tuning<Op>, [=](std::size_t b, std::size_t e) { kernel<Op>(in, out, b, e, op); });
}

// data[i] = op(data[i]) for every i in [0, n): an operation whose entry i
// depends on element i alone may overwrite its input. The kernels cannot
// fail, so no error leaves the array half done.
template <class Op>
void kernel_in_place(Vec3* data, std::size_t begin, std::size_t end, Op op) noexcept;

template <class Op>
bool map_in_place(Pool& pool, Vec3* data, std::size_t n, Op op) noexcept {
    return run_chunks(pool, n, tuning<Op>,
                      [=](std::size_t b, std::size_t e) { kernel_in_place<Op>(data, b, e, op); });
}

// collapse with an axis known only at run time (at most 2).
bool collapse(Pool& pool, const Vec3* in, Vec3* out, std::size_t n, std::uint64_t axis) noexcept;

// ---------------------------------------------------------------------------
// The nearest element: the best of every stride-th element (the coarse pass),
// then the best of the neighbourhood within stride positions of it (the fine
// pass). Keys are squared distances ordered by IEEE 754 totalOrder; only a
// strictly smaller key replaces the best, so the lowest index wins ties.

struct Nearest {
    std::size_t index;
    double distance;
};

// The cost the pool is told per key when keys are `step` elements apart:
// samples further apart than one element each cost a cache line of their own.
constexpr std::size_t nearest_cost(std::size_t step) noexcept {
    return step == 1 ? cost::kNearest : 4 * cost::kNearest;
}

// For n > 0 and stride > 0; nullopt when a chunk failed.
std::optional<Nearest> minimum_distance_to(Pool& pool, const Vec3* in, std::size_t n, const Vec3& other,
                                           std::size_t stride) noexcept;

// ---------------------------------------------------------------------------
// Text: "Vec3d(x, y, z)" per element in the float text form, joined by line
// feeds, formatted on the pool.

enum class TextStatus { Ok, OutOfMemory, Failed };

TextStatus format_elements(Pool& pool, const Vec3* in, std::size_t n, std::string& out) noexcept;

// ---------------------------------------------------------------------------
// Copying vectors in from memory laid out by someone else: an exported buffer,
// a pickled block. Nothing is assumed about the alignment of the source.

// n vectors, 24 bytes each, copied byte for byte from `src` to `dst` (which
// must not overlap), in chunks on the pool. NaN payloads, signalling NaNs
// included, arrive unchanged.
bool copy_vectors(Pool& pool, const void* src, void* dst, std::size_t n) noexcept;

// The number types a buffer may hold, by the struct-module codes of PEP 3118:
// d f e (binary64, binary32, binary16), b B h H i I l L q Q n N (integers), ? (bool).
enum class Scalar : std::uint8_t { F64, F32, F16, I8, U8, I16, U16, I32, U32, I64, U64, Bool };

struct ElementFormat {
    Scalar type;
    std::size_t size;  // bytes per element
    bool swapped;      // stored in the other byte order than this machine's
};

// The format of one element: an optional byte-order mark ('@' and '^' native,
// '=' native order with standard sizes, '<' little, '>' and '!' big), then one
// of the codes above. nullopt for anything else: complex ("Zd"), objects
// ("O"), bytes ("3s"), structures, several codes, repeat counts, pointers.
std::optional<ElementFormat> parse_format(std::string_view format) noexcept;

// Rows of three numbers: number k of row i lives at base + i * row + k * column
// (strides in bytes, negative or zero allowed).
struct Rows {
    const unsigned char* base;
    std::ptrdiff_t row;
    std::ptrdiff_t column;
};

// out[i] = the three numbers of row i, i in [0, n), each converted to double
// as Python's float() converts the scalar: exactly for every float format,
// rounded to nearest-even for integers beyond 2^53, 1.0 or 0.0 for a bool
// (any non-zero byte is true). Native doubles in 24-byte rows are copied as
// bytes. On the pool above the serial cutoff; false when a chunk failed.
bool read_rows(Pool& pool, const Rows& rows, const ElementFormat& format, Vec3* out, std::size_t n) noexcept;

}  // namespace orvath::core::bulk
