#include "core/reduce.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/bulk.hpp"
#include "core/exact_sum.hpp"
#include "core/kernel.hpp"

namespace orvath::core::bulk {

namespace {

// The elements read as one array of doubles, in lanes: 24 consecutive doubles
// (8 elements) side by side, so lane j always holds component j % 3 and the
// loops vectorise without shuffles.
static_assert(sizeof(Vec3) == 3 * sizeof(double));
constexpr std::size_t kLanes = 24;
constexpr std::uint64_t kMagnitude = ~std::uint64_t{0} >> 1;

inline const double* doubles(const Vec3* in) noexcept { return reinterpret_cast<const double*>(in); }
inline std::uint64_t bits_of(double d) noexcept { return std::bit_cast<std::uint64_t>(d); }

// ---------------------------------------------------------------------------
// The exact sum
//
// Most blocks of data span few binades, and then the terms need not go to the
// accumulator one by one: with the block's largest and smallest magnitude
// known, every term is cut exactly into a few pieces, each a multiple of a
// fixed unit (2^low, 2^(low + 40), ...), by the rounding of (r + C) - C with
// C = 1.5 * 2^(unit + 52); pieces of one unit add up exactly in a double for
// 2^13 terms a lane. Each level's lane sums then go to the accumulator. A block
// with an infinity or a NaN, or spanning more than the levels cover, or so
// large that C would overflow, takes the terms one by one.
constexpr int kLevelBits = 40;
constexpr int kMaxLevels = 4;
constexpr std::size_t kBlock = 1024;  // elements, a multiple of 8: 24 KB, in the L1 cache for the second pass

// The largest magnitude and the smallest non-zero one of x[0, count), as
// bits; count a multiple of kLanes.
ORVATH_KERNEL void magnitudes(const double* __restrict x, std::size_t count, std::uint64_t& largest,
                                     std::uint64_t& smallest) noexcept {
    std::uint64_t hi[kLanes] = {}, lo[kLanes];
    std::fill(lo, lo + kLanes, ~std::uint64_t{0});
    for (std::size_t i = 0; i < count; i += kLanes) {
        for (std::size_t j = 0; j < kLanes; ++j) {
            const std::uint64_t m = bits_of(x[i + j]) & kMagnitude;
            hi[j] = std::max(hi[j], m);
            lo[j] = std::min(lo[j], m != 0 ? m : ~std::uint64_t{0});
        }
    }
    largest = *std::max_element(hi, hi + kLanes);
    smallest = *std::min_element(lo, lo + kLanes);
}

// Eight doubles, one vector register with AVX-512 (two or four without).
using Lanes8 = double __attribute__((vector_size(64)));

template <int Levels>
[[gnu::always_inline]] inline void cut(const double* __restrict x, std::size_t count, const double* c,
                                       double (*sums)[kLanes]) noexcept {
    Lanes8 unit[Levels], s[Levels][3] = {};
    for (int k = 0; k < Levels; ++k)
        for (int l = 0; l < 8; ++l) unit[k][l] = c[k];
    for (std::size_t i = 0; i < count; i += kLanes) {
        for (int v = 0; v < 3; ++v) {
            // The same line of the next block (blocks are consecutive), so that
            // memory streams while this block is cut. A prefetch past the end
            // of the array is harmless.
            __builtin_prefetch(x + count + i + 8 * v);
            Lanes8 r;
            std::memcpy(&r, x + i + 8 * v, sizeof r);
            for (int k = Levels - 1; k >= 0; --k) {
                const Lanes8 q = (r + unit[k]) - unit[k];
                s[k][v] += q;
                r -= q;
            }
        }
    }
    std::memcpy(sums, s, sizeof s);
}

// x[0, count), count a multiple of kLanes, cut at the units of c[0, levels);
// a term spans 53 bits, so there are at least two levels.
ORVATH_KERNEL void cut_levels(const double* __restrict x, std::size_t count, const double* c, int levels,
                                     double (*sums)[kLanes]) noexcept {
    switch (levels) {
        case 2: cut<2>(x, count, c, sums); break;
        case 3: cut<3>(x, count, c, sums); break;
        default: cut<4>(x, count, c, sums); break;
    }
}

struct Sums {
    ExactSum total[3];

    void add_each(const double* x, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i) total[i % 3].add(x[i]);
    }

    // False when the block must be added term by term.
    bool add_cut(const double* x, std::size_t count) noexcept {
        std::uint64_t largest, smallest;
        magnitudes(x, count, largest, smallest);
        if (largest == 0) return true;  // zeros only: nothing to add
        if (largest >= std::uint64_t{0x7FF} << 52) return false;
        const int top = std::max(static_cast<int>(largest >> 52), 1) - 1022;    // |x| < 2^top
        const int low = std::max(static_cast<int>(smallest >> 52), 1) - 1075;   // every term a multiple of 2^low
        const int levels = (top - low + kLevelBits - 1) / kLevelBits;
        if (levels > kMaxLevels || low + kLevelBits * (levels - 1) + 52 > 1023) return false;
        double c[kMaxLevels];
        for (int k = 0; k < levels; ++k)
            c[k] = std::bit_cast<double>(static_cast<std::uint64_t>(low + kLevelBits * k + 52 + 1023) << 52 |
                                         std::uint64_t{1} << 51);
        double sums[kMaxLevels][kLanes];
        cut_levels(x, count, c, levels, sums);
        for (int k = 0; k < levels; ++k)
            for (std::size_t j = 0; j < kLanes; ++j) total[j % 3].add(sums[k][j]);
        return true;
    }

    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        for (std::size_t b = begin; b < end; b += kBlock) {
            const std::size_t n = std::min(kBlock, end - b);
            const std::size_t whole = n / 8 * 8 * 3;  // doubles in whole lane rows
            const double* x = doubles(in + b);
            if (whole == 0 || !add_cut(x, whole)) add_each(x, whole);
            add_each(x + whole, 3 * n - whole);
        }
    }
    void merge(Sums& other) noexcept {
        for (int k = 0; k < 3; ++k) total[k].merge(other.total[k]);
    }
};

