#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "same.hpp"
#include "core/angle.hpp"
#include "core/quat.hpp"

using namespace orvath::core;
using namespace orvath::test;

namespace {


::testing::AssertionResult SameQuat(const Quat& g, const Quat& w) {
    if (Same(g.w, w.w) && Same(g.i, w.i) && Same(g.j, w.j) && Same(g.k, w.k))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << "(" << g.w << ", " << g.i << ", "
                                         << g.j << ", " << g.k << ")";
}

}  // namespace

TEST(Angle, ConstantsAreTheNearestDoubles) {
    EXPECT_EQ(bits(PI), 0x400921FB54442D18ULL);
    EXPECT_EQ(bits(TWO_PI), 0x401921FB54442D18ULL);
    EXPECT_EQ(bits(HALF_PI), 0x3FF921FB54442D18ULL);
    EXPECT_EQ(bits(QUARTER_PI), 0x3FE921FB54442D18ULL);
    EXPECT_EQ(bits(THIRD_PI), 0x3FF0C152382D7365ULL);
    EXPECT_EQ(bits(SIXTH_PI), 0x3FE0C152382D7365ULL);
    EXPECT_TRUE(Same(PI, 3.141592653589793));
    EXPECT_TRUE(Same(SIXTH_PI, 0.5235987755982988));
}

TEST(Angle, Reciprocals) {
    EXPECT_TRUE(Same(csc(0.0), INF));
    EXPECT_TRUE(Same(csc(-0.0), -INF));
    EXPECT_TRUE(Same(sec(HALF_PI), 1.633123935319537e16));
    EXPECT_TRUE(Same(cot(HALF_PI), 6.123233995736766e-17));
    EXPECT_TRUE(Same(cot(1.0), 0.6420926159343306));
    EXPECT_TRUE(Same(sec(1.0), 1.8508157176809255));
    EXPECT_TRUE(Same(csc(1.0), 1.1883951057781212));
    EXPECT_TRUE(std::isnan(sec(NaN)));
    EXPECT_TRUE(std::isnan(cot(INF)));
}

TEST(Angle, ConversionsMultiplyThenDivide) {
    EXPECT_TRUE(Same(radians_to_degrees(PI), 180.0));
    EXPECT_TRUE(Same(radians_to_degrees(HALF_PI), 90.0));
    EXPECT_TRUE(Same(radians_to_degrees(QUARTER_PI), 45.0));
    EXPECT_TRUE(Same(radians_to_degrees(TWO_PI), 360.0));
    EXPECT_TRUE(Same(radians_to_degrees(THIRD_PI), 59.99999999999999));
    EXPECT_TRUE(Same(radians_to_degrees(SIXTH_PI), 29.999999999999996));
    EXPECT_TRUE(Same(degrees_to_radians(60.0), THIRD_PI));
    EXPECT_TRUE(Same(degrees_to_radians(-720.0), -12.566370614359172));  // never wrapped
    EXPECT_TRUE(Same(degrees_to_radians(-0.0), -0.0));
    // Values where folding the constant into one factor would round differently.
    EXPECT_TRUE(Same(radians_to_degrees(0.1), 5.729577951308232));
    EXPECT_TRUE(Same(degrees_to_radians(3.0), 0.05235987755982988));
}

