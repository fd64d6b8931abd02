// Three-component double vector and every computation on it.
//
// Results must agree to the bit across builds and with the bulk kernels that
// call these same functions, so each expression is written in the exact
// operation order intended: sums of three terms are ((p + q) + r), divisions
// stay divisions, and the build disables contraction into fused multiply-adds.
// Nothing here checks for zero lengths or non-finite input; NaN and infinities
// flow through to the result.
#pragma once

#include <cmath>
#include <cstdint>

namespace orvath::core {

struct Vec3 {
    double x, y, z;
};

// The one tolerance of the system: absolute, never scaled, always compared
// with a strict less-than.
inline constexpr double EPSILON = 0x1p-52;

inline constexpr Vec3 zero() noexcept { return {0.0, 0.0, 0.0}; }
inline constexpr Vec3 unit_i() noexcept { return {1.0, 0.0, 0.0}; }
inline constexpr Vec3 unit_j() noexcept { return {0.0, 1.0, 0.0}; }
inline constexpr Vec3 unit_k() noexcept { return {0.0, 0.0, 1.0}; }

// Component-wise arithmetic. divide() performs three true divisions because
// multiplying by a reciprocal rounds twice.
inline constexpr Vec3 add(const Vec3& a, const Vec3& b) noexcept {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline constexpr Vec3 sub(const Vec3& a, const Vec3& b) noexcept {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline constexpr Vec3 scale(const Vec3& a, double s) noexcept {
    return {a.x * s, a.y * s, a.z * s};
}
inline constexpr Vec3 divide(const Vec3& a, double s) noexcept {
    return {a.x / s, a.y / s, a.z / s};
}
inline constexpr Vec3 negate(const Vec3& a) noexcept { return {-a.x, -a.y, -a.z}; }

// Products and length. No scaling guards against overflow or underflow.
inline constexpr double dot(const Vec3& a, const Vec3& b) noexcept {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}
inline constexpr Vec3 cross(const Vec3& a, const Vec3& b) noexcept {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double magnitude(const Vec3& a) noexcept {
    return std::sqrt((a.x * a.x + a.y * a.y) + a.z * a.z);
}
inline Vec3 normalize(const Vec3& a) noexcept { return divide(a, magnitude(a)); }
inline bool is_unit(const Vec3& a) noexcept {
    return std::fabs(magnitude(a) - 1.0) < EPSILON;
}

// In exact arithmetic the quotient lies in [-1, 1]; rounding can push it just
// past +-1 for parallel or antiparallel vectors, where acos would give NaN, so
// it is clamped first. The comparisons are false for NaN, so a zero-length
// operand (0/0) or a NaN component still gives NaN, and every quotient already
// inside the range is used unchanged.
inline double angle_to(const Vec3& a, const Vec3& b) noexcept {
    const double d = dot(a, b);
    const double ma = magnitude(a);
    const double mb = magnitude(b);
    double q = d / (ma * mb);
    if (q > 1.0) q = 1.0;
    if (q < -1.0) q = -1.0;
    return std::acos(q);
}

// Distances and projections. Lines are infinite (the parameter is never
// clamped to the segment) and the plane normal is used as given, unnormalised.
inline constexpr double distance_squared(const Vec3& a, const Vec3& b) noexcept {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    const double dz = a.z - b.z;
    return (dx * dx + dy * dy) + dz * dz;
}
inline double distance_to(const Vec3& a, const Vec3& b) noexcept {
    return std::sqrt(distance_squared(a, b));
}
inline constexpr Vec3 new_from_to(const Vec3& from, const Vec3& to) noexcept {
    return sub(to, from);
}
inline double distance_to_line(const Vec3& p, const Vec3& a, const Vec3& b) noexcept {
    const Vec3 d = sub(b, a);
    const Vec3 w = sub(p, a);
    const double u = dot(w, d) / dot(d, d);
    const Vec3 f{d.x * u + a.x, d.y * u + a.y, d.z * u + a.z};
    const Vec3 r = sub(p, f);
    return std::sqrt((r.x * r.x + r.y * r.y) + r.z * r.z);
}
inline constexpr Vec3 project_onto_line(const Vec3& p, const Vec3& line_r,
                                        const Vec3& line_q) noexcept {
    const Vec3 d = sub(line_r, line_q);
    const Vec3 w = sub(line_q, p);
    const double t = dot(w, d) / dot(d, d);
    return {line_q.x - t * d.x, line_q.y - t * d.y, line_q.z - t * d.z};
}
inline constexpr Vec3 project_onto_plane(const Vec3& p, const Vec3& normal) noexcept {
    const double s = dot(p, normal);
    return {p.x - s * normal.x, p.y - s * normal.y, p.z - s * normal.z};
}
inline constexpr double scalar_triple_product(const Vec3& a, const Vec3& b,
                                              const Vec3& c) noexcept {
    const double c1 = b.y * c.z - b.z * c.y;
    const double c2 = b.z * c.x - b.x * c.z;
    const double c3 = b.x * c.y - b.y * c.x;
    return (a.x * c1 + a.y * c2) + a.z * c3;
}

// Absolute per-component tolerance, checked x, y, z and stopping at the first
// miss. Any NaN makes the vectors unequal, even a vector compared with itself.
inline bool approx_eq(const Vec3& a, const Vec3& b) noexcept {
    return std::fabs(a.x - b.x) < EPSILON && std::fabs(a.y - b.y) < EPSILON &&
           std::fabs(a.z - b.z) < EPSILON;
}

// Replaces one component by positive zero. The caller has already rejected
// axes above 2; any such axis would leave the vector unchanged.
inline constexpr Vec3 collapse(const Vec3& a, std::uint64_t axis) noexcept {
    return {axis == 0 ? 0.0 : a.x, axis == 1 ? 0.0 : a.y, axis == 2 ? 0.0 : a.z};
}

}  // namespace orvath::core
