// Infinite plane: the points p with dot(normal, p) + constant == 0. Builders
// store a normalised normal; operations use the stored normal as it is, since
// the binding's setter may store one of any length. Degenerate input (zero
// normal, collinear points) gives NaN fields rather than an error. The
// operation order written below is the intended one.
#pragma once

#include <cmath>

#include "core/vec3.hpp"

namespace orvath::core {

struct Plane {
    Vec3 normal;
    // The constant term of the equation: the negated signed distance of the
    // plane from the origin along a unit normal (z = 5 stores -5).
    double constant;
};

// The argument is the signed distance from the origin; the stored constant is
// its negation (0.0 becomes -0.0).
inline Plane make_plane(const Vec3& normal, double distance) noexcept {
    return {normalize(normal), -distance};
}

// Coordinate planes z = 0, y = 0 and x = 0, each with constant -0.0 as
// make_plane(axis, 0.0) would give.
inline constexpr Plane plane_xy() noexcept { return {{0.0, 0.0, 1.0}, -0.0}; }
inline constexpr Plane plane_xz() noexcept { return {{0.0, 1.0, 0.0}, -0.0}; }
inline constexpr Plane plane_yz() noexcept { return {{1.0, 0.0, 0.0}, -0.0}; }

inline Plane plane_from_point(const Vec3& normal, const Vec3& point) noexcept {
    const Vec3 n = normalize(normal);
    return {n, -dot(n, point)};
}

// Right-hand rule over p1, p2, p3 in that order.
inline Plane plane_from_points(const Vec3& p1, const Vec3& p2, const Vec3& p3) noexcept {
    const Vec3 n = normalize(cross(sub(p2, p1), sub(p3, p1)));
    return {n, -dot(n, p1)};
}

// Unsigned; the true Euclidean distance only while the normal has unit length.
inline double distance_to_point(const Plane& plane, const Vec3& p) noexcept {
    return std::fabs(dot(plane.normal, p) + plane.constant);
}

inline bool contains_point(const Plane& plane, const Vec3& p) noexcept {
    return distance_to_point(plane, p) < EPSILON;
}

}  // namespace orvath::core
