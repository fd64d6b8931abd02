// Element-wise loops four vectors at a time, with one register per axis.
//
// Vectors are stored x y z x y z ..., so a register of four doubles holds
// parts of two vectors. Where the compiler vectorises such a loop by itself it
// shuffles on every load and store: cheaply with AVX-512's two-source
// permutes, expensively with AVX2's (4-4.5 ns per element for rotate, 1.5 for
// cross, as its clone ran on an Intel Xeon), and on baseline x86-64 it mostly
// stays scalar. The loops here move four vectors into (x0..x3) (y0..y3)
// (z0..z3) with six shuffles, run the operation on each lane, and move the
// results back with six more (rotate 1.6, cross 0.6 ns per element on the
// same Xeon). They pay only on the AVX2 clone: AVX-512's own loops are faster
// for rotate, and baseline x86-64 has no 4-double registers to shuffle. So the
// kernels run them where lanes::shuffled() says that clone was picked.
//
// Each lane does the scalar operations in their order, so the results keep
// the bits of the plain loop whichever loop runs.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/vec3.hpp"

namespace orvath::core::lanes {

// True when the loader picked the AVX2 clone of the template kernels (see
// core/kernel.hpp); read once.
bool shuffled() noexcept;
// Makes the kernels run these loops, or not, whatever the clone (tests).
void set_shuffled(bool on) noexcept;

using V4 = double __attribute__((vector_size(32)));

// (x0 y0 z0 x1) (y1 z1 x2 y2) (z2 x3 y3 z3) -> (x0..x3) (y0..y3) (z0..z3).
[[gnu::always_inline]] inline void to_axes(const Vec3* in, double* x, double* y, double* z) noexcept {
    V4 a, b, c;
    std::memcpy(&a, &in[0].x, sizeof a);
    std::memcpy(&b, &in[0].x + 4, sizeof b);
    std::memcpy(&c, &in[0].x + 8, sizeof c);
    const V4 p = __builtin_shufflevector(a, b, 0, 1, 6, 7);  // x0 y0 x2 y2
    const V4 q = __builtin_shufflevector(a, c, 2, 3, 4, 5);  // z0 x1 z2 x3
    const V4 r = __builtin_shufflevector(b, c, 0, 1, 6, 7);  // y1 z1 y3 z3
    const V4 vx = __builtin_shufflevector(p, q, 0, 5, 2, 7);
    const V4 vy = __builtin_shufflevector(p, r, 1, 4, 3, 6);
    const V4 vz = __builtin_shufflevector(q, r, 0, 5, 2, 7);
    std::memcpy(x, &vx, sizeof vx);
    std::memcpy(y, &vy, sizeof vy);
    std::memcpy(z, &vz, sizeof vz);
}

// The way back.
[[gnu::always_inline]] inline void from_axes(const double* x, const double* y, const double* z, Vec3* out) noexcept {
    V4 vx, vy, vz;
    std::memcpy(&vx, x, sizeof vx);
    std::memcpy(&vy, y, sizeof vy);
    std::memcpy(&vz, z, sizeof vz);
    const V4 p = __builtin_shufflevector(vx, vy, 0, 4, 2, 6);  // x0 y0 x2 y2
    const V4 q = __builtin_shufflevector(vz, vx, 0, 5, 2, 7);  // z0 x1 z2 x3
    const V4 r = __builtin_shufflevector(vy, vz, 1, 5, 3, 7);  // y1 z1 y3 z3
    const V4 a = __builtin_shufflevector(p, q, 0, 1, 4, 5);
    const V4 b = __builtin_shufflevector(r, p, 0, 1, 6, 7);
    const V4 c = __builtin_shufflevector(q, r, 2, 3, 6, 7);
    std::memcpy(&out[0].x, &a, sizeof a);
    std::memcpy(&out[0].x + 4, &b, sizeof b);
    std::memcpy(&out[0].x + 8, &c, sizeof c);
}

// The four lanes of one axis register. Its stores and loads are whole
// registers, which the processor forwards from one to the other. Only for
// the template kernels: clang leaves the members of a class undefined for a
// plain function it clones, so those call to_axes on arrays of their own.
struct Axes {
    alignas(32) double x[4], y[4], z[4];
    [[gnu::always_inline]] explicit Axes(const Vec3* in) noexcept { to_axes(in, x, y, z); }
    [[gnu::always_inline]] Vec3 operator[](std::size_t k) const noexcept { return {x[k], y[k], z[k]}; }
    [[gnu::always_inline]] void set(std::size_t k, const Vec3& v) noexcept {
        x[k] = v.x;
        y[k] = v.y;
        z[k] = v.z;
    }
};

// out[k] = f(in[k]) for k < 4; out may be in.
template <class Out, class F>
[[gnu::always_inline]] inline void map4(const Vec3* in, Out* out, const F& f) noexcept {
    Axes v(in);
    if constexpr (std::is_same_v<Out, Vec3>) {
        for (std::size_t k = 0; k < 4; ++k) v.set(k, f(v[k]));
        from_axes(v.x, v.y, v.z, out);
    } else {
        for (std::size_t k = 0; k < 4; ++k) out[k] = f(v[k]);
    }
}

// out[k] = f(a[k], b[k]) for k < 4; out may be a or b.
template <class Out, class F>
[[gnu::always_inline]] inline void map4(const Vec3* a, const Vec3* b, Out* out, const F& f) noexcept {
    Axes u(a);
    const Axes v(b);
    if constexpr (std::is_same_v<Out, Vec3>) {
        for (std::size_t k = 0; k < 4; ++k) u.set(k, f(u[k], v[k]));
        from_axes(u.x, u.y, u.z, out);
    } else {
        for (std::size_t k = 0; k < 4; ++k) out[k] = f(u[k], v[k]);
    }
}

}  // namespace orvath::core::lanes