TEST(Quat, BasicsAndConjugate) {
    EXPECT_TRUE(SameQuat(identity(), {1.0, 0.0, 0.0, 0.0}));
    EXPECT_TRUE(SameQuat(conjugate(identity()), {1.0, -0.0, -0.0, -0.0}));
    EXPECT_TRUE(approx_eq(conjugate(identity()), identity()));
    EXPECT_TRUE(SameQuat(to_quat({1, 2, 3}), {0.0, 1.0, 2.0, 3.0}));
    EXPECT_TRUE(SameVec(to_vec3d({9, 1, 2, 3}), {1.0, 2.0, 3.0}));
    EXPECT_TRUE(Same(magnitude(Quat{1, 1, 1, 1}), 2.0));
    EXPECT_TRUE(SameQuat(normalize(Quat{0, 0, 0, 0}), {NaN, NaN, NaN, NaN}));
    EXPECT_TRUE(SameQuat(normalize(Quat{0, 0, -3, 4}), {0.0, 0.0, -0.6, 0.8}));
    EXPECT_TRUE(is_unit(Quat{0.5, 0.5, 0.5, 0.5}));
    EXPECT_FALSE(is_unit(Quat{1.0 + 0x1p-52, 0, 0, 0}));
    EXPECT_TRUE(is_unit(Quat{1.0 - 0x1p-53, 0, 0, 0}));
    EXPECT_FALSE(is_unit(Quat{NaN, 0, 0, 0}));
}

TEST(Quat, ApproxEq) {
    EXPECT_TRUE(approx_eq(Quat{1, 0, 0, 0}, Quat{1, 1e-16, 0, 0}));
    EXPECT_FALSE(approx_eq(Quat{1, 0, 0, 0}, Quat{1, 0, 2.220446049250313e-16, 0}));
    EXPECT_FALSE(approx_eq(Quat{1, 0, 0, 0}, Quat{1, 0, 0, -2.220446049250313e-16}));
    EXPECT_FALSE(approx_eq(Quat{1, 0, 0, 0}, Quat{1.0 + 0x1p-52, 0, 0, 0}));
    EXPECT_FALSE(approx_eq(Quat{NaN, 0, 0, 0}, Quat{NaN, 0, 0, 0}));
}

TEST(Quat, FromAxisAngleUsesTheNegativeHalfAngle) {
    const Quat q = from_axis_angle({0, 0, 1}, HALF_PI);
    EXPECT_TRUE(SameQuat(q, {0.7071067811865476, -0.0, -0.0, -0.7071067811865475}));
    const Quat z = from_axis_angle({0, 0, 0}, 1.0);
    EXPECT_TRUE(Same(z.w, std::cos(-0.5)));
    EXPECT_EQ(z.i, 0.0);
    EXPECT_EQ(z.k, 0.0);
    // An axis of length 2 is not normalised.
    EXPECT_TRUE(Same(from_axis_angle({0, 2, 0}, HALF_PI).j, -1.414213562373095));
}

TEST(Quat, RotateEdgeValues) {
    const Quat q = from_axis_angle({0, 0, 1}, HALF_PI);
    EXPECT_TRUE(SameVec(rotate(q, {1, 0, 0}), {2.220446049250313e-16, 1.0, 0.0}));
    EXPECT_TRUE(SameVec(rotate(identity(), {-0.0, 1.0, 2.0}), {0.0, 1.0, 2.0}));
    EXPECT_TRUE(SameVec(rotate(identity(), {5e-324, -7.5, 1e300}), {5e-324, -7.5, 1e300}));
    EXPECT_TRUE(SameVec(rotate(identity(), {INF, 0, 0}), {NaN, NaN, NaN}));
    EXPECT_TRUE(SameVec(rotate({2, 0, 0, 0}, {1, 2, 3}), {4.0, 8.0, 12.0}));
    EXPECT_TRUE(SameVec(rotate({0, 0, 0, 0}, {1, -2, 3}), {0.0, 0.0, 0.0}));
    // The products with the zero scalar part decide these zero signs.
    EXPECT_TRUE(SameVec(rotate({0.0, 0.0, 1.0, -0.0}, {-0.0, -0.0, 1.0}), {0.0, 0.0, -1.0}));
    EXPECT_TRUE(SameVec(rotate({0.0, -0.0, 0.0, -0.0}, {-0.0, 0.0, 0.0}), {0.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(rotate({0.9, 0.1, -0.3, 0.2}, {1.5, -2.25, 3.125}),
                        {2.1725000000000003, -2.3550000000000004, 2.2687500000000003}));
    const Quat r = from_axis_angle({0.2672612419124244, 0.5345224838248488, 0.8017837257372732},
                                   1.2345);
    EXPECT_TRUE(SameQuat(r, {0.8154732238640849, -0.1546894172113723, -0.3093788344227446,
                             -0.4640682516341169}));
    EXPECT_TRUE(SameVec(rotate(r, {3.0, -1.0, 2.5}),
                        {3.4150905856042297, 2.1234725901892135, 0.27932141133911476}));
}

TEST(Quat, RotateMatchesTheTwoHamiltonProducts) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-4.0, 4.0);
    for (int n = 0; n < 2000; ++n) {
        const Quat q{u(rng), u(rng), u(rng), u(rng)};
        const Vec3 v{u(rng), u(rng), u(rng)};
        const Quat r = hamilton(hamilton(conjugate(q), to_quat(v)), q);
        ASSERT_TRUE(SameVec(rotate(q, v), to_vec3d(r)));
    }
}

