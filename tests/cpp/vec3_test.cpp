#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "same.hpp"
#include "core/hash.hpp"
#include "core/vec3.hpp"

using namespace orvath::core;
using namespace orvath::test;

TEST(Vec3, ConstantsAndEpsilon) {
    EXPECT_EQ(bits(EPSILON), 0x3CB0000000000000ULL);
    EXPECT_TRUE(SameVec(zero(), {0.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(unit_i(), {1.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(unit_j(), {0.0, 1.0, 0.0}));
    EXPECT_TRUE(SameVec(unit_k(), {0.0, 0.0, 1.0}));
}

TEST(Vec3, Arithmetic) {
    EXPECT_TRUE(SameVec(add({1, 2, 3}, {0.5, -2, 4}), {1.5, 0.0, 7.0}));
    EXPECT_TRUE(SameVec(sub({1, 2, 3}, {0.5, -2, 4}), {0.5, 4.0, -1.0}));
    EXPECT_TRUE(SameVec(scale({1, -2, 0}, -3.0), {-3.0, 6.0, -0.0}));
    EXPECT_TRUE(SameVec(divide({1, -1, 0}, 0.0), {INF, -INF, NaN}));
    // A true division: 1/3 times 3 would not be 0.1 exactly.
    EXPECT_TRUE(Same(divide({0.3, 0, 0}, 3.0).x, 0.3 / 3.0));
    EXPECT_TRUE(SameVec(new_from_to({1, 1, 1}, {2, 3, 4}), {1.0, 2.0, 3.0}));
}

TEST(Vec3, NegateFlipsSignBits) {
    const Vec3 n = negate({0.0, -0.0, 1.0});
    EXPECT_EQ(bits(n.x), 0x8000000000000000ULL);
    EXPECT_EQ(bits(n.y), 0ULL);
    EXPECT_TRUE(Same(n.z, -1.0));
    const double payload = std::bit_cast<double>(0x7FF8000000000123ULL);
    EXPECT_EQ(bits(negate({payload, 0, 0}).x), 0xFFF8000000000123ULL);
}

TEST(Vec3, ProductsKeepGroupingAndAvoidFusedMultiplyAdd) {
    EXPECT_TRUE(Same(dot({1, 1, 1}, {1e16, 1, 1}), 1e16));  // ((p + q) + r)
    // x*x rounds before the subtraction; a fused form would keep 2^-60.
    const double x = 1.0 + 0x1p-30;
    EXPECT_TRUE(Same(dot({x, -1, 0}, {x, 1, 0}), 0x1p-29));
    EXPECT_TRUE(Same(cross({0, x, 1}, {0, 1, x}).x, 0x1p-29));
    EXPECT_TRUE(SameVec(cross(unit_i(), unit_j()), unit_k()));
    EXPECT_TRUE(SameVec(cross(unit_j(), unit_i()), {0.0, 0.0, -1.0}));
    EXPECT_TRUE(Same(scalar_triple_product(unit_i(), unit_j(), unit_k()), 1.0));
    EXPECT_TRUE(Same(scalar_triple_product(unit_j(), unit_i(), unit_k()), -1.0));
    EXPECT_TRUE(Same(scalar_triple_product({0.3, 1.7, -2.2}, {-0.7, 2.1, 0.35}, {1.9, -1.3, 0.45}),
                     8.862));
    EXPECT_TRUE(Same(scalar_triple_product({1.79, 1.78, 1.9}, {-1.47, 2.05, 1.04}, {-2.5, -2.9, -2.91}),
                     0.31528899999999993));
}

TEST(Vec3, MagnitudeAndNormalize) {
    EXPECT_TRUE(Same(magnitude({3, 4, 0}), 5.0));
    EXPECT_TRUE(Same(magnitude({1e155, 0, 0}), 1e155));  // scaled: the square overflows
    EXPECT_TRUE(Same(magnitude({1e-170, 0, 0}), 1e-170));
    EXPECT_TRUE(SameVec(normalize({0, 0, 0}), {NaN, NaN, NaN}));
    EXPECT_TRUE(SameVec(normalize({0, 0, 2}), {0.0, 0.0, 1.0}));
    EXPECT_TRUE(SameVec(normalize({0, -3, 4}), {0.0, -0.6, 0.8}));
}

TEST(Vec3, IsUnitBoundary) {
    EXPECT_TRUE(is_unit({1, 0, 0}));
    EXPECT_TRUE(is_unit({0.6, 0.8, 0}));
    EXPECT_TRUE(is_unit({1.0 - 0x1p-53, 0, 0}));
    EXPECT_FALSE(is_unit({1.0 + 0x1p-52, 0, 0}));
    EXPECT_FALSE(is_unit({1.0 - 0x1p-52, 0, 0}));
    EXPECT_FALSE(is_unit({NaN, 0, 0}));
    EXPECT_FALSE(is_unit({INF, 0, 0}));
}

TEST(Vec3, AngleTo) {
    EXPECT_TRUE(Same(angle_to({1, 0, 0}, {0, 1, 0}), 1.5707963267948966));
    EXPECT_TRUE(Same(angle_to({1, 0, 0}, {-1, 0, 0}), 3.141592653589793));
    EXPECT_TRUE(Same(angle_to({1, 2, 3}, {-4, 5, 0.5}), 1.2534001119710751));
    EXPECT_TRUE(std::isnan(angle_to({0, 0, 0}, {1, 0, 0})));
    EXPECT_TRUE(std::isnan(angle_to({1, 0, 0}, {0, 0, 0})));
}

TEST(Vec3, Distances) {
    EXPECT_TRUE(Same(distance_squared({1, 2, 3}, {4, 6, 3}), 25.0));
    EXPECT_TRUE(Same(distance_to({1, 2, 3}, {4, 6, 3}), 5.0));
    EXPECT_TRUE(Same(distance_to({-0.0, 0, 0}, {0, 0, 0}), 0.0));
    EXPECT_TRUE(Same(distance_to_line({0, 1, 0}, {0, 0, 0}, {1, 0, 0}), 1.0));
    EXPECT_TRUE(Same(distance_to_line({5, 1, 0}, {0, 0, 0}, {1, 0, 0}), 1.0));
    EXPECT_TRUE(std::isnan(distance_to_line({0, 1, 0}, {2, 2, 2}, {2, 2, 2})));
    EXPECT_TRUE(Same(distance_to_line({0.3, 1.7, -2.2}, {1.1, -0.4, 0.9}, {2.5, 3.3, -1.25}),
                     2.432014298966214));
}

TEST(Vec3, Projections) {
    EXPECT_TRUE(SameVec(project_onto_line({1, 1, 0}, {2, 0, 0}, {0, 0, 0}), {1.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(project_onto_line({0.3, 1.7, -2.2}, {1.1, -0.4, 0.9}, {2.5, 3.3, -1.25}),
                        {2.0195215192995435, 2.0301640152916507, -0.5121223332100134}));
    EXPECT_TRUE(SameVec(project_onto_line({1, 1, 0}, {3, 3, 3}, {3, 3, 3}), {NaN, NaN, NaN}));
    EXPECT_TRUE(SameVec(project_onto_plane({1, 2, 3}, {0, 0, 1}), {1.0, 2.0, 0.0}));
    EXPECT_TRUE(SameVec(project_onto_plane({1, 2, 3}, {0, 0, 2}), {1.0, 2.0, -9.0}));
    EXPECT_TRUE(SameVec(project_onto_plane({1, 2, 3}, {0, 0, 0}), {1.0, 2.0, 3.0}));
    EXPECT_TRUE(SameVec(project_onto_plane({0.3, 1.7, -2.2}, {0.48, -0.6, 0.64}),
                        {1.3963200000000002, 0.3295999999999999, -0.73824}));
}

TEST(Vec3, ApproxEq) {
    EXPECT_TRUE(approx_eq({0, 0, 0}, {1e-16, 0, 0}));
    EXPECT_FALSE(approx_eq({0, 0, 0}, {2.220446049250313e-16, 0, 0}));
    EXPECT_FALSE(approx_eq({0, 0, 0}, {0, 0, 2.220446049250313e-16}));
    EXPECT_FALSE(approx_eq({NaN, 0, 0}, {NaN, 0, 0}));
    EXPECT_FALSE(approx_eq({0, 0, 1}, {0, 0, NaN}));
    EXPECT_TRUE(approx_eq({0.0, -0.0, 0.0}, {-0.0, 0.0, 0.0}));
    EXPECT_FALSE(approx_eq({INF, 0, 0}, {INF, 0, 0}));
    // Absolute tolerance: at 1.0 neighbouring doubles are already apart.
    EXPECT_TRUE(approx_eq({1.0, 0, 0}, {1.0 - 0x1p-53, 0, 0}));
    EXPECT_FALSE(approx_eq({1.0, 0, 0}, {1.0 + 0x1p-52, 0, 0}));
}

TEST(Vec3, Collapse) {
    EXPECT_TRUE(SameVec(collapse({1, 2, 3}, 0), {0.0, 2.0, 3.0}));
    EXPECT_TRUE(SameVec(collapse({1, 2, 3}, 1), {1.0, 0.0, 3.0}));
    EXPECT_TRUE(SameVec(collapse({-1, -2, -3}, 2), {-1.0, -2.0, 0.0}));
    EXPECT_TRUE(SameVec(collapse({NaN, -0.0, 1}, 0), {0.0, -0.0, 1.0}));
}

TEST(Hash, SipHash13ZeroKey) {
    // Zero-key SipHash-1-3 of the bytes 00 01 02 .. over lengths that exercise
    // the tail handling on both sides of a block boundary.
    unsigned char msg[32];
    for (int b = 0; b < 32; ++b) msg[b] = static_cast<unsigned char>(b);
    EXPECT_EQ(siphash13(0, 0, msg, 1), 0x68a914128e01e473ULL);
    EXPECT_EQ(siphash13(0, 0, msg, 7), 0x2f098ab0c751325aULL);
    EXPECT_EQ(siphash13(0, 0, msg, 8), 0xead411e67ebe2eeaULL);
    EXPECT_EQ(siphash13(0, 0, msg, 15), 0xf30eb725bb91c9eaULL);
    EXPECT_EQ(siphash13(0, 0, msg, 16), 0x8972188433a5c5b7ULL);
    EXPECT_EQ(siphash13(0, 0, msg, 24), 0x31185a47af932f3aULL);
    EXPECT_EQ(siphash13(0, 0, msg, 31), 0x169739443111d49bULL);
}

TEST(Hash, Vec3Values) {
    EXPECT_EQ(hash_vec3({0, 0, 0}), -504348149136077492LL);
    EXPECT_EQ(hash_vec3({-0.0, 0, 0}), -504348149136077492LL);
    EXPECT_EQ(hash_vec3({0, -0.0, -0.0}), -504348149136077492LL);
    EXPECT_EQ(hash_vec3({1, 2, 3}), 3511550596308926913LL);
    EXPECT_NE(hash_vec3({1e-16, 0, 0}), hash_vec3({0, 0, 0}));
    EXPECT_NE(hash_vec3({1, 2, 3}), hash_vec3({3, 2, 1}));
    // Every NaN hashes as the canonical quiet NaN.
    const double odd_nan = std::bit_cast<double>(0xFFF0000000000001ULL);
    EXPECT_EQ(hash_vec3({odd_nan, 1, 2}), hash_vec3({NaN, 1, 2}));
    EXPECT_EQ(hash_vec3({-NaN, 1, 2}), hash_vec3({NaN, 1, 2}));
}
