#include "core/exact_sum.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/reduce.hpp"
#include "same.hpp"

namespace {

using namespace orvath::core;
using namespace orvath::test;

double sum_of(std::initializer_list<double> terms) {
    ExactSum s;
    for (double t : terms) s.add(t);
    return s.round();
}

// Doubles of every magnitude, subnormals included, and either sign.
double any_double(std::mt19937_64& rng) {
    const double m = std::ldexp(static_cast<double>(rng() >> 11), -53);
    const double v = std::ldexp(m, static_cast<int>(rng() % 2098) - 1074);
    return rng() & 1 ? -v : v;
}

TEST(ExactSum, RoundsOnceToNearestEven) {
    const double half = 0x1p-53, max_half_ulp = 0x1p970;
    // Cancellation leaves exactly the small term, at any magnitude.
    std::mt19937_64 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const double big = any_double(rng), small = any_double(rng);
        ASSERT_TRUE(Same(sum_of({big, small, -big}), small)) << big << " " << small;
    }
    EXPECT_TRUE(Same(sum_of({1.0, half}), 1.0));                       // tie, to the even 1.0
    EXPECT_TRUE(Same(sum_of({1.0 + 2 * half, half}), 1.0 + 4 * half)); // tie, up to the even neighbour
    EXPECT_TRUE(Same(sum_of({1.0, half, 0x1p-1074}), 1.0 + 2 * half)); // just above the tie
    EXPECT_TRUE(Same(sum_of({-1.0, -half, 0x1p-1074}), -1.0));         // just below it
    EXPECT_TRUE(Same(sum_of({DBL_MAX, DBL_MAX, -DBL_MAX}), DBL_MAX));
    EXPECT_TRUE(Same(sum_of({DBL_MAX, max_half_ulp - 0x1p918}), DBL_MAX));
    EXPECT_TRUE(Same(sum_of({-DBL_MAX, -max_half_ulp}), -INF));         // the tie rounds to the even 2^1024
    EXPECT_TRUE(Same(sum_of({0x1p-1074, 0x1p-1074, 0x1p-1022, -0x1p-1074}), 0x1p-1022 + 0x1p-1074));
    EXPECT_TRUE(Same(sum_of({-0.0, -0.0}), 0.0));
    EXPECT_TRUE(Same(sum_of({}), 0.0));
}

TEST(ExactSum, SpecialValues) {
    EXPECT_TRUE(Same(sum_of({1.0, INF, -DBL_MAX, -DBL_MAX}), INF));
    EXPECT_TRUE(Same(sum_of({-INF, -INF, 5.0}), -INF));
    EXPECT_TRUE(std::isnan(sum_of({INF, 1.0, -INF})));
    EXPECT_TRUE(std::isnan(sum_of({INF, -NaN})));
    // Every NaN result has the same bits, whatever NaN came in.
    EXPECT_EQ(bits(sum_of({-NaN})), bits(sum_of({INF, -INF})));
}

// Any grouping of the terms, and any thread count on the pool, gives the same bits.
TEST(ExactSum, MergesExactly) {
    std::mt19937_64 rng(9);
    std::vector<Vec3> v(300000);
    for (Vec3& e : v) e = {any_double(rng), std::ldexp(any_double(rng), -900), static_cast<double>(rng() % 7) - 3};
    ExactSum whole;
    for (const Vec3& e : v) whole.add(e.x);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{777}, v.size() - 1}) {
        ExactSum left, right;
        for (std::size_t i = 0; i < v.size(); ++i) (i < cut ? left : right).add(v[i].x);
        right.merge(left);
        ASSERT_TRUE(Same(right.round(), whole.round())) << cut;
    }
    Vec3 first{};
    for (std::size_t threads : {1, 2, 3, 8}) {
        std::string error;
        std::unique_ptr<Pool> pool = Pool::create(threads, &error);
        ASSERT_TRUE(pool) << error;
        Vec3 got;
        ASSERT_TRUE(bulk::exact_sum(*pool, v.data(), v.size(), got));
        if (threads == 1) first = got;
        EXPECT_TRUE(SameVec(got, first)) << threads;
        EXPECT_TRUE(Same(got.x, whole.round()));
    }
}

}  // namespace