TEST(Quat, Hamilton) {
    EXPECT_TRUE(SameQuat(hamilton({0, 1, 0, 0}, {0, 0, 1, 0}), {0.0, 0.0, 0.0, 1.0}));
    EXPECT_TRUE(SameQuat(hamilton({0, 0, 1, 0}, {0, 1, 0, 0}), {0.0, 0.0, 0.0, -1.0}));
    EXPECT_TRUE(SameQuat(hamilton({1, 2, 3, 4}, {5, 6, 7, 8}), {-60.0, 12.0, 30.0, 24.0}));
}

TEST(Quat, ToAxisAngle) {
    const AxisAngle a = to_axis_angle(from_axis_angle({0, 0, 1}, HALF_PI));
    EXPECT_TRUE(SameVec(a.axis, {-0.0, -0.0, -1.0}));
    EXPECT_TRUE(Same(a.angle, 1.5707963267948966));
    const AxisAngle b = to_axis_angle({0.5, 0.5, 0.5, 0.5});
    EXPECT_TRUE(SameVec(b.axis, {0.5773502691896257, 0.5773502691896257, 0.5773502691896257}));
    EXPECT_TRUE(Same(b.angle, 2.0943951023931957));
    const AxisAngle c = to_axis_angle({-1.0, 0, 0, 0});
    EXPECT_TRUE(SameVec(c.axis, {0.0, 0.0, 0.0}));
    EXPECT_TRUE(Same(c.angle, 6.283185307179586));
    const AxisAngle d = to_axis_angle({2.0, 0, 0, 0});
    EXPECT_TRUE(SameVec(d.axis, {NaN, NaN, NaN}));
    EXPECT_TRUE(std::isnan(d.angle));
    EXPECT_TRUE(std::isnan(to_axis_angle({NaN, 1, 0, 0}).angle));
}

TEST(Quat, ToAxisAngleToleranceBoundary) {
    const AxisAngle in = to_axis_angle({1.0, 0.3, 0.0, 0.0});
    EXPECT_TRUE(SameVec(in.axis, {1.0, 0.0, 0.0}));
    EXPECT_TRUE(Same(in.angle, 0.0));
    EXPECT_TRUE(Same(to_axis_angle({1.0 - 0x1p-53, 0.3, 0, 0}).angle, 0.0));
    // A difference of exactly EPSILON is not below it: the acos branch runs.
    const AxisAngle out = to_axis_angle({1.0 - 2.220446049250313e-16, 0.3, 0.0, 0.0});
    EXPECT_TRUE(Same(out.angle, 4.2146848510894035e-08));
    EXPECT_TRUE(SameVec(out.axis, {14235939.84363773, 0.0, 0.0}));
}

