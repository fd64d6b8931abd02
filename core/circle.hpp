// Circle in a plane of space: center, radius and the normal of its plane. The
// builder stores |radius| and a normalised normal; every other operation uses
// the stored fields as they are. A normal and its negation describe the same
// circle. The operation order written below is the intended one.
#pragma once

#include <cmath>
#include <limits>

#include "core/angle.hpp"
#include "core/plane.hpp"
#include "core/vec3.hpp"

namespace orvath::core {

struct Circle {
    Vec3 center;
    double radius;
    Vec3 normal;
};

inline Circle make_circle(const Vec3& center, double radius, const Vec3& normal) noexcept {
    return {center, std::fabs(radius), normalize(normal)};
}

// Placeholder with no meaningful plane: degenerate, and unequal even to itself.
inline constexpr Circle circle_none() noexcept {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    return {{0.0, 0.0, 0.0}, 0.0, {nan, nan, nan}};
}

inline constexpr double area(const Circle& c) noexcept { return (c.radius * c.radius) * PI; }

// Renormalises the stored normal, which a setter may have left at any length.
inline Plane get_plane(const Circle& c) noexcept { return plane_from_point(c.normal, c.center); }

inline constexpr bool is_degenerate(const Circle& c) noexcept { return c.radius == 0.0; }

// Normals are compared component by component within tolerance, not by
// direction, so (0,0,1) and (0,0,2) are unrelated.
enum class NormalRelation { Parallel, Opposite, Unrelated };

inline NormalRelation relate_normals(const Vec3& s, const Vec3& o) noexcept {
    if (approx_eq(s, o)) return NormalRelation::Parallel;
    if (std::fabs(s.x + o.x) < EPSILON && std::fabs(s.y + o.y) < EPSILON &&
        std::fabs(s.z + o.z) < EPSILON)
        return NormalRelation::Opposite;
    return NormalRelation::Unrelated;
}

// Plane offsets are compared on the stored normals; with opposite normals the
// other plane's offset changes sign.
inline bool in_same_plane(const Circle& s, const Circle& o) noexcept {
    const NormalRelation rel = relate_normals(s.normal, o.normal);
    if (rel == NormalRelation::Unrelated) return false;
    const double k_s = dot(s.normal, s.center);
    const double k_o = dot(o.normal, o.center);
    if (rel == NormalRelation::Parallel) return std::fabs(k_o - k_s) < EPSILON;
    return std::fabs(k_o + k_s) < EPSILON;
}

// Centers within tolerance, radii exactly equal, normals parallel or opposite,
// tested in that order.
inline bool approx_eq(const Circle& a, const Circle& b) noexcept {
    return approx_eq(a.center, b.center) && a.radius == b.radius &&
           relate_normals(a.normal, b.normal) != NormalRelation::Unrelated;
}

}  // namespace orvath::core
