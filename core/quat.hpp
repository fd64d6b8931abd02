// Quaternion value and its math, including the rotation of a vector that the
// bulk list kernels apply per element. No operation normalises its input or
// result except normalize(); a zero or non-unit quaternion yields NaN or
// scaled results, never an error. Every expression is written in the operation
// order intended, innermost parentheses first and otherwise left to right.
#pragma once

#include <algorithm>
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

// ---------------------------------------------------------------------------
// Sizes taken out by powers of two, which are exact: a scaled component is
// rounded only where it falls below the normal range, far under the rounding
// of the larger ones.

// The exponent e of the largest |component|, 2^(e-1) <= largest < 2^e (0 for
// zero); non-finite components are not looked at by the callers.
inline int largest_exponent(double a, double b, double c) noexcept {
    int e = 0;
    std::frexp(std::fmax(std::fmax(std::fabs(a), std::fabs(b)), std::fabs(c)), &e);
    return e;
}

inline Vec3 scaled(const Vec3& a, int e) noexcept {
    return {std::ldexp(a.x, e), std::ldexp(a.y, e), std::ldexp(a.z, e)};
}

// The unit vector of any finite non-zero a: a is first scaled so that its
// largest component lies in [0.5, 1), then divided by sqrt(dot(s, s)), so no
// square overflows or underflows. Zero gives NaN, and so does any non-finite
// component (in at least one place; the callers spread it).
inline Vec3 direction(const Vec3& a) noexcept {
    const Vec3 s = scaled(a, -largest_exponent(a.x, a.y, a.z));
    return divide(s, std::sqrt(dot(s, s)));
}

inline int largest_exponent(const Mat3& m) noexcept {
    int e = largest_exponent(m[0][0], m[0][1], m[0][2]);
    e = std::max(e, largest_exponent(m[1][0], m[1][1], m[1][2]));
    return std::max(e, largest_exponent(m[2][0], m[2][1], m[2][2]));
}

inline Mat3 scaled(const Mat3& m, int e) noexcept {
    Mat3 out;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r][c] = std::ldexp(m[r][c], e);
    return out;
}

inline bool is_finite(const Mat3& m) noexcept {
    for (const auto& row : m)
        for (double x : row)
            if (!std::isfinite(x)) return false;
    return true;
}

// The determinant of any finite m, as the scalar triple product of its rows
// taken with m scaled by 2^-e (e the exponent of its largest entry) and then
// multiplied back by 2^(3e): no product overflows, so the sign is right
// wherever the value itself lies beyond the range (it is then +-inf or +-0).
// A NaN or infinite entry gives NaN.
inline double determinant(const Mat3& m) noexcept {
    if (!is_finite(m)) return std::nan("");
    const int e = largest_exponent(m);
    const Mat3 s = scaled(m, -e);
    const double d = scalar_triple_product({s[0][0], s[0][1], s[0][2]}, {s[1][0], s[1][1], s[1][2]},
                                           {s[2][0], s[2][1], s[2][2]});
    return std::ldexp(d, 3 * e);
}

// A matrix with an entry of at least 2^MATRIX_SCALED_FROM in size is scaled
// by a power of two before from_rotation_matrix() reads it, so that the
// sums and squares there stay finite.
inline constexpr int MATRIX_SCALED_FROM = 500;

// The inverse of to_rotation_matrix(): the textbook quaternion of m,
// normalised, so that rotate() of the result multiplies by the transpose of m.
// The branch is the largest of the trace T = (m00 + m11) + m22 and the
// diagonal entries, compared in that order with a strict greater-than (ties
// keep the earlier one), and names the component recovered from a square
// root:
//   T:   r = sqrt(1 + T),                   w = 0.5*r, D = r + r,
//        i = (m21 - m12)/D, j = (m02 - m20)/D, k = (m10 - m01)/D
//   m00: r = sqrt(((1 + m00) - m11) - m22), i = 0.5*r, D = r + r,
//        w = (m21 - m12)/D, j = (m01 + m10)/D, k = (m02 + m20)/D
//   m11: r = sqrt(((1 - m00) + m11) - m22), j = 0.5*r, D = r + r,
//        w = (m02 - m20)/D, i = (m01 + m10)/D, k = (m12 + m21)/D
//   m22: r = sqrt(((1 - m00) - m11) + m22), k = 0.5*r, D = r + r,
//        w = (m10 - m01)/D, i = (m02 + m20)/D, j = (m12 + m21)/D
// Then, if w < 0, all four components flip sign, so w >= 0 (a -0.0 stays),
// and each is divided by n = sqrt(((w*w + i*i) + j*j) + k*k). The branch
// argument is at least 1 for every finite matrix (the trace wins only when
// it is >= 0, a diagonal entry only when the other two sum to at most it),
// so n >= 0.5 and the result is a unit quaternion to within about an ulp.
// A matrix that is not quite a rotation (noise, float32 storage) gives the
// normalised quaternion of its branch, not the nearest rotation. The
// determinant is not looked at here (the caller refuses a non-positive one);
// a NaN or infinite entry gives four NaN.
inline Quat from_rotation_matrix(const Mat3& input) noexcept {
    if (!is_finite(input)) return {std::nan(""), std::nan(""), std::nan(""), std::nan("")};
    const int e = largest_exponent(input);
    const Mat3 m = e > MATRIX_SCALED_FROM ? scaled(input, -e) : input;
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
    const double n = std::sqrt(((q.w * q.w + q.i * q.i) + q.j * q.j) + q.k * q.k);
    return {q.w / n, q.i / n, q.j / n, q.k / n};
}

