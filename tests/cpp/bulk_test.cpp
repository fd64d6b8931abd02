#include "core/bulk.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/float_text.hpp"
#include "same.hpp"

namespace {

using namespace orvath::core;
using namespace orvath::test;
namespace bulk = orvath::core::bulk;

std::unique_ptr<Pool> make_pool(std::size_t threads) {
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(threads, &error);
    if (!pool) ADD_FAILURE() << error;
    return pool;
}

// Finite values over many magnitudes, with signed zeros, infinities, NaNs
// and subnormals mixed in.
std::vector<Vec3> specimen(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> wide(-1e3, 1e3);
    const double special[] = {0.0, -0.0, 1.0, INF, -INF, NaN, -NaN, 5e-324, 1.34e154, 1.79e308};
    auto pick = [&] { return rng() % 10 == 0 ? special[rng() % 10] : wide(rng); };
    std::vector<Vec3> v(n);
    for (Vec3& e : v) e = {pick(), pick(), pick()};
    return v;
}

// Runs op through the pool, requiring that the pool really splits it, and
// checks every entry against the core function applied serially.
template <class Op, class Single>
void check_map(Pool& pool, const std::vector<Vec3>& in, Op op, Single single) {
    const std::size_t n = in.size();
    ASSERT_GT(pool.chunk_count(n, Op::kCost), 1u) << "the operation would not be split";
    std::vector<typename Op::Out> out(n);
    if constexpr (std::is_same_v<typename Op::Out, bool>) {
        std::unique_ptr<bool[]> flags(new bool[n]);
        ASSERT_TRUE(bulk::map(pool, in.data(), flags.get(), n, op));
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(flags[i], single(in[i])) << i;
    } else {
        ASSERT_TRUE(bulk::map(pool, in.data(), out.data(), n, op));
        for (std::size_t i = 0; i < n; ++i) {
            if constexpr (std::is_same_v<typename Op::Out, Vec3>)
                ASSERT_TRUE(SameVec(out[i], single(in[i]))) << i;
            else
                ASSERT_TRUE(Same(out[i], single(in[i]))) << i;
        }
    }
}

TEST(Bulk, EveryOperationGivesTheSingleResultsOnASplitRange) {
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    const std::vector<Vec3> in = specimen(200'000, 1);
    const Vec3 o{0.25, -0.5, 0.75};
    const Quat q{0.9, 0.1, -0.3, 0.2};
    check_map(*pool, in, bulk::Dot{o}, [&](const Vec3& e) { return dot(e, o); });
    check_map(*pool, in, bulk::DistanceSquared{o}, [&](const Vec3& e) { return distance_squared(e, o); });
    check_map(*pool, in, bulk::DistanceTo{o}, [&](const Vec3& e) { return distance_to(e, o); });
    check_map(*pool, in, bulk::Magnitude{}, [](const Vec3& e) { return magnitude(e); });
    check_map(*pool, in, bulk::IsUnit{}, [](const Vec3& e) { return is_unit(e); });
    check_map(*pool, in, bulk::Normalize{}, [](const Vec3& e) { return normalize(e); });
    check_map(*pool, in, bulk::Cross{o}, [&](const Vec3& e) { return cross(e, o); });
    check_map(*pool, in, bulk::Add{o}, [&](const Vec3& e) { return add(e, o); });
    check_map(*pool, in, bulk::Sub{o}, [&](const Vec3& e) { return sub(e, o); });
    check_map(*pool, in, bulk::Scale{2.5}, [](const Vec3& e) { return scale(e, 2.5); });
    check_map(*pool, in, bulk::Divide{3.0}, [](const Vec3& e) { return divide(e, 3.0); });
    check_map(*pool, in, bulk::Rotate{q}, [&](const Vec3& e) { return rotate(q, e); });
}

TEST(Bulk, CollapseZeroesTheGivenAxis) {
    auto pool = make_pool(2);
    ASSERT_TRUE(pool);
    const std::vector<Vec3> in = specimen(200'000, 2);
    ASSERT_GT(pool->chunk_count(in.size(), bulk::cost::kOffset), 1u);
    std::vector<Vec3> out(in.size());
    for (std::uint64_t axis = 0; axis < 3; ++axis) {
        ASSERT_TRUE(bulk::collapse(*pool, in.data(), out.data(), in.size(), axis));
        for (std::size_t i = 0; i < in.size(); ++i) ASSERT_TRUE(SameVec(out[i], collapse(in[i], axis))) << i;
    }
}

// ---------------------------------------------------------------------------
// The nearest element, against a model written from the rules: squared
// distances compared by value (all keys here are numbers), only a strictly
// smaller key replacing the best, the window within stride of the best
// sample.

std::size_t model_best(const std::vector<Vec3>& in, const Vec3& o, std::size_t begin, std::size_t end,
                       std::size_t step) {
    std::size_t best = begin;
    for (std::size_t i = begin + step; i < end; i += step)
        if (distance_squared(in[i], o) < distance_squared(in[best], o)) best = i;
    return best;
}

std::size_t model_nearest(const std::vector<Vec3>& in, const Vec3& o, std::size_t stride) {
    const std::size_t n = in.size();
    const std::size_t c = model_best(in, o, 0, n, stride);
    const std::size_t start = c >= stride ? c - stride : 0;
    const std::size_t end = c + stride <= n ? c + stride : n;
    return model_best(in, o, start, end, 1);
}

// Coordinates on a coarse grid, so that many elements share the smallest key.
std::vector<Vec3> grid_points(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<Vec3> v(n);
    for (Vec3& e : v)
        e = {static_cast<double>(rng() % 41) - 20, static_cast<double>(rng() % 41) - 20,
             static_cast<double>(rng() % 41) - 20};
    return v;
}

TEST(Bulk, NearestSplitsTheSampledPassAndMatchesTheModel) {
    const std::size_t n = 300'000;
    const std::vector<Vec3> in = grid_points(n, 3);
    const Vec3 o{0.5, -3.0, 7.0};
    for (std::size_t threads : {1u, 2u, 4u}) {
        auto pool = make_pool(threads);
        ASSERT_TRUE(pool);
        for (std::size_t stride : {1u, 2u, 3u, 7u}) {
            SCOPED_TRACE("threads=" + std::to_string(threads) + " stride=" + std::to_string(stride));
            const std::size_t samples = (n - 1) / stride + 1;
            ASSERT_GT(pool->chunk_count(samples, bulk::nearest_cost(stride)), 1u);
            const auto got = bulk::minimum_distance_to(*pool, in.data(), n, o, stride);
            ASSERT_TRUE(got);
            const std::size_t want = model_nearest(in, o, stride);
            EXPECT_EQ(got->index, want);
            EXPECT_TRUE(Same(got->distance, distance_to(in[want], o)));
        }
    }
}

TEST(Bulk, NearestSplitsTheWindowPassAndKeepsTheLowestTie) {
    // A stride this large makes the window around the best sample long enough
    // to be split as well; equal keys sit on both sides of its chunk edges.
    const std::size_t n = 400'000, stride = 150'000;
    std::vector<Vec3> in(n, Vec3{10, 0, 0});
    for (std::size_t i = 1000; i < n; i += 1000) in[i] = {0, 3, 4};
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    ASSERT_GT(pool->chunk_count(2 * stride, bulk::nearest_cost(1)), 1u);
    const auto got = bulk::minimum_distance_to(*pool, in.data(), n, {0, 0, 0}, stride);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->index, model_nearest(in, {0, 0, 0}, stride));
    EXPECT_EQ(got->index, 1000u);
    EXPECT_TRUE(Same(got->distance, 5.0));
}

// ---------------------------------------------------------------------------
// Text

TEST(Bulk, ElementTextsAreJoinedInOrder) {
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    const std::vector<Vec3> in = specimen(5000, 4);
    ASSERT_GT(pool->chunk_count(in.size(), bulk::cost::kText), 1u);
    std::string want;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (i) want += '\n';
        want += "Vec3d(";
        append_double(want, in[i].x);
        want += ", ";
        append_double(want, in[i].y);
        want += ", ";
        append_double(want, in[i].z);
        want += ')';
    }
    std::string got;
    ASSERT_EQ(bulk::format_elements(*pool, in.data(), in.size(), got), bulk::TextStatus::Ok);
    EXPECT_EQ(got, want);
    ASSERT_EQ(bulk::format_elements(*pool, in.data(), 0, got), bulk::TextStatus::Ok);
    EXPECT_EQ(got, "");
}

}  // namespace
