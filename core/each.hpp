// Whole-array operations of two lists and of an index array: element-wise
// pairs (entry i from element i of each list) and the gather by index.
//
// Entry i of a pair operation is the core function of the single vector
// applied to the two elements i, so the results equal the single results
// element for element, bit for bit, whatever the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/bulk.hpp"
#include "core/pool.hpp"
#include "core/vec3.hpp"

namespace orvath::core::bulk {

// (a, b) -> F(a, b) with the core functions.
template <class R, R (*F)(const Vec3&, const Vec3&) noexcept, std::size_t Cost>
struct Pairwise {
    using Out = R;
    static constexpr std::size_t kCost = Cost;
    R operator()(const Vec3& a, const Vec3& b) const noexcept { return F(a, b); }
};

using AddEach = Pairwise<Vec3, add, cost::kOffset>;
using SubEach = Pairwise<Vec3, sub, cost::kOffset>;
using CrossEach = Pairwise<Vec3, cross, cost::kCross>;
using DotEach = Pairwise<double, dot, cost::kDot>;
template <>
inline constexpr bool kComponentWise<AddEach> = true;
template <>
inline constexpr bool kComponentWise<SubEach> = true;

// out[i] = op(a[i], b[i]) for i in [begin, end); defined in each.cpp for the
// operations above, cloned like the single-list kernels.
template <class Op>
void pair_kernel(const Vec3* a, const Vec3* b, typename Op::Out* __restrict out, std::size_t begin,
                 std::size_t end, Op op) noexcept;

// out[i] = op(a[i], b[i]) for every i in [0, n); a and b may be the same array.
template <class Op>
bool map_pairs(Pool& pool, const Vec3* a, const Vec3* b, typename Op::Out* out, std::size_t n, Op op) noexcept {
    return run_chunks(pool, n, tuning<Op>, [=](std::size_t s, std::size_t e) { pair_kernel<Op>(a, b, out, s, e, op); });
}

// ---------------------------------------------------------------------------
// Gathering by index

// `count` integers of one integer format (any width, signedness and byte
// order): integer k lives at base + k * stride (bytes, negative or zero allowed).
struct Indices {
    const unsigned char* base;
    std::ptrdiff_t stride;
    ElementFormat format;
    std::size_t count;
};

// True for the formats an index may have: the integers, not floats or bool.
bool is_index_format(const ElementFormat& format) noexcept;

// The first index outside [0, length): its position and its value, as a sign
// and a magnitude.
struct BadIndex {
    std::size_t position;
    bool negative;
    std::uint64_t magnitude;
};

enum class IndexCheck { Ok, Bad, Failed };

// Looks at every index (on the pool for long arrays); Bad fills `bad` with the
// lowest bad position.
IndexCheck check_indices(Pool& pool, const Indices& indices, std::size_t length, BadIndex& bad) noexcept;

// out[k] = in[index k] for k in [0, indices.count), `in` holding `length`
// elements. Each index is tested again as it is read: memory that another
// thread rewrote after check_indices gives Bad (the output is then partial),
// never a read outside `in`.
IndexCheck gather(Pool& pool, const Vec3* in, std::size_t length, const Indices& indices, Vec3* out) noexcept;

}  // namespace orvath::core::bulk
