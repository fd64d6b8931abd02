// Quaternion value and its math, including the rotation of a vector that the
// bulk list kernels apply per element. No operation normalises its input or
// result except normalize(); a zero or non-unit quaternion yields NaN or
// scaled results, never an error. Every expression is written in the operation
// order intended, innermost parentheses first and otherwise left to right.
#pragma once

#include <array>
#include <cmath>
#include <optional>

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

// Length, unit test and the tolerant equality share the vector tolerance. The
// length is scaled as the vector length is where its sum of squares is not a
// normal double (see vec3.hpp).
inline double sum_of_squares(const Quat& q) noexcept {
    return ((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k;
}
inline double plain_magnitude(const Quat& q) noexcept { return std::sqrt(sum_of_squares(q)); }
inline Quat plain_normalize(const Quat& q) noexcept {
    const double n = plain_magnitude(q);
    return {q.w / n, q.i / n, q.j / n, q.k / n};
}
inline Quat scale_exponent(const Quat& q, int e) noexcept {
    return {std::ldexp(q.w, e), std::ldexp(q.i, e), std::ldexp(q.j, e), std::ldexp(q.k, e)};
}

[[gnu::cold, gnu::noinline]] inline double scaled_magnitude(const Quat& q) noexcept {
    const std::optional<int> e = largest_exponent(q.w, q.i, q.j, q.k);
    if (!e) return plain_magnitude(q);
    return std::ldexp(plain_magnitude(scale_exponent(q, -*e)), *e);
}
[[gnu::cold, gnu::noinline]] inline Quat scaled_normalize(const Quat& q) noexcept {
    const std::optional<int> e = largest_exponent(q.w, q.i, q.j, q.k);
    return plain_normalize(e ? scale_exponent(q, -*e) : q);
}

inline double magnitude(const Quat& q) noexcept {
    if (outside_normal_range(sum_of_squares(q))) [[unlikely]] return scaled_magnitude(q);
    return plain_magnitude(q);
}
inline Quat normalize(const Quat& q) noexcept {
    if (outside_normal_range(sum_of_squares(q))) [[unlikely]] return scaled_normalize(q);
    return plain_normalize(q);
}

// As for vectors, the scaled length can never be within EPSILON of 1.
inline bool is_unit(const Quat& q) noexcept { return std::fabs(plain_magnitude(q) - 1.0) < EPSILON; }

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

// ---------------------------------------------------------------------------
// Composition, inversion, interpolation and construction from a matrix or two
// directions. Each is defined through rotate(): then(p, q) turns a vector by p
// and then by q, inverse(q) undoes q, and from_two_vectors() builds in the
// convention of from_axis_angle().

// rotate(hamilton(p, q), v) is rotate(q, rotate(p, v)) up to rounding, since
// conj(p q) v (p q) = conj(q) (conj(p) v p) q. So "p first, then q" is the
// plain product in this order.
inline constexpr Quat then(const Quat& p, const Quat& q) noexcept { return hamilton(p, q); }

// The conjugate divided component by component by the squared magnitude
// n = ((w*w + i*i) + j*j) + k*k: four divisions, no reciprocal. A zero
// quaternion gives NaN throughout; one whose squared magnitude overflows gives
// zeros.
inline constexpr Quat inverse(const Quat& q) noexcept {
    const double n = ((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k;
    return {q.w / n, -q.i / n, -q.j / n, -q.k / n};
}

// Above this dot product the two rotations are so close that acos and the
// quotient of two tiny sines lose most of their digits; slerp then blends
// linearly and normalises.
inline constexpr double SLERP_LINEAR_ABOVE = 1.0 - 0x1p-26;

// Spherical linear interpolation along the shorter arc:
//   d = ((p.w*q.w + p.i*q.i) + p.j*q.j) + p.k*q.k
//   d < 0: q and d are negated (exact sign flips)
//   d > 1 - 2^-26: a = 1 - t, b = t, and the blend below is normalised
//   otherwise:     th = acos(d), s = sin(th), a = sin((1 - t)*th) / s,
//                  b = sin(t*th) / s, and the blend is the result as it is
//   blend: (p.w*a + q.w*b, p.i*a + q.i*b, p.j*a + q.j*b, p.k*a + q.k*b)
// -0.0 is not below zero, so a dot product of -0.0 keeps q. A NaN dot product
// fails both tests and gives NaN through acos; a product above 1 (non-unit
// input) takes the linear branch. Neither input is normalised.
inline Quat slerp(const Quat& p, const Quat& q_in, double t) noexcept {
    Quat q = q_in;
    double d = ((p.w * q.w + p.i * q.i) + p.j * q.j) + p.k * q.k;
    if (d < 0.0) {
        q = {-q.w, -q.i, -q.j, -q.k};
        d = -d;
    }
    const bool linear = d > SLERP_LINEAR_ABOVE;
    double a, b;
    if (linear) {
        a = 1.0 - t;
        b = t;
    } else {
        const double th = std::acos(d);
        const double s = std::sin(th);
        a = std::sin((1.0 - t) * th) / s;
        b = std::sin(t * th) / s;
    }
    const Quat r{p.w * a + q.w * b, p.i * a + q.i * b, p.j * a + q.j * b, p.k * a + q.k * b};
    return linear ? normalize(r) : r;
}

// The inverse of to_rotation_matrix(): the textbook quaternion of m, so that
// rotate() of the result multiplies by the transpose of m. The branch is the
// largest of the trace T = (m00 + m11) + m22 and the diagonal entries, compared
// in that order with a strict greater-than (ties and NaN keep the earlier
// one), and names the component recovered from a square root:
//   T:   r = sqrt(1 + T),                   w = 0.5*r, D = r + r,
//        i = (m21 - m12)/D, j = (m02 - m20)/D, k = (m10 - m01)/D
//   m00: r = sqrt(((1 + m00) - m11) - m22), i = 0.5*r, D = r + r,
//        w = (m21 - m12)/D, j = (m01 + m10)/D, k = (m02 + m20)/D
//   m11: r = sqrt(((1 - m00) + m11) - m22), j = 0.5*r, D = r + r,
//        w = (m02 - m20)/D, i = (m01 + m10)/D, k = (m12 + m21)/D
//   m22: r = sqrt(((1 - m00) - m11) + m22), k = 0.5*r, D = r + r,
//        w = (m10 - m01)/D, i = (m02 + m20)/D, j = (m12 + m21)/D
// Then, if w < 0, all four components flip sign, so w >= 0 (a -0.0 stays).
// The matrix is not checked for orthogonality; anything else gives whatever
// the formulas give (a zero matrix gives (0.5, 0, 0, 0)).
inline Quat from_rotation_matrix(const Mat3& m) noexcept {
    const double trace = (m[0][0] + m[1][1]) + m[2][2];
    int branch = 0;
    double best = trace;
    for (int c = 0; c < 3; ++c) {
        if (m[c][c] > best) {
            best = m[c][c];
            branch = c + 1;
        }
    }
    Quat q;
    double r, d;
    switch (branch) {
        case 0:
            r = std::sqrt(1.0 + trace);
            d = r + r;
            q = {0.5 * r, (m[2][1] - m[1][2]) / d, (m[0][2] - m[2][0]) / d, (m[1][0] - m[0][1]) / d};
            break;
        case 1:
            r = std::sqrt(((1.0 + m[0][0]) - m[1][1]) - m[2][2]);
            d = r + r;
            q = {(m[2][1] - m[1][2]) / d, 0.5 * r, (m[0][1] + m[1][0]) / d, (m[0][2] + m[2][0]) / d};
            break;
        case 2:
            r = std::sqrt(((1.0 - m[0][0]) + m[1][1]) - m[2][2]);
            d = r + r;
            q = {(m[0][2] - m[2][0]) / d, (m[0][1] + m[1][0]) / d, 0.5 * r, (m[1][2] + m[2][1]) / d};
            break;
        default:
            r = std::sqrt(((1.0 - m[0][0]) - m[1][1]) + m[2][2]);
            d = r + r;
            q = {(m[1][0] - m[0][1]) / d, (m[0][2] + m[2][0]) / d, (m[1][2] + m[2][1]) / d, 0.5 * r};
            break;
    }
    if (q.w < 0.0) q = {-q.w, -q.i, -q.j, -q.k};
    return q;
}

// The shortest-arc rotation taking the direction of a to that of b, in the
// convention of from_axis_angle() (rotate(q, a) points along b). It is built
// from s, twice the vector halfway between the two directions, whose angle
// to a is half the turn:
//   ua = normalize(a), ub = normalize(b), s = ua + ub
//   dot(s, s) >= 2^-52: v = cross(s, ua), and the result is the quaternion's
//       normalize() of (dot(ua, s), v.x, v.y, v.z)
//   dot(s, s) <  2^-52: a half turn (0, u.x, u.y, u.z), u = normalize(cross(ua, X)),
//       with X = (1, 0, 0), or X = (0, 1, 0) when |ua.x| > 0.9
// Both parts of the general case are products with s, so they keep their
// relative accuracy as the directions approach opposite, where 1 + dot(ua, ub)
// would cancel. What remains is the rounding in s itself, about 2^-52 in each
// component, which tilts the axis by about 2^-52 / |s| radians; the fixed half
// turn instead misses b by about |s| radians, the closer answer once
// |s| < 2^-26, that is dot(s, s) < 2^-52. Equal directions give
// exactly (1, 0, 0, 0), parallel ones (1, 0, 0, 0) up to rounding. A zero
// vector, a non-finite component, or a squared length that overflows (which
// normalises to zeros) gives NaN components; if both vectors normalise to
// zeros, the half turn's w = 0 stays.
inline constexpr double ANTIPARALLEL_BELOW = 0x1p-52;
inline constexpr double HALF_TURN_AXIS_SWITCH = 0.9;

inline Quat from_two_vectors(const Vec3& a, const Vec3& b) noexcept {
    const Vec3 ua = normalize(a);
    const Vec3 ub = normalize(b);
    const Vec3 s = add(ua, ub);
    if (dot(s, s) < ANTIPARALLEL_BELOW) {
        const Vec3 x = std::fabs(ua.x) > HALF_TURN_AXIS_SWITCH ? unit_j() : unit_i();
        const Vec3 u = normalize(cross(ua, x));
        return {0.0, u.x, u.y, u.z};
    }
    const Vec3 v = cross(s, ua);
    return normalize(Quat{dot(ua, s), v.x, v.y, v.z});
}

}  // namespace orvath::core
