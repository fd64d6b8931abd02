// Bit-exact comparisons for the core tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/vec3.hpp"

namespace orvath::test {

inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double INF = std::numeric_limits<double>::infinity();

inline std::uint64_t bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Bit-identical, except that any NaN matches an expected NaN.
inline ::testing::AssertionResult Same(double got, double want) {
    if (std::isnan(want) ? std::isnan(got) : bits(got) == bits(want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << got << " is not " << want;
}

inline ::testing::AssertionResult SameVec(const core::Vec3& got, const core::Vec3& want) {
    if (Same(got.x, want.x) && Same(got.y, want.y) && Same(got.z, want.z)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << "(" << got.x << ", " << got.y << ", " << got.z
                                         << ") is not (" << want.x << ", " << want.y << ", " << want.z << ")";
}

}  // namespace orvath::test