// ---------------------------------------------------------------------------
// The bounds

// Doubles as integers in IEEE 754 totalOrder, which puts -0.0 below +0.0 (so
// the order of the elements cannot matter) and is a plain integer minimum and
// maximum. NaNs are told apart by their magnitude bits: where they sort does
// not matter. The map is its own inverse.
inline std::int64_t order_key(std::uint64_t bits) noexcept {
    const auto b = static_cast<std::int64_t>(bits);
    return b ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(b >> 63) >> 1);
}

struct Box {
    std::int64_t low[kLanes], high[kLanes];
    std::uint64_t magnitude[kLanes];  // the largest magnitude bits: above those of infinity for a NaN

    Box() noexcept {
        std::fill(low, low + kLanes, std::numeric_limits<std::int64_t>::max());
        std::fill(high, high + kLanes, std::numeric_limits<std::int64_t>::min());
        std::fill(magnitude, magnitude + kLanes, 0);
    }

    void take(std::size_t j, double d) noexcept {
        const std::uint64_t b = bits_of(d);
        low[j] = std::min(low[j], order_key(b));
        high[j] = std::max(high[j], order_key(b));
        magnitude[j] = std::max(magnitude[j], b & kMagnitude);
    }
    void add(const Vec3* in, std::size_t begin, std::size_t end) noexcept {
        const double* x = doubles(in + begin);
        const std::size_t count = 3 * (end - begin), whole = count / kLanes * kLanes;
        add_lanes(x, whole);
        for (std::size_t i = whole; i < count; ++i) take(i % kLanes, x[i]);
    }
    // The lanes' running keys in local arrays, not in the members: kept in
    // memory, each step's loads waited for the last step's stores (and for
    // stores to any address 4 KiB apart: 1.1 or 1.8 ns per element from one
    // process to the next).
    ORVATH_KERNEL void add_lanes(const double* __restrict x, std::size_t count) noexcept {
        std::int64_t lo[kLanes], hi[kLanes];
        std::uint64_t mag[kLanes];
        std::memcpy(lo, low, sizeof lo);
        std::memcpy(hi, high, sizeof hi);
        std::memcpy(mag, magnitude, sizeof mag);
        for (std::size_t i = 0; i < count; i += kLanes) {
            for (std::size_t j = 0; j < kLanes; ++j) {
                const std::uint64_t b = bits_of(x[i + j]);
                lo[j] = std::min(lo[j], order_key(b));
                hi[j] = std::max(hi[j], order_key(b));
                mag[j] = std::max(mag[j], b & kMagnitude);
            }
        }
        std::memcpy(low, lo, sizeof lo);
        std::memcpy(high, hi, sizeof hi);
        std::memcpy(magnitude, mag, sizeof mag);
    }
    void merge(const Box& other) noexcept {
        for (std::size_t j = 0; j < kLanes; ++j) {
            low[j] = std::min(low[j], other.low[j]);
            high[j] = std::max(high[j], other.high[j]);
            magnitude[j] = std::max(magnitude[j], other.magnitude[j]);
        }
    }
    // Component k of the low or the high corner: NaN when a lane of it saw one.
    double corner(int k, bool upper) const noexcept {
        std::int64_t key = upper ? high[k] : low[k];
        bool nan = false;
        for (std::size_t j = static_cast<std::size_t>(k); j < kLanes; j += 3) {
            key = upper ? std::max(key, high[j]) : std::min(key, low[j]);
            nan = nan || magnitude[j] > std::uint64_t{0x7FF} << 52;
        }
        return nan ? std::numeric_limits<double>::quiet_NaN()
                   : std::bit_cast<double>(order_key(static_cast<std::uint64_t>(key)));
    }
};

// Runs part.add over every chunk on the pool, merging the chunks' parts into
// `total` (which starts empty) under a lock. Merging is exact and order-free
// for both reductions, so neither the chunk boundaries nor the order in which
// the chunks finish change anything.
template <class Part>
bool reduce(Pool& pool, const Vec3* in, std::size_t n, Tuning& tuning, Part& total) noexcept {
    std::mutex lock;
    return run_chunks(pool, n, tuning, [&](std::size_t begin, std::size_t end) {
        Part part;
        part.add(in, begin, end);
        const std::lock_guard<std::mutex> guard(lock);
        total.merge(part);
    });
}

// What the pool has measured of each reduction.
Tuning g_sum{cost::kSum};
Tuning g_bounds{cost::kBounds};

}  // namespace

bool exact_sum(Pool& pool, const Vec3* in, std::size_t n, Vec3& out) noexcept {
    Sums sums;
    if (!reduce(pool, in, n, g_sum, sums)) return false;
    out = {sums.total[0].round(), sums.total[1].round(), sums.total[2].round()};
    return true;
}

bool bounds(Pool& pool, const Vec3* in, std::size_t n, Vec3& low, Vec3& high) noexcept {
    Box box;
    if (!reduce(pool, in, n, g_bounds, box)) return false;
    low = {box.corner(0, false), box.corner(1, false), box.corner(2, false)};
    high = {box.corner(0, true), box.corner(1, true), box.corner(2, true)};
    return true;
}

}  // namespace orvath::core::bulk
