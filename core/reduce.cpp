#include "core/reduce.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>

#include "core/bulk.hpp"
#include "core/exact_sum.hpp"

namespace orvath::core::bulk {

namespace {

// Each chunk sums into its own accumulators and merges them into the
// shared ones at its end. Merging adds integers exactly, so neither the
// chunk boundaries nor the order in which chunks finish change anything.
struct Sums {
    ExactSum x, y, z;

    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i) {
            x.add(in[i].x);
            y.add(in[i].y);
            z.add(in[i].z);
        }
    }
    void merge(const Sums& other) noexcept {
        x.merge(other.x);
        y.merge(other.y);
        z.merge(other.z);
    }
};

// The componentwise bounds so far, with -0.0 below +0.0 (so that the order
// of the elements does not matter); a NaN is flagged apart and never enters
// the comparisons.
struct Box {
    double low[3] = {kInf, kInf, kInf};
    double high[3] = {-kInf, -kInf, -kInf};
    bool nan[3] = {false, false, false};

    static constexpr double kInf = std::numeric_limits<double>::infinity();
    static constexpr double Vec3::*kAxis[3] = {&Vec3::x, &Vec3::y, &Vec3::z};

    void take(int k, double c) noexcept {
        if (c < low[k] || (c == low[k] && std::signbit(c))) low[k] = c;
        if (c > high[k] || (c == high[k] && !std::signbit(c))) high[k] = c;
        nan[k] = nan[k] || c != c;
    }
    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i)
            for (int k = 0; k < 3; ++k) take(k, in[i].*kAxis[k]);
    }
    void merge(const Box& other) noexcept {
        // A NaN decides the component; otherwise other's bounds are values
        // of its (never empty) chunk.
        for (int k = 0; k < 3; ++k) {
            if (other.nan[k]) {
                nan[k] = true;
            } else {
                take(k, other.low[k]);
                take(k, other.high[k]);
            }
        }
    }
};

// Runs part.add over every chunk on the pool, merging the chunks' parts into
// `total` (which starts empty).
template <class Part>
bool reduce(Pool& pool, const Vec3* in, std::size_t n, std::size_t cost_per_item, Part& total) noexcept {
    std::mutex lock;
    return run_chunks(pool, n, cost_per_item, [&](std::size_t begin, std::size_t end) {
        Part part;
        part.add(in, begin, end);
        const std::lock_guard<std::mutex> guard(lock);
        total.merge(part);
    });
}

}  // namespace

bool exact_sum(Pool& pool, const Vec3* in, std::size_t n, Vec3& out) noexcept {
    Sums total;
    if (!reduce(pool, in, n, cost::kSum, total)) return false;
    out = {total.x.round(), total.y.round(), total.z.round()};
    return true;
}

bool bounds(Pool& pool, const Vec3* in, std::size_t n, Vec3& low, Vec3& high) noexcept {
    Box box;
    if (!reduce(pool, in, n, cost::kBounds, box)) return false;
    for (int k = 0; k < 3; ++k) {
        low.*Box::kAxis[k] = box.nan[k] ? std::numeric_limits<double>::quiet_NaN() : box.low[k];
        high.*Box::kAxis[k] = box.nan[k] ? std::numeric_limits<double>::quiet_NaN() : box.high[k];
    }
    return true;
}

}  // namespace orvath::core::bulk
