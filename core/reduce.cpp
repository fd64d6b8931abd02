#include "core/reduce.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <mutex>

#include "core/bulk.hpp"
#include "core/exact_sum.hpp"

namespace orvath::core::bulk {

namespace {

// How far ahead of the element being read its successors are asked for: the
// hardware prefetcher alone leaves the exact sum waiting for memory on long
// arrays (measured, a third of its time). A prefetch past the end is harmless.
constexpr std::size_t kAhead = 128;

// Each chunk sums into its own accumulators and merges them into the
// shared ones at its end. Merging adds integers exactly, so neither the
// chunk boundaries nor the order in which chunks finish change anything.
struct Sums {
    ExactSum x, y, z;

    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i) {
            __builtin_prefetch(in + i + kAhead);
            x.add(in[i].x);
            y.add(in[i].y);
            z.add(in[i].z);
        }
    }
    void merge(Sums& other) noexcept {
        x.merge(other.x);
        y.merge(other.y);
        z.merge(other.z);
    }
};

// Doubles as integers in IEEE 754 totalOrder, which puts -0.0 below +0.0 (so
// the order of the elements cannot matter) and is a plain integer minimum and
// maximum, without branches. NaNs are flagged apart: where they sort does not
// matter.
inline std::int64_t order_key(double d) noexcept {
    const auto bits = std::bit_cast<std::int64_t>(d);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// The componentwise bounds so far, as order keys.
struct Box {
    static constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
    std::int64_t low[3] = {kNone, kNone, kNone};
    std::int64_t high[3] = {~kNone, ~kNone, ~kNone};
    bool nan[3] = {false, false, false};

    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        std::int64_t lx = low[0], ly = low[1], lz = low[2], hx = high[0], hy = high[1], hz = high[2];
        bool nx = false, ny = false, nz = false;
        for (std::size_t i = begin; i < end; ++i) {
            __builtin_prefetch(in + i + kAhead);
            const Vec3 e = in[i];
            const std::int64_t kx = order_key(e.x), ky = order_key(e.y), kz = order_key(e.z);
            lx = std::min(lx, kx), ly = std::min(ly, ky), lz = std::min(lz, kz);
            hx = std::max(hx, kx), hy = std::max(hy, ky), hz = std::max(hz, kz);
            nx |= e.x != e.x, ny |= e.y != e.y, nz |= e.z != e.z;
        }
        const Box part{{lx, ly, lz}, {hx, hy, hz}, {nx, ny, nz}};
        merge(part);
    }
    void merge(const Box& other) noexcept {
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], other.low[k]);
            high[k] = std::max(high[k], other.high[k]);
            nan[k] = nan[k] || other.nan[k];
        }
    }
    double value(int k, const std::int64_t* keys) const noexcept {
        if (nan[k]) return std::numeric_limits<double>::quiet_NaN();
        return std::bit_cast<double>(order_key(std::bit_cast<double>(keys[k])));  // the key map is its own inverse
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
    low = {box.value(0, box.low), box.value(1, box.low), box.value(2, box.low)};
    high = {box.value(0, box.high), box.value(1, box.high), box.value(2, box.high)};
    return true;
}

}  // namespace orvath::core::bulk
