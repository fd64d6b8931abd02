#include "core/exact_sum.hpp"

#include <gtest/gtest.h>

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

// Doubles of every magnitude, subnormals included, and either sign.
double any_double(std::mt19937_64& rng) {
    const double m = std::ldexp(static_cast<double>(rng() >> 11), -53);
    const double v = std::ldexp(m, static_cast<int>(rng() % 2098) - 1074);
    return rng() & 1 ? -v : v;
}

// Any grouping of the terms, any number of flushes in between, and any thread
// count on the pool give the same bits. (The rounding itself is checked
// against exact rational arithmetic in the Python tests.)
TEST(ExactSum, MergesExactly) {
    std::mt19937_64 rng(9);
    std::vector<Vec3> v(300000);
    for (Vec3& e : v) e = {any_double(rng), std::ldexp(any_double(rng), -900), static_cast<double>(rng() % 7) - 3};
    ExactSum whole;
    for (const Vec3& e : v) whole.add(e.x);
    const double expected = whole.round();
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{1500}, v.size() - 1}) {
        ExactSum left, right;
        for (std::size_t i = 0; i < v.size(); ++i) (i < cut ? left : right).add(v[i].x);
        right.merge(left);
        ASSERT_TRUE(Same(right.round(), expected)) << cut;
    }
    Vec3 first{};
    for (std::size_t threads : {1, 2, 3, 8}) {
        std::string error;
        std::unique_ptr<Pool> pool = Pool::create(threads, &error);
        ASSERT_TRUE(pool) << error;
        ASSERT_GT(pool->chunk_count(v.size(), bulk::cost::kSum), 1u);
        Vec3 got;
        ASSERT_TRUE(bulk::exact_sum(*pool, v.data(), v.size(), got));
        if (threads == 1) first = got;
        EXPECT_TRUE(SameVec(got, first)) << threads;
        EXPECT_TRUE(Same(got.x, expected)) << threads;
    }
}

}  // namespace
