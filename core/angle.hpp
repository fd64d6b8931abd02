// Angle constants, reciprocal trigonometric functions and unit conversions.
// Angles are plain doubles and are never wrapped into a range. The operation
// order written below is the intended one: conversions multiply first and
// divide second, and reciprocals are true divisions of 1.0.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace orvath::core {

// The doubles nearest to the named multiples of pi, pinned by their bits so a
// typo in a literal cannot go unnoticed.
inline constexpr double PI = 0x1.921fb54442d18p+1;
inline constexpr double TWO_PI = 0x1.921fb54442d18p+2;
inline constexpr double HALF_PI = 0x1.921fb54442d18p+0;
inline constexpr double QUARTER_PI = 0x1.921fb54442d18p-1;
inline constexpr double THIRD_PI = 0x1.0c152382d7365p+0;
inline constexpr double SIXTH_PI = 0x1.0c152382d7365p-1;

static_assert(std::bit_cast<std::uint64_t>(PI) == 0x400921FB54442D18ULL);
static_assert(std::bit_cast<std::uint64_t>(TWO_PI) == 0x401921FB54442D18ULL);
static_assert(std::bit_cast<std::uint64_t>(HALF_PI) == 0x3FF921FB54442D18ULL);
static_assert(std::bit_cast<std::uint64_t>(QUARTER_PI) == 0x3FE921FB54442D18ULL);
static_assert(std::bit_cast<std::uint64_t>(THIRD_PI) == 0x3FF0C152382D7365ULL);
static_assert(std::bit_cast<std::uint64_t>(SIXTH_PI) == 0x3FE0C152382D7365ULL);

// The C library's functions of one double, as functions of this layer (the
// standard ones are overloaded and may not have their address taken).
inline double sin(double x) noexcept { return std::sin(x); }
inline double cos(double x) noexcept { return std::cos(x); }
inline double tan(double x) noexcept { return std::tan(x); }

// A zero denominator gives an infinity signed like that zero; cot is not
// cos/sin, so it agrees with 1/tan to the bit.
inline double sec(double x) noexcept { return 1.0 / std::cos(x); }
inline double csc(double x) noexcept { return 1.0 / std::sin(x); }
inline double cot(double x) noexcept { return 1.0 / std::tan(x); }

inline constexpr double radians_to_degrees(double x) noexcept { return (x * 180.0) / PI; }
inline constexpr double degrees_to_radians(double d) noexcept { return (d * PI) / 180.0; }

}  // namespace orvath::core
