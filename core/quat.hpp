// Quaternion value and its math, including the rotation of a vector that the
// bulk list kernels apply per element. No operation normalises its input or
// result except normalize(); a zero or non-unit quaternion yields NaN or
// scaled results, never an error. Every expression is written in the operation
// order intended, innermost parentheses first and otherwise left to right.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
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
    return {times_pow2(q.w, e), times_pow2(q.i, e), times_pow2(q.j, e), times_pow2(q.k, e)};
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

// ---------------------------------------------------------------------------
// Sizes taken out by powers of two, which are exact: a scaled component is
// rounded only where it falls below the normal range, far under the rounding
// of the larger ones.

// |x| as its bits: for doubles >= 0 the integer order is the numeric one,
// with the infinity and then NaN above every finite value.
inline std::uint64_t magnitude_bits(double x) noexcept {
    return std::bit_cast<std::uint64_t>(x) & 0x7fff'ffff'ffff'ffffu;
}
inline constexpr std::uint64_t INFINITY_BITS = 0x7ff0'0000'0000'0000u;

// The exponent e with 2^(e-1) <= x < 2^e of a finite x >= 0 given by its
// bits (0 for zero), as frexp() gives it; 0 for a non-finite x, which the
// callers never scale by.
inline int exponent_of(std::uint64_t bits) noexcept {
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0x7ff) return 0;
    if (biased != 0) return biased - 1022;
    int e = 0;
    std::frexp(std::bit_cast<double>(bits), &e);
    return e;
}

// The exponent of the largest |component|, as frexp() counts it (that
// component scaled by 2^-e lies in [0.5, 1)).
inline int largest_frexp_exponent(double a, double b, double c) noexcept {
    return exponent_of(std::max({magnitude_bits(a), magnitude_bits(b), magnitude_bits(c)}));
}

// s / |s| as s * (1 / sqrt(dot(s, s))), for s already scaled.
inline Vec3 unit(const Vec3& s) noexcept { return scale(s, 1.0 / std::sqrt(dot(s, s))); }

// The unit vector of any finite non-zero a: a is first scaled so that its
// largest component lies in [0.5, 1), so no square overflows or underflows.
// Zero gives NaN, and so does any non-finite component (in at least one
// place; the callers spread it).
inline Vec3 direction(const Vec3& a) noexcept { return unit(scale_exponent(a, -largest_frexp_exponent(a.x, a.y, a.z))); }

// The largest |entry| of m as its bits: INFINITY_BITS or more when an entry
// is not finite.
inline std::uint64_t largest_bits(const Mat3& m) noexcept {
    std::uint64_t big = 0;
    for (const auto& row : m)
        for (double x : row) big = std::max(big, magnitude_bits(x));
    return big;
}

inline Mat3 scaled(const Mat3& m, int e) noexcept {
    Mat3 out;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r][c] = times_pow2(m[r][c], e);
    return out;
}

inline constexpr Quat NAN_QUAT = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};

inline double triple_product(const Mat3& m) noexcept {
    return scalar_triple_product({m[0][0], m[0][1], m[0][2]}, {m[1][0], m[1][1], m[1][2]},
                                 {m[2][0], m[2][1], m[2][2]});
}

// The determinant: the scalar triple product of the rows. Where that is not
// a normal number (zero, subnormal, infinite or NaN) and m is finite, it is
// taken again with m scaled by 2^-e (e the exponent of its largest entry)
// and multiplied back by 2^(3e): no product then overflows or vanishes
// below the normal range, so the sign is right even where the value itself
// lies beyond the range (it is then +-inf or +-0). A NaN or infinite entry
// gives NaN.
inline double determinant(const Mat3& m) noexcept {
    const double d = triple_product(m);
    if (std::isnormal(d)) return d;
    const std::uint64_t big = largest_bits(m);
    if (big >= INFINITY_BITS) return std::numeric_limits<double>::quiet_NaN();
    const int e = exponent_of(big);
    return times_pow2(triple_product(scaled(m, -e)), 3 * e);
}

