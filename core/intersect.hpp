// Intersections of planes, lines, points and circles. They read the stored
// fields of their operands exactly as stored. Only circle_circle can fail, and
// it reports the reason rather than raising; degenerate input elsewhere gives
// NaN, infinities or false. The operation order written below is the intended
// one, and every tolerance test is strict so NaN always fails it.
#pragma once

#include <cmath>

#include "core/circle.hpp"
#include "core/plane.hpp"
#include "core/vec3.hpp"

namespace orvath::core {

// The whole line through a and b, not the segment. Nothing guards a line
// parallel to the plane: the division by zero gives infinite or NaN parts.
inline Vec3 plane_line(const Plane& plane, const Vec3& a, const Vec3& b) noexcept {
    const Vec3 d = sub(b, a);
    const double den = dot(plane.normal, d);
    const double s = dot(plane.normal, a) + plane.constant;
    const double t = -s / den;
    return {t * d.x + a.x, t * d.y + a.y, t * d.z + a.z};
}

enum class CircleOutcome { Ok, TooFarApart, Contained, Identical, OutOfPlane };

// The error text for a failed outcome, or nullptr for Ok.
inline const char* outcome_message(CircleOutcome outcome) noexcept {
    switch (outcome) {
        case CircleOutcome::TooFarApart:
            return "The given geometries are too far apart and do not intersect at all.";
        case CircleOutcome::Contained:
            return "One of the given geometries is contained entirely within the other. "
                   "The surfaces do not intersect.";
        case CircleOutcome::Identical:
            return "The given geometries are identical.";
        case CircleOutcome::OutOfPlane:
            return "The given geometries are out of plane from each other";
        case CircleOutcome::Ok:
            break;
    }
    return nullptr;
}

// Point against circle. The unchecked form judges by the 3-D distance from the
// center alone, so a point off the circle's plane can pass. A radius gap of
// exactly EPSILON is neither on the circumference nor inside.
inline bool circle_point_unchecked(const Circle& circle, const Vec3& point, bool inner) noexcept {
    const double dist = magnitude(sub(point, circle.center));
    const double delta = circle.radius - dist;
    if (std::fabs(delta) < EPSILON) return true;
    if (delta > EPSILON) return inner;
    return false;
}

inline bool circle_point(const Circle& circle, const Vec3& point, bool inner) noexcept {
    const Vec3 n = normalize(circle.normal);
    if (!(std::fabs(dot(n, point) - dot(n, circle.center)) < EPSILON)) return false;
    return circle_point_unchecked(circle, point, inner);
}

struct CircleCircle {
    CircleOutcome outcome;
    Vec3 first, second;
};

// The two crossings of coplanar circumferences, first on the side that
// cross(c2 - c1, circle2 normal) points to. The tests run in a fixed order and
// the first that applies wins; on failure both points are zero. Once the tests
// have passed the circles meet, so a negative argument of the chord's square
// root can only be rounding (touching or nearly touching circles): it is taken
// as +0.0, and both points are then the chord's midpoint, the touching point.
// The comparison is false for NaN, which still flows through.
inline CircleCircle circle_circle(const Circle& circle1, const Circle& circle2) noexcept {
    if (approx_eq(circle1, circle2)) return {CircleOutcome::Identical, zero(), zero()};
    if (!in_same_plane(circle1, circle2)) return {CircleOutcome::OutOfPlane, zero(), zero()};

    const Vec3& c1 = circle1.center;
    const Vec3& c2 = circle2.center;
    const double r1 = circle1.radius;
    const double r2 = circle2.radius;
    const double dist = distance_to(c1, c2);
    if (dist > r1 + r2) return {CircleOutcome::TooFarApart, zero(), zero()};
    if (std::fabs(r1 - r2) > dist) return {CircleOutcome::Contained, zero(), zero()};

    // Squared from the rounded distance on purpose, not re-summed.
    const double q = dist * dist;
    const double t = (r1 * r1 - r2 * r2) / (q + q) + 0.5;
    double h2 = r1 * r1 - (t * t) * q;
    if (h2 < 0.0) h2 = 0.0;
    const double h = std::sqrt(h2);
    const Vec3 d = sub(c2, c1);
    const Vec3 mid{t * d.x + c1.x, t * d.y + c1.y, c1.z + d.z * t};
    const Vec3 u = normalize(cross(d, circle2.normal));
    return {
        CircleOutcome::Ok,
        {mid.x + h * u.x, mid.y + h * u.y, mid.z + h * u.z},
        {mid.x - h * u.x, mid.y - h * u.y, mid.z - h * u.z},
    };
}

}  // namespace orvath::core
