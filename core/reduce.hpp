// Reductions of a whole array of vectors to one result, on the pool: the
// componentwise exact sum and the componentwise bounds. Both give the same
// bits however the pool cuts the array and in whatever order its elements
// stand.
#pragma once

#include <cstddef>

#include "core/pool.hpp"
#include "core/vec3.hpp"

namespace orvath::core::bulk {

// Work per element in the pool's units (see core/bulk.hpp).
namespace cost {
inline constexpr std::size_t kSum = 10;     // three exact additions, mostly cut in vector registers
inline constexpr std::size_t kBounds = 6;   // six comparisons, streaming
}  // namespace cost

// Each component of `out` is the exact sum of that component over in[0, n),
// rounded once to the nearest double (see core/exact_sum.hpp); (0, 0, 0) for
// n == 0. False when a chunk failed.
bool exact_sum(Pool& pool, const Vec3* in, std::size_t n, Vec3& out) noexcept;

// The componentwise minimum and maximum of in[0, n), n > 0, with -0.0 below
// +0.0; a component holding a NaN anywhere is NaN in both. False when a chunk
// failed.
bool bounds(Pool& pool, const Vec3* in, std::size_t n, Vec3& low, Vec3& high) noexcept;

}  // namespace orvath::core::bulk