// The four-vector of from_rotation_matrix()'s branch, before normalising.
inline Quat branch_quat(const Mat3& m) noexcept {
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
    switch (branch) {
        case 0:
            q = {1.0 + trace, m[2][1] - m[1][2], m[0][2] - m[2][0], m[1][0] - m[0][1]};
            break;
        case 1:
            q = {m[2][1] - m[1][2], ((1.0 + m[0][0]) - m[1][1]) - m[2][2], m[0][1] + m[1][0], m[0][2] + m[2][0]};
            break;
        case 2:
            q = {m[0][2] - m[2][0], m[0][1] + m[1][0], ((1.0 - m[0][0]) + m[1][1]) - m[2][2], m[1][2] + m[2][1]};
            break;
        default:
            q = {m[1][0] - m[0][1], m[0][2] + m[2][0], m[1][2] + m[2][1], ((1.0 - m[0][0]) - m[1][1]) + m[2][2]};
            break;
    }
    if (q.w < 0.0) q = {-q.w, -q.i, -q.j, -q.k};
    return q;
}

// The inverse of to_rotation_matrix(): the textbook quaternion of m,
// normalised, so that rotate() of the result multiplies by the transpose of m.
// The branch is the largest of the trace T = (m00 + m11) + m22 and the
// diagonal entries, compared in that order with a strict greater-than (ties
// keep the earlier one), and gives a four-vector (w, i, j, k) that is the
// quaternion times 2*sqrt of its largest component's argument:
//   T:   (1 + T, m21 - m12, m02 - m20, m10 - m01)
//   m00: (m21 - m12, ((1 + m00) - m11) - m22, m01 + m10, m02 + m20)
//   m11: (m02 - m20, m01 + m10, ((1 - m00) + m11) - m22, m12 + m21)
//   m22: (m10 - m01, m02 + m20, m12 + m21, ((1 - m00) - m11) + m22)
// If w < 0, all four components flip sign, so w >= 0 (a -0.0 stays), and
// each is multiplied by 1 / sqrt(n2), n2 = ((w*w + i*i) + j*j) + k*k. The
// branch's own argument is at least 1 for every finite matrix (the trace wins
// only when it is >= 0, a diagonal entry only when the other two sum to at
// most it), so n2 >= 1 and the result is a unit quaternion to within 2 ulps.
// A matrix that is not quite a rotation (noise, float32 storage) gives that
// normalised four-vector, not the nearest rotation. Where n2 is not finite,
// either an entry is NaN or infinite (four NaN are returned) or a sum
// overflowed (entries beyond about 2^510): the formula is then applied to m
// scaled by 2^-e, e the exponent of its largest entry. The determinant is not
// looked at here (the caller refuses a non-positive one).
inline Quat from_rotation_matrix(const Mat3& m) noexcept {
    Quat q = branch_quat(m);
    double n2 = sum_of_squares(q);
    if (!std::isfinite(n2)) {
        const std::uint64_t big = largest_bits(m);
        if (big >= INFINITY_BITS) return NAN_QUAT;
        q = branch_quat(scaled(m, -exponent_of(big)));
        n2 = sum_of_squares(q);
    }
    const double r = 1.0 / std::sqrt(n2);
    return {q.w * r, q.i * r, q.j * r, q.k * r};
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
//   ua = unit(sa), ub = unit(sb)
//   ls = |ua + ub|, ld = |ua - ub|       (2cos(t/2) and 2sin(t/2))
//   c = accurate_cross(sa, sb), n = direction(c)
//   r = 1 / sqrt(ls*ls + ld*ld), f = ld * r
//   result (ls * r, -(n.x*f), -(n.y*f), -(n.z*f))
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
    const Vec3 sa = scale_exponent(a, -largest_frexp_exponent(a.x, a.y, a.z));
    const Vec3 sb = scale_exponent(b, -largest_frexp_exponent(b.x, b.y, b.z));
    const Vec3 ua = unit(sa);
    const Vec3 ub = unit(sb);
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
    const double r = 1.0 / std::sqrt(ls * ls + ld * ld);
    const double f = ld * r;
    const Vec3 n = direction(c);
    return {ls * r, -(n.x * f), -(n.y * f), -(n.z * f)};
}

}  // namespace orvath::core