// p*q - r*s to within 1.5 ulps of the result, however much cancels: the
// rounding error of r*s, exact by a fused multiply-add, is added back at the
// end (Kahan's difference of products). std::fma is one correctly rounded
// operation on every target, so the result is the same bits everywhere.
inline double difference_of_products(double p, double q, double r, double s) noexcept {
    const double w = r * s;
    const double e = std::fma(-r, s, w);
    const double f = std::fma(p, q, -w);
    return f + e;
}

inline Vec3 accurate_cross(const Vec3& a, const Vec3& b) noexcept {
    return {difference_of_products(a.y, b.z, a.z, b.y), difference_of_products(a.z, b.x, a.x, b.z),
            difference_of_products(a.x, b.y, a.y, b.x)};
}

// The shortest-arc rotation taking the direction of a to that of b, in the
// convention of from_axis_angle() (rotate(q, a) points along b): the turn by
// the angle t between them about the unit axis n of cross(a, b), that is
// (cos(t/2), -sin(t/2) * n). With each vector first scaled by a power of two
// to a largest component in [0.5, 1) (sa, sb: any finite size works):
//   ua = sa / |sa|, ub = sb / |sb|
//   ls = |ua + ub|, ld = |ua - ub|       (2cos(t/2) and 2sin(t/2))
//   c = accurate_cross(sa, sb), n = direction(c)
//   h = sqrt(ls*ls + ld*ld), f = ld / h
//   result (ls / h, -(n.x*f), -(n.y*f), -(n.z*f))
// Both lengths are sums without cancellation, and the axis comes from the
// inputs themselves, not from their rounded unit vectors, so it stays
// perpendicular to both directions however close they are to parallel or
// opposite: the whole rotation is within a few ulps of the exact one. An
// exactly zero c means exactly parallel inputs (ld < ls: exactly (1, 0, 0,
// 0)) or exactly opposite ones (ls < ld: the half turn (0, u.x, u.y, u.z),
// u = direction(cross(ua, X)) with X = (1, 0, 0), or X = (0, 1, 0) when
// |ua.x| > 0.9). A zero vector or a non-finite component gives NaN
// components.
inline constexpr double HALF_TURN_AXIS_SWITCH = 0.9;

inline Quat from_two_vectors(const Vec3& a, const Vec3& b) noexcept {
    const Vec3 sa = scaled(a, -largest_exponent(a.x, a.y, a.z));
    const Vec3 sb = scaled(b, -largest_exponent(b.x, b.y, b.z));
    const Vec3 ua = divide(sa, std::sqrt(dot(sa, sa)));
    const Vec3 ub = divide(sb, std::sqrt(dot(sb, sb)));
    const Vec3 s = add(ua, ub);
    const Vec3 d = sub(ua, ub);
    const double ls = std::sqrt(dot(s, s));
    const double ld = std::sqrt(dot(d, d));
    const Vec3 c = accurate_cross(sa, sb);
    if (c.x == 0.0 && c.y == 0.0 && c.z == 0.0) {
        if (ld < ls) return identity();
        if (ls < ld) {
            const Vec3 x = std::fabs(ua.x) > HALF_TURN_AXIS_SWITCH ? unit_j() : unit_i();
            const Vec3 u = direction(cross(ua, x));
            return {0.0, u.x, u.y, u.z};
        }
        // Neither: a zero or non-finite input, whose NaN the rest spreads.
    }
    const double h = std::sqrt(ls * ls + ld * ld);
    const double f = ld / h;
    const Vec3 n = direction(c);
    return {ls / h, -(n.x * f), -(n.y * f), -(n.z * f)};
}

}  // namespace orvath::core