TEST(Quat, ToRotationMatrix) {
    const Mat3 m = to_rotation_matrix(from_axis_angle({0, 0, 1}, HALF_PI));
    const double want[3][3] = {{2.220446049250313e-16, 1.0, 0.0},
                               {-1.0, 2.220446049250313e-16, 0.0},
                               {0.0, 0.0, 1.0}};
    const Mat3 n = to_rotation_matrix({0.9, 0.1, -0.3, 0.2});  // not a unit quaternion
    const double want_n[3][3] = {{0.74, -0.42000000000000004, -0.5},
                                 {0.30000000000000004, 0.9, -0.30000000000000004},
                                 {0.5800000000000001, 0.060000000000000026, 0.8}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(Same(m[r][c], want[r][c])) << r << "," << c;
            EXPECT_TRUE(Same(n[r][c], want_n[r][c])) << r << "," << c;
        }
}

TEST(Quat, FromRotationMatrixBranchesTiesAndSign) {
    // Each branch recovers an exactly representable quaternion exactly.
    for (const Quat q : {Quat{0.5, 0.5, 0.5, 0.5}, Quat{0, 1, 0, 0}, Quat{0, 0, 1, 0}, Quat{0, 0, 0, 1}})
        EXPECT_TRUE(SameQuat(from_rotation_matrix(to_rotation_matrix(q)), q));
    // A tie keeps the earlier candidate: m00 = m11 takes the m00 branch (i = 1);
    // the m11 branch would have given j = 1.
    EXPECT_TRUE(SameQuat(from_rotation_matrix({{{0.5, 0, 0}, {0, 0.5, 0}, {0, 0, -3}}}), {0.0, 1.0, 0.0, 0.0}));
    // w = m21 - m12 = -1 in the m00 branch: all four signs flip, (1, -4, -0, -0) normalised.
    EXPECT_TRUE(SameQuat(from_rotation_matrix({{{1, 0, 0}, {0, -1, 1}, {0, 0, -1}}}),
                         {0.24253562503633297, -0.9701425001453319, -0.0, -0.0}));
    // The determinant is the caller's test (the zero matrix gives (1, 0, 0, 0)),
    // and it keeps its sign where the products overflow.
    EXPECT_TRUE(SameQuat(from_rotation_matrix({}), {1.0, 0.0, 0.0, 0.0}));
    EXPECT_TRUE(SameQuat(from_rotation_matrix({{{NaN, 0, 0}, {0, 1, 0}, {0, 0, 1}}}), {NaN, NaN, NaN, NaN}));
    EXPECT_EQ(determinant({{{0x1p600, 0, 0}, {0, 0x1p600, 0}, {0, 0, -1}}}), -INF);
}

TEST(Quat, FromTwoVectorsSpecialDirections) {
    EXPECT_TRUE(SameQuat(from_two_vectors({1, 2, 3}, {1, 2, 3}), {1.0, 0.0, 0.0, 0.0}));
    // Opposite directions: a half turn about normalize(ua x X), X = x unless ua
    // lies within |ua.x| > 0.9 of the x axis, then y.
    EXPECT_TRUE(SameQuat(from_two_vectors({0, 2, 0}, {0, -3, 0}), {0.0, 0.0, 0.0, -1.0}));
    EXPECT_TRUE(SameQuat(from_two_vectors({5, 0, 0}, {-1, 0, 0}), {0.0, 0.0, 0.0, 1.0}));
    // A quarter turn about z: the convention of from_axis_angle up to rounding.
    const Quat quarter = from_two_vectors({1, 0, 0}, {0, 1, 0});
    EXPECT_TRUE(SameQuat(quarter, {0.7071067811865476, -0.0, -0.0, -0.7071067811865476}));
    EXPECT_TRUE(approx_eq(quarter, from_axis_angle({0, 0, 1}, HALF_PI)));
    EXPECT_TRUE(SameQuat(from_two_vectors({0, 0, 0}, {1, 0, 0}), {NaN, NaN, NaN, NaN}));
    EXPECT_TRUE(SameQuat(from_two_vectors({1, 0, 0}, {INF, 0, 0}), {NaN, NaN, NaN, NaN}));
}
