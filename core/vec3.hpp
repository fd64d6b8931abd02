// Three-component double vector and every computation on it.
//
// Results must agree to the bit across builds and with the bulk kernels that
// call these same functions, so each expression is written in the exact
// operation order intended: sums of three terms are ((p + q) + r), divisions
// stay divisions, and the build disables contraction into fused multiply-adds.
// Nothing here checks for zero lengths or non-finite input; NaN and infinities
// flow through to the result.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

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

// Products.
inline constexpr double dot(const Vec3& a, const Vec3& b) noexcept {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}
inline constexpr Vec3 cross(const Vec3& a, const Vec3& b) noexcept {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// ---------------------------------------------------------------------------
// Lengths: sqrt((x*x + y*y) + z*z) for vectors and ((w*w + i*i) + j*j) + k*k
// under the root for quaternions. Where that sum of squares overflows to inf,
// or falls below the smallest normal double 2^-1022 (losing bits, or all of
// them) while a component is non-zero, the same formula runs in the same
// order on the operand scaled by 2^-e, e the exponent of its largest
// component (so that component lies in [1, 2)), and a length is scaled back
// by 2^e. Both scalings are std::ldexp, exact but where a result is
// subnormal; so the length is what the formula would give with an unbounded
// exponent range, rounded once into the double range (inf beyond it). Every
// other input never takes this path and keeps the plain formula's bits. A
// zero vector (sum 0, NaN directions) and NaN or infinite components keep
// what the plain formula gives.

// True when a plain sum of squares is not a normal double: zero, subnormal,
// inf or NaN. The patterns of [2^-1022, DBL_MAX] form one run of integers,
// so this is one unsigned comparison, cheap enough for the vector kernels to
// make per element.
inline bool outside_normal_range(double sum_of_squares) noexcept {
    return std::bit_cast<std::uint64_t>(sum_of_squares) - 0x0010000000000000u >= 0x7FE0000000000000u;
}

// The e of the scaling above, or nullopt when nothing is to be scaled (all
// components zero, or one infinite or NaN).
inline std::optional<int> largest_exponent(double a, double b, double c, double d = 0.0) noexcept {
    if (!(std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d))) return std::nullopt;
    const double m = std::fmax(std::fmax(std::fabs(a), std::fabs(b)), std::fmax(std::fabs(c), std::fabs(d)));
    if (m == 0.0) return std::nullopt;
    return std::ilogb(m);
}

// x * 2^k rounded once, as ldexp() gives it: a product with the power of two
// where that is a normal double (no library call), ldexp() otherwise.
inline double pow2(int k) noexcept { return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52); }
inline bool is_normal_pow2(int k) noexcept { return k >= -1022 && k <= 1023; }
inline double times_pow2(double x, int k) noexcept { return is_normal_pow2(k) ? x * pow2(k) : std::ldexp(x, k); }

inline Vec3 scale_exponent(const Vec3& a, int e) noexcept {
    return {times_pow2(a.x, e), times_pow2(a.y, e), times_pow2(a.z, e)};
}

// The formulas as written, without the scaling: what the vector kernels run,
// flagging with outside_normal_range() the elements to redo.
inline double plain_magnitude(const Vec3& a) noexcept { return std::sqrt(dot(a, a)); }
inline Vec3 plain_normalize(const Vec3& a) noexcept { return divide(a, plain_magnitude(a)); }

// The scaled paths, out of line so that the callers' loops stay small.
[[gnu::cold, gnu::noinline]] inline double scaled_magnitude(const Vec3& a) noexcept {
    const std::optional<int> e = largest_exponent(a.x, a.y, a.z);
    if (!e) return plain_magnitude(a);
    return std::ldexp(plain_magnitude(scale_exponent(a, -*e)), *e);
}
// The direction of a is that of a * 2^-e: no scaling back.
[[gnu::cold, gnu::noinline]] inline Vec3 scaled_normalize(const Vec3& a) noexcept {
    const std::optional<int> e = largest_exponent(a.x, a.y, a.z);
    return plain_normalize(e ? scale_exponent(a, -*e) : a);
}

inline double magnitude(const Vec3& a) noexcept {
    if (outside_normal_range(dot(a, a))) [[unlikely]] return scaled_magnitude(a);
    return plain_magnitude(a);
}
inline Vec3 normalize(const Vec3& a) noexcept {
    if (outside_normal_range(dot(a, a))) [[unlikely]] return scaled_normalize(a);
    return plain_normalize(a);
}

// Where the scaling applies, the plain length is inf, NaN or below 2^-511 and
// the scaled one NaN, beyond 2^511 or below 2^-511: neither is within EPSILON
// of 1, so the plain length decides, and the bulk kernel stays one loop.
inline bool is_unit(const Vec3& a) noexcept {
    return std::fabs(plain_magnitude(a) - 1.0) < EPSILON;
}

// In exact arithmetic the quotient lies in [-1, 1]; rounding can push it just
// past +-1 for parallel or antiparallel vectors, where acos would give NaN, so
// it is clamped first. The comparisons are false for NaN, so a zero-length
// operand (0/0) or a NaN component still gives NaN, and every quotient already
// inside the range is used unchanged.
inline double plain_angle_to(const Vec3& a, const Vec3& b) noexcept {
    const double d = dot(a, b);
    const double ma = plain_magnitude(a);
    const double mb = plain_magnitude(b);
    double q = d / (ma * mb);
    if (q > 1.0) q = 1.0;
    if (q < -1.0) q = -1.0;
    return std::acos(q);
}
// The angle does not depend on the lengths, so each operand is scaled by its
// own power of two and nothing is scaled back; the dot product and the
// product of the lengths then stay in range too.
[[gnu::cold, gnu::noinline]] inline double scaled_angle_to(const Vec3& a, const Vec3& b) noexcept {
    const std::optional<int> ea = largest_exponent(a.x, a.y, a.z);
    const std::optional<int> eb = largest_exponent(b.x, b.y, b.z);
    return plain_angle_to(ea ? scale_exponent(a, -*ea) : a, eb ? scale_exponent(b, -*eb) : b);
}
inline double angle_to(const Vec3& a, const Vec3& b) noexcept {
    if (outside_normal_range(dot(a, a)) || outside_normal_range(dot(b, b))) [[unlikely]]
        return scaled_angle_to(a, b);
    return plain_angle_to(a, b);
}

// Distances and projections. Lines are infinite (the parameter is never
// clamped to the segment) and the plane normal is used as given, unnormalised.
inline constexpr double distance_squared(const Vec3& a, const Vec3& b) noexcept {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    const double dz = a.z - b.z;
    return (dx * dx + dy * dy) + dz * dz;
}
// The length of the difference; a difference that itself overflows has a
// length beyond the double range, and inf is right.
inline double distance_to(const Vec3& a, const Vec3& b) noexcept { return magnitude(sub(a, b)); }
inline constexpr Vec3 new_from_to(const Vec3& from, const Vec3& to) noexcept {
    return sub(to, from);
}
inline double distance_to_line(const Vec3& p, const Vec3& a, const Vec3& b) noexcept {
    const Vec3 d = sub(b, a);
    const Vec3 w = sub(p, a);
    const double u = dot(w, d) / dot(d, d);
    const Vec3 f{d.x * u + a.x, d.y * u + a.y, d.z * u + a.z};
    return magnitude(sub(p, f));
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
