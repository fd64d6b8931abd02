// The kernels of the bulk operations, the nearest-element search and the
// element text.
#include "core/bulk.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <new>
#include <utility>

#include "core/float_text.hpp"

namespace orvath::core::bulk {

// Vectorising keeps every IEEE operation and its grouping (the build forbids
// contraction into fused multiply-adds), so every clone gives the bits of the
// scalar code.
//
// The clone is picked through an ifunc, which needs ELF and a C library that
// resolves it (glibc; musl does not). Elsewhere (macOS, Windows, musl, other
// architectures) the kernels are built once, for the baseline.
// Clang multiversions plain functions but not function templates (it fails
// on a template with target_clones), so with clang the element-wise kernels are
// baseline code and only the nearest search is cloned.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__) && defined(__GLIBC__)
#define ORVATH_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ORVATH_KERNEL
#endif
#if defined(__clang__)
#define ORVATH_TEMPLATE_KERNEL
#else
#define ORVATH_TEMPLATE_KERNEL ORVATH_KERNEL
#endif

template <class Op>
ORVATH_TEMPLATE_KERNEL void kernel(const Vec3* __restrict in, typename Op::Out* __restrict out, std::size_t begin,
                          std::size_t end, Op op) noexcept {
    for (std::size_t i = begin; i < end; ++i) out[i] = op(in[i]);
}

template void kernel<Dot>(const Vec3*, double*, std::size_t, std::size_t, Dot) noexcept;
template void kernel<DistanceSquared>(const Vec3*, double*, std::size_t, std::size_t, DistanceSquared) noexcept;
template void kernel<DistanceTo>(const Vec3*, double*, std::size_t, std::size_t, DistanceTo) noexcept;
template void kernel<Magnitude>(const Vec3*, double*, std::size_t, std::size_t, Magnitude) noexcept;
template void kernel<IsUnit>(const Vec3*, bool*, std::size_t, std::size_t, IsUnit) noexcept;
template void kernel<Normalize>(const Vec3*, Vec3*, std::size_t, std::size_t, Normalize) noexcept;
template void kernel<Cross>(const Vec3*, Vec3*, std::size_t, std::size_t, Cross) noexcept;
template void kernel<Add>(const Vec3*, Vec3*, std::size_t, std::size_t, Add) noexcept;
template void kernel<Sub>(const Vec3*, Vec3*, std::size_t, std::size_t, Sub) noexcept;
template void kernel<Scale>(const Vec3*, Vec3*, std::size_t, std::size_t, Scale) noexcept;
template void kernel<Divide>(const Vec3*, Vec3*, std::size_t, std::size_t, Divide) noexcept;
template void kernel<Collapse<0>>(const Vec3*, Vec3*, std::size_t, std::size_t, Collapse<0>) noexcept;
template void kernel<Collapse<1>>(const Vec3*, Vec3*, std::size_t, std::size_t, Collapse<1>) noexcept;
template void kernel<Collapse<2>>(const Vec3*, Vec3*, std::size_t, std::size_t, Collapse<2>) noexcept;
template void kernel<Rotate>(const Vec3*, Vec3*, std::size_t, std::size_t, Rotate) noexcept;

bool collapse(Pool& pool, const Vec3* in, Vec3* out, std::size_t n, std::uint64_t axis) noexcept {
    switch (axis) {
        case 0: return map(pool, in, out, n, Collapse<0>{});
        case 1: return map(pool, in, out, n, Collapse<1>{});
        default: return map(pool, in, out, n, Collapse<2>{});
    }
}

// ---------------------------------------------------------------------------
// The nearest element

namespace {

// Squared distances ordered by IEEE 754 totalOrder: flipping the magnitude
// bits of negative patterns makes signed integer order the total order (a NaN
// with the sign bit set sorts below everything, one without above +inf).
inline std::int64_t total_order_key(double d) noexcept {
    const std::int64_t bits = std::bit_cast<std::int64_t>(d);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// The search key of element e. The sum ((dx² + dy²) + dz²) evaluated in that
// order on x86-64 carries the first NaN among the differences, but the
// compiler may swap the operands of an addition, in vector code especially;
// so when the squared distance is NaN that NaN is picked explicitly, and
// every code path (and so every way of splitting the list) agrees on its sign.
inline std::int64_t nearest_key(const Vec3& e, const Vec3& o) noexcept {
    const double d = distance_squared(e, o);
    const double dx = e.x - o.x, dy = e.y - o.y, dz = e.z - o.z;
    const double first_nan = dx != dx ? dx : (dy != dy ? dy : dz);
    return total_order_key(d != d ? first_nan : d);
}

struct Best {
    std::int64_t key;
    std::size_t index;  // kNone until a first element was seen
};
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Combining chunk results: the left one wins unless the right one is strictly smaller.
inline Best nearer(Best left, Best right) noexcept { return right.key < left.key ? right : left; }

// The smallest key among the elements in[j * step] for j in [begin, end), as
// (key, j); the lowest j among equal keys. Keys are computed a block at a
// time so that the key and minimum loops stay simple enough to vectorise.
ORVATH_KERNEL Best nearest_in(const Vec3* __restrict in, std::size_t step, std::size_t begin, std::size_t end,
                              Vec3 o) noexcept {
    constexpr std::size_t kBlock = 256;
    std::int64_t keys[kBlock];
    Best best{0, kNone};
    for (std::size_t base = begin; base < end; base += kBlock) {
        const std::size_t m = std::min(kBlock, end - base);
        const Vec3* p = in + base * step;
        if (step == 1) {
            for (std::size_t j = 0; j < m; ++j) keys[j] = nearest_key(p[j], o);
        } else {
            for (std::size_t j = 0; j < m; ++j) keys[j] = nearest_key(p[j * step], o);
        }
        std::int64_t low = keys[0];
        for (std::size_t j = 1; j < m; ++j) low = std::min(low, keys[j]);
        if (best.index == kNone || low < best.key) {
            std::size_t j = 0;
            while (keys[j] != low) ++j;
            best = {low, base + j};
        }
    }
    return best;
}

// The nearest of `count` (at least one) samples spaced `step` apart, as a
// sample number; nullopt when a chunk failed.
std::optional<std::size_t> nearest(Pool& pool, const Vec3* in, std::size_t step, std::size_t count,
                                   Vec3 o) noexcept {
    if (count <= 8) {  // too short for the vector kernel to pay its set-up
        Best best{nearest_key(in[0], o), 0};
        for (std::size_t j = 1; j < count; ++j) {
            const std::int64_t key = nearest_key(in[j * step], o);
            if (key < best.key) best = {key, j};
        }
        return best.index;
    }
    const std::size_t per_sample = nearest_cost(step);
    std::optional<Best> best;
    if (pool.chunk_count(count, per_sample) == 1) {
        best = nearest_in(in, step, 0, count, o);
    } else {
        auto chunk = [=](std::size_t b, std::size_t e) { return nearest_in(in, step, b, e, o); };
        best = pool.reduce_ranges(count, per_sample, Best{0, kNone}, chunk, nearer);
    }
    if (!best || best->index == kNone) return std::nullopt;
    return best->index;
}

}  // namespace

std::optional<Nearest> minimum_distance_to(Pool& pool, const Vec3* in, std::size_t n, const Vec3& other,
                                           std::size_t stride) noexcept {
    const std::size_t samples = (n - 1) / stride + 1;
    const std::optional<std::size_t> coarse = nearest(pool, in, stride, samples, other);
    if (!coarse) return std::nullopt;
    const std::size_t c = *coarse * stride;

    const std::size_t start = c >= stride ? c - stride : 0;
    const std::size_t end = stride <= n - c ? c + stride : n;
    const std::optional<std::size_t> fine = nearest(pool, in + start, 1, end - start, other);
    if (!fine) return std::nullopt;
    const std::size_t index = start + *fine;
    return Nearest{index, distance_to(in[index], other)};
}

// ---------------------------------------------------------------------------
// Text

TextStatus format_elements(Pool& pool, const Vec3* in, std::size_t n, std::string& out) noexcept {
    // The texts are the one per-element allocation of a bulk operation: running
    // out of memory there is an ordinary failure, told apart from a fault.
    std::atomic<bool> out_of_memory{false};
    auto format = [in, &out_of_memory](std::size_t begin, std::size_t end) {
        std::string text;
        try {
            text.reserve((end - begin) * 32);
            for (std::size_t i = begin; i < end; ++i) {
                if (i != begin) text += '\n';
                text += "Vec3d(";
                append_double(text, in[i].x);
                text += ", ";
                append_double(text, in[i].y);
                text += ", ";
                append_double(text, in[i].z);
                text += ')';
            }
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
            throw;
        }
        return text;
    };
    auto join = [&out_of_memory](std::string left, std::string right) {
        try {
            left += '\n';
            left += right;
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
            throw;
        }
        return left;
    };
    std::optional<std::string> text = pool.reduce_ranges(n, cost::kText, std::string(), format, join);
    if (!text) return out_of_memory.load() ? TextStatus::OutOfMemory : TextStatus::Failed;
    out = std::move(*text);
    return TextStatus::Ok;
}

}  // namespace orvath::core::bulk
