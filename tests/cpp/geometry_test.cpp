#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "same.hpp"
#include "core/circle.hpp"
#include "core/intersect.hpp"
#include "core/plane.hpp"

using namespace orvath::core;
using namespace orvath::test;

namespace {


Circle raw_circle(Vec3 center, double radius, Vec3 normal) { return {center, radius, normal}; }

}  // namespace

TEST(Plane, Builders) {
    const Plane p = make_plane({0, 0, 2}, 5.0);
    EXPECT_TRUE(SameVec(p.normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(p.constant, -5.0));
    EXPECT_TRUE(Same(make_plane({0, 0, 1}, 0.0).constant, -0.0));
    EXPECT_TRUE(SameVec(make_plane({0, 0, 0}, 1.0).normal, {NaN, NaN, NaN}));
    EXPECT_TRUE(SameVec(plane_xy().normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(plane_xy().constant, -0.0));
    EXPECT_TRUE(SameVec(plane_xz().normal, {0.0, 1.0, 0.0}));
    EXPECT_TRUE(Same(plane_xz().constant, -0.0));
    EXPECT_TRUE(SameVec(plane_yz().normal, {1.0, 0.0, 0.0}));
    EXPECT_TRUE(Same(plane_yz().constant, -0.0));
    const Plane f = plane_from_point({0, 0, 3}, {1, 1, 2});
    EXPECT_TRUE(SameVec(f.normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(f.constant, -2.0));
}

TEST(Plane, FromPoints) {
    const Plane p = plane_from_points({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    EXPECT_TRUE(SameVec(p.normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(p.constant, -0.0));
    EXPECT_TRUE(SameVec(plane_from_points({0, 0, 0}, {0, 1, 0}, {1, 0, 0}).normal, {0.0, 0.0, -1.0}));
    const Plane g = plane_from_points({1, 2, 3}, {-2, 0.5, 4}, {0, -1, -2.5});
    EXPECT_TRUE(SameVec(g.normal, {0.5087100770497993, -0.7913267865219101, 0.3391400513665329}));
    EXPECT_TRUE(Same(g.constant, 0.056523341894421986));
    const Plane c = plane_from_points({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_TRUE(SameVec(c.normal, {NaN, NaN, NaN}));
    EXPECT_TRUE(std::isnan(c.constant));
    EXPECT_FALSE(contains_point(c, {0, 0, 0}));
    EXPECT_FALSE(contains_point(c, {1, 1, 1}));
}

TEST(Plane, DistanceAndContainment) {
    const Plane p = make_plane({0, 0, 2}, 5.0);
    EXPECT_TRUE(Same(distance_to_point(p, {1, 2, 5}), 0.0));
    EXPECT_TRUE(contains_point(p, {1, 2, 5}));
    EXPECT_TRUE(Same(distance_to_point(p, {0, 0, 1}), 4.0));  // unsigned below the plane
    // A stored normal of length 2 is used as it is.
    const Plane s{{0, 0, 2}, -5.0};
    EXPECT_TRUE(Same(distance_to_point(s, {0, 0, 5}), 5.0));
    // The distance term is stored as given: 5.0 means z = -5.
    EXPECT_TRUE(contains_point(Plane{{0, 0, 1}, 5.0}, {0, 0, -5}));
    EXPECT_FALSE(contains_point(plane_xy(), {0, 0, 1e-15}));
    EXPECT_TRUE(contains_point(plane_xy(), {0, 0, 1e-17}));
    EXPECT_FALSE(contains_point(plane_xy(), {0, 0, 0x1p-52}));
    EXPECT_TRUE(contains_point(plane_xy(), {0, 0, -0x1p-53}));
}

TEST(Circle, MakeAreaAndDegeneracy) {
    const Circle c = make_circle({1, 2, 3}, -2.0, {0, 0, 5});
    EXPECT_TRUE(Same(c.radius, 2.0));
    EXPECT_TRUE(SameVec(c.normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(area(c), 12.566370614359172));
    EXPECT_TRUE(Same(make_circle({0, 0, 0}, -0.0, {0, 0, 1}).radius, 0.0));
    EXPECT_TRUE(SameVec(make_circle({0, 0, 0}, 1.0, {0, 0, 0}).normal, {NaN, NaN, NaN}));
    const Circle neg = raw_circle({1, 2, 3}, -2.0, {0, 0, 1});
    EXPECT_FALSE(is_degenerate(neg));
    EXPECT_TRUE(Same(area(neg), 12.566370614359172));
    EXPECT_TRUE(Same(area(raw_circle({0, 0, 0}, 2.75, {0, 0, 1})), 23.75829444277281));
    EXPECT_TRUE(is_degenerate(raw_circle({0, 0, 0}, -0.0, {0, 0, 1})));
    EXPECT_FALSE(is_degenerate(raw_circle({0, 0, 0}, NaN, {0, 0, 1})));
    EXPECT_FALSE(is_degenerate(raw_circle({0, 0, 0}, 1.0, {0, 0, 0})));
}

TEST(Circle, None) {
    const Circle n = circle_none();
    EXPECT_TRUE(SameVec(n.center, {0.0, 0.0, 0.0}));
    EXPECT_TRUE(Same(n.radius, 0.0));
    EXPECT_TRUE(std::isnan(n.normal.x) && std::isnan(n.normal.y) && std::isnan(n.normal.z));
    EXPECT_EQ(bits(n.normal.x) & 0x0008000000000000ULL, 0x0008000000000000ULL);  // quiet
    EXPECT_TRUE(is_degenerate(n));
    EXPECT_TRUE(Same(area(n), 0.0));
    const Plane p = get_plane(n);
    EXPECT_TRUE(std::isnan(p.normal.z) && std::isnan(p.constant));
    EXPECT_FALSE(approx_eq(n, n));
}

TEST(Circle, GetPlaneRenormalises) {
    const Plane p = get_plane(raw_circle({1, 1, 2}, 1.0, {0, 0, 3}));
    EXPECT_TRUE(SameVec(p.normal, {0.0, 0.0, 1.0}));
    EXPECT_TRUE(Same(p.constant, -2.0));
}

TEST(Circle, Equality) {
    const Circle a = make_circle({1, 2, 3}, 2.0, {0, 0, 1});
    EXPECT_TRUE(approx_eq(a, make_circle({1, 2, 3}, 2.0, {0, 0, -1})));
    EXPECT_TRUE(approx_eq(a, make_circle({1, 2, 3 + 1e-17}, 2.0, {0, 0, -1})));
    EXPECT_TRUE(approx_eq(make_circle({0, 0, 0}, 2.0, {0, 0, 1}),
                          make_circle({1e-17, 0, 0}, 2.0, {0, 0, 1})));
    EXPECT_FALSE(approx_eq(a, make_circle({1, 2, 3}, 2.0 + 0x1p-51, {0, 0, 1})));
    EXPECT_FALSE(approx_eq(a, make_circle({1, 2, 3}, 2.0, {0, 1, 0})));
    EXPECT_FALSE(approx_eq(make_circle({0, 0, 0}, 1.0, {0, 0, 1}),
                           make_circle({0, 0, 2.220446049250313e-16}, 1.0, {0, 0, 1})));
    const Circle nan_r = raw_circle({0, 0, 0}, NaN, {0, 0, 1});
    EXPECT_FALSE(approx_eq(nan_r, nan_r));
}

TEST(Circle, InSamePlane) {
    const Circle up = make_circle({0, 0, 5}, 1.0, {0, 0, 1});
    EXPECT_TRUE(in_same_plane(up, make_circle({3, 0, 5}, 2.0, {0, 0, -1})));
    EXPECT_FALSE(in_same_plane(up, make_circle({0, 0, -5}, 1.0, {0, 0, -1})));
    EXPECT_FALSE(in_same_plane(up, raw_circle({1, 0, 5}, 1.0, {0, 0, 2})));  // not by direction
    EXPECT_TRUE(in_same_plane(make_circle({0, 0, 0}, 1.0, {0, 0, 1}),
                              make_circle({4, 0, 1e-17}, 1.0, {0, 0, 1})));
    EXPECT_FALSE(in_same_plane(up, make_circle({0, 0, 6}, 1.0, {0, 0, 1})));
    EXPECT_FALSE(in_same_plane(make_circle({0, 0, 0}, 1.0, {0, 0, 1}),
                               make_circle({0, 0, 0x1p-52}, 1.0, {0, 0, 1})));
    EXPECT_FALSE(in_same_plane(make_circle({0, 0, 0}, 1.0, {0, 0, 1}),
                               make_circle({0, 0, 0x1p-52}, 1.0, {0, 0, -1})));
    EXPECT_FALSE(in_same_plane(up, circle_none()));
}

TEST(Intersect, PlaneLine) {
    const Plane p = make_plane({0, 0, 1}, 5.0);
    EXPECT_TRUE(SameVec(plane_line(p, {0, 0, 0}, {0, 0, 10}), {0.0, 0.0, 5.0}));
    EXPECT_TRUE(SameVec(plane_line(p, {1, 1, 1}, {2, 2, 2}), {5.0, 5.0, 5.0}));
    const Vec3 par = plane_line(plane_xy(), {0, 0, 1}, {1, 0, 1});
    EXPECT_FALSE(std::isfinite(par.x));
    EXPECT_FALSE(std::isfinite(par.z));
    EXPECT_TRUE(SameVec(plane_line(Plane{{0.0, 0.6, 0.8}, -1.5}, {0.25, -2.0, 1.0}, {3.0, 4.5, -0.75}),
                        {2.34, 2.9400000000000004, -0.33000000000000007}));
}

TEST(Intersect, CirclePoint) {
    const Circle c = make_circle({0, 0, 0}, 5.0, {0, 0, 1});
    for (bool inner : {false, true}) {
        EXPECT_TRUE(circle_point(c, {3, 4, 0}, inner));
        EXPECT_TRUE(circle_point_unchecked(c, {3, 4, 0}, inner));
        EXPECT_EQ(circle_point(c, {1, 0, 0}, inner), inner);
        EXPECT_FALSE(circle_point(c, {6, 0, 0}, inner));
        EXPECT_FALSE(circle_point(c, {1, 0, 1}, inner));
        EXPECT_EQ(circle_point_unchecked(c, {1, 0, 1}, inner), inner);
    }
    EXPECT_FALSE(circle_point(c, {NaN, 0, 0}, true));
    EXPECT_FALSE(circle_point_unchecked(c, {NaN, 0, 0}, true));
}

TEST(Intersect, CirclePointToleranceBoundary) {
    // dist = 1 and radius 1 + 2^-52 give a gap of exactly EPSILON: neither on
    // the circumference nor inside.
    const Circle e = make_circle({0, 0, 0}, 1.0 + 0x1p-52, {0, 0, 1});
    EXPECT_FALSE(circle_point(e, {1, 0, 0}, true));
    EXPECT_FALSE(circle_point_unchecked(e, {1, 0, 0}, true));
    const Circle in = make_circle({0, 0, 0}, 1.0 + 0x1p-51, {0, 0, 1});
    EXPECT_TRUE(circle_point_unchecked(in, {1, 0, 0}, true));
    EXPECT_FALSE(circle_point_unchecked(in, {1, 0, 0}, false));
    const Circle on = make_circle({0, 0, 0}, 1.0 - 0x1p-53, {0, 0, 1});
    EXPECT_TRUE(circle_point(on, {1, 0, 0}, false));
    // Off-plane by exactly EPSILON fails the strict in-plane test.
    EXPECT_FALSE(circle_point(make_circle({0, 0, 0}, 1.0, {0, 0, 1}), {1, 0, 0x1p-52}, true));
    // The in-plane test normalises a stored normal of length 2 first.
    EXPECT_TRUE(circle_point(raw_circle({0, 0, 0}, 1.0, {0, 0, 2}), {1, 0, 0x1.8p-53}, false));
}

TEST(Intersect, CircleCircleCrossings) {
    const Circle a = make_circle({0, 0, 0}, 5.0, {0, 0, 1});
    CircleCircle r = circle_circle(a, make_circle({6, 0, 0}, 5.0, {0, 0, 1}));
    ASSERT_EQ(r.outcome, CircleOutcome::Ok);
    EXPECT_TRUE(SameVec(r.first, {3.0, -4.0, 0.0}));
    EXPECT_TRUE(SameVec(r.second, {3.0, 4.0, 0.0}));
    r = circle_circle(a, make_circle({4, 0, 0}, 3.0, {0, 0, 1}));
    EXPECT_TRUE(SameVec(r.first, {4.0, -3.0, 0.0}));
    EXPECT_TRUE(SameVec(r.second, {4.0, 3.0, 0.0}));
    r = circle_circle(make_circle({0, 0, 0}, 1.0, {0, 0, 1}), make_circle({2, 0, 0}, 1.0, {0, 0, 1}));
    ASSERT_EQ(r.outcome, CircleOutcome::Ok);
    EXPECT_TRUE(SameVec(r.first, {1.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(r.second, {1.0, 0.0, 0.0}));
    r = circle_circle(make_circle({0.5, -1.25, 5}, 3.0, {0, 0, 1}),
                      make_circle({2.75, 1.5, 5}, 2.5, {0, 0, 1}));
    EXPECT_TRUE(SameVec(r.first, {3.4785028862079264, -0.8915023614428488, 5.0}));
    EXPECT_TRUE(SameVec(r.second, {0.26159612369306395, 1.7405122624329479, 5.0}));
    // The chord uses the square of the rounded distance, not the sum of squares.
    r = circle_circle(make_circle({0, 0, 0}, 2.66, {0, 0, 1}),
                      make_circle({1.19, 1.72, 0}, 1.02, {0, 0, 1}));
    EXPECT_TRUE(SameVec(r.first, {2.1885474190005247, 1.5119061461566143, 0.0}));
    EXPECT_TRUE(SameVec(r.second, {0.6432146109457555, 2.5810608214968322, 0.0}));
    // Circles in the plane x = 0 whose centers differ along z.
    r = circle_circle(make_circle({0, 0, 0}, 5.0, {1, 0, 0}), make_circle({0, 0, 6}, 5.0, {1, 0, 0}));
    EXPECT_TRUE(SameVec(r.first, {0.0, 4.0, 3.0}));
    EXPECT_TRUE(SameVec(r.second, {0.0, -4.0, 3.0}));
    // Touching from inside passes the strict containment test.
    r = circle_circle(make_circle({0, 0, 0}, 5.0, {0, 0, 1}), make_circle({2, 0, 0}, 3.0, {0, 0, 1}));
    ASSERT_EQ(r.outcome, CircleOutcome::Ok);
    EXPECT_TRUE(SameVec(r.first, {5.0, 0.0, 0.0}));
    EXPECT_TRUE(SameVec(r.second, {5.0, 0.0, 0.0}));
    // Opposite normals intersect normally; circle2's normal orders the points.
    const Circle s1 = make_circle({0, 0, 5}, 5.0, {0, 0, 1});
    const CircleCircle up = circle_circle(s1, make_circle({6, 0, 5}, 5.0, {0, 0, 1}));
    const CircleCircle down = circle_circle(s1, make_circle({6, 0, 5}, 5.0, {0, 0, -1}));
    ASSERT_EQ(down.outcome, CircleOutcome::Ok);
    EXPECT_TRUE(SameVec(up.first, down.second));
    EXPECT_TRUE(SameVec(up.second, down.first));
}

TEST(Intersect, CircleCircleFailuresInOrder) {
    const Circle a = make_circle({0, 0, 0}, 5.0, {0, 0, 1});
    EXPECT_EQ(circle_circle(a, make_circle({11, 0, 0}, 5.0, {0, 0, 1})).outcome,
              CircleOutcome::TooFarApart);
    EXPECT_EQ(circle_circle(a, make_circle({1, 0, 0}, 2.0, {0, 0, 1})).outcome,
              CircleOutcome::Contained);
    EXPECT_EQ(circle_circle(a, a).outcome, CircleOutcome::Identical);
    // Identity is tested before coplanarity, even with the normal flipped.
    EXPECT_EQ(circle_circle(a, make_circle({0, 0, 0}, 5.0, {0, 0, -1})).outcome,
              CircleOutcome::Identical);
    EXPECT_EQ(circle_circle(a, make_circle({1, 0, 0}, 5.0, {1, 0, 0})).outcome,
              CircleOutcome::OutOfPlane);
    // Out of plane wins over too far apart.
    EXPECT_EQ(circle_circle(a, make_circle({100, 0, 1}, 5.0, {0, 0, 1})).outcome,
              CircleOutcome::OutOfPlane);
    EXPECT_EQ(circle_circle(a, make_circle({0, 0, 1}, 5.0, {0, 0, 1})).outcome,
              CircleOutcome::OutOfPlane);
    EXPECT_EQ(circle_circle(circle_none(), circle_none()).outcome, CircleOutcome::OutOfPlane);
}

TEST(Intersect, OutcomeMessages) {
    EXPECT_EQ(outcome_message(CircleOutcome::Ok), nullptr);
    EXPECT_EQ(std::string(outcome_message(CircleOutcome::TooFarApart)),
              "The given geometries are too far apart and do not intersect at all.");
    EXPECT_EQ(std::string(outcome_message(CircleOutcome::Contained)),
              "One of the given geometries is contained entirely within the other. The surfaces "
              "do not intersect.");
    EXPECT_EQ(std::string(outcome_message(CircleOutcome::Identical)),
              "The given geometries are identical.");
    EXPECT_EQ(std::string(outcome_message(CircleOutcome::OutOfPlane)),
              "The given geometries are out of plane from each other");
}
