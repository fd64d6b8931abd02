// Quaternion value and its math, including the rotation of a vector that the
// bulk list kernels apply per element. No operation normalises its input or
// result except normalize(); a zero or non-unit quaternion yields NaN or
// scaled results, never an error. Every expression is written in the operation
// order intended, innermost parentheses first and otherwise left to right.
#pragma once

#include <array>
#include <cmath>

#include "core/vec3.hpp"

namespace orvath::core {

struct Quat {
    double w, i, j, k;
};

struct AxisAngle {
    Vec3 axis;
    double angle;
};

using Mat3 = std::array<std::array<double, 3>, 3>;

inline constexpr Quat identity() noexcept { return {1.0, 0.0, 0.0, 0.0}; }

inline constexpr Quat to_quat(const Vec3& v) noexcept { return {0.0, v.x, v.y, v.z}; }

inline constexpr Vec3 to_vec3d(const Quat& q) noexcept { return {q.i, q.j, q.k}; }

inline constexpr Quat hamilton(const Quat& a, const Quat& b) noexcept {
    return {
        ((a.w * b.w - a.i * b.i) - a.j * b.j) - a.k * b.k,
        ((a.w * b.i + a.i * b.w) + a.j * b.k) - a.k * b.j,
        ((a.w * b.j + a.j * b.w) + a.k * b.i) - a.i * b.k,
        ((a.w * b.k + a.k * b.w) + a.i * b.j) - a.j * b.i,
    };
}

// The half angle is negated, giving the conjugate of the textbook quaternion;
// rotate() is built to match, so a unit axis turns vectors by +angle about it
// by the right-hand rule. The axis is used as given, unnormalised.
inline Quat from_axis_angle(const Vec3& axis, double angle) noexcept {
    const double h = angle * -0.5;
    const double s = std::sin(h);
    const double c = std::cos(h);
    return {c, axis.x * s, axis.y * s, axis.z * s};
}

// Each negation flips the sign bit, so a zero part becomes -0.0.
inline constexpr Quat conjugate(const Quat& q) noexcept { return {q.w, -q.i, -q.j, -q.k}; }

// Length, unit test and the tolerant equality share the vector tolerance.
inline double magnitude(const Quat& q) noexcept {
    return std::sqrt(((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k);
}

inline Quat normalize(const Quat& q) noexcept {
    const double n = magnitude(q);
    return {q.w / n, q.i / n, q.j / n, q.k / n};
}

inline bool is_unit(const Quat& q) noexcept { return std::fabs(magnitude(q) - 1.0) < EPSILON; }

inline bool approx_eq(const Quat& p, const Quat& q) noexcept {
    return std::fabs(p.w - q.w) < EPSILON && std::fabs(p.i - q.i) < EPSILON &&
           std::fabs(p.j - q.j) < EPSILON && std::fabs(p.k - q.k) < EPSILON;
}

// Conversions follow the textbook convention, so they do not invert
// from_axis_angle: round-tripping a unit axis n returns -n. acos is not
// clamped, so |w| > 1 gives NaN throughout; w within tolerance of 1 is
// reported as no rotation about x whatever the vector part holds.
inline AxisAngle to_axis_angle(const Quat& q) noexcept {
    if (std::fabs(q.w - 1.0) < EPSILON) return {{1.0, 0.0, 0.0}, 0.0};
    const double a = std::acos(q.w);
    const double angle = a + a;
    const double s = std::sin(0.5 * angle);
    return {{q.i / s, q.j / s, q.k / s}, angle};
}

inline constexpr Mat3 to_rotation_matrix(const Quat& q) noexcept {
    const double jj_kk = q.j * q.j + q.k * q.k;
    const double ii_kk = q.i * q.i + q.k * q.k;
    const double ii_jj = q.i * q.i + q.j * q.j;
    const double ij_m = q.i * q.j - q.w * q.k;
    const double ij_p = q.i * q.j + q.w * q.k;
    const double ik_m = q.i * q.k - q.w * q.j;
    const double ik_p = q.i * q.k + q.w * q.j;
    const double jk_m = q.j * q.k - q.w * q.i;
    const double jk_p = q.j * q.k + q.w * q.i;
    return {{
        {1.0 - (jj_kk + jj_kk), ij_m + ij_m, ik_p + ik_p},
        {ij_p + ij_p, 1.0 - (ii_kk + ii_kk), jk_m + jk_m},
        {ik_m + ik_m, jk_p + jk_p, 1.0 - (ii_jj + ii_jj)},
    }};
}

// v' = vector part of (conjugate(q) * (0, v)) * q, expanded term by term. The
// products with the zero scalar part are kept on purpose: they decide the sign
// of zero results and turn an infinite component into NaN, exactly as the two
// Hamilton products would. Kept branch-free: it is the per-element kernel of
// the list rotation.
inline constexpr Vec3 rotate(const Quat& q, const Vec3& v) noexcept {
    const double w = q.w, i = q.i, j = q.j, k = q.k;
    const double x = v.x, y = v.y, z = v.z;
    const double e0 = ((0.0 * w + i * x) + j * y) + k * z;
    const double e1 = ((w * x - i * 0.0) - j * z) + k * y;
    const double e2 = ((w * y - j * 0.0) - k * x) + i * z;
    const double e3 = ((w * z - k * 0.0) - i * y) + j * x;
    return {
        ((e0 * i + e1 * w) + e2 * k) - e3 * j,
        ((e0 * j + e2 * w) + e3 * i) - e1 * k,
        ((e0 * k + e3 * w) + e1 * j) - e2 * i,
    };
}

}  // namespace orvath::core
