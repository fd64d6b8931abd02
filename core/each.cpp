// The pair kernels, and checking and gathering by index.
#include "core/each.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

#include "core/kernel.hpp"
#include "core/lanes.hpp"

namespace orvath::core::bulk {

template <class Op>
ORVATH_TEMPLATE_KERNEL void pair_kernel(const Vec3* a, const Vec3* b, typename Op::Out* __restrict out,
                                        std::size_t begin, std::size_t end, Op op) noexcept {
    std::size_t i = begin;
    if constexpr (!kComponentWise<Op>) {
        if (lanes::shuffled())
            for (; end - i >= 4; i += 4) lanes::map4(a + i, b + i, out + i, op);
    }
    for (; i < end; ++i) out[i] = op(a[i], b[i]);
}

template void pair_kernel<AddEach>(const Vec3*, const Vec3*, Vec3*, std::size_t, std::size_t, AddEach) noexcept;
template void pair_kernel<SubEach>(const Vec3*, const Vec3*, Vec3*, std::size_t, std::size_t, SubEach) noexcept;
template void pair_kernel<CrossEach>(const Vec3*, const Vec3*, Vec3*, std::size_t, std::size_t,
                                     CrossEach) noexcept;
template void pair_kernel<DotEach>(const Vec3*, const Vec3*, double*, std::size_t, std::size_t, DotEach) noexcept;

namespace {

// Work per index: checking streams the indices, gathering reads one element
// at a place the cache cannot guess.
constexpr std::size_t kCheckCost = 1;
Tuning g_gather{8};
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

template <class T>
T swapped(T v) noexcept {
    if constexpr (sizeof(T) == 1) {
        return v;
    } else {
        using U = std::make_unsigned_t<T>;
        U bits = static_cast<U>(v);
        if constexpr (sizeof(T) == 2) bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(T) == 4) bits = __builtin_bswap32(bits);
        else bits = __builtin_bswap64(bits);
        return static_cast<T>(bits);
    }
}

// Index k at any alignment, in this machine's byte order.
template <class T, bool Swap>
inline T load_index(const unsigned char* base, std::ptrdiff_t stride, std::size_t k) noexcept {
    T v;
    std::memcpy(&v, base + static_cast<std::ptrdiff_t>(k) * stride, sizeof v);
    if constexpr (Swap) v = swapped(v);
    return v;
}

// A negative index reinterpreted as unsigned is at least 2^63, beyond any
// length, so one unsigned comparison refuses both kinds of bad index.
template <class T>
inline bool out_of_range(T v, std::uint64_t length) noexcept {
    return static_cast<std::uint64_t>(static_cast<std::conditional_t<std::is_signed_v<T>, std::int64_t,
                                                                     std::uint64_t>>(v)) >= length;
}

// The lowest bad position in [begin, end), or kNone. Blocks are tested with
// a reduction the compiler vectorises; only a failing block is searched.
template <class T, bool Swap>
ORVATH_TEMPLATE_KERNEL std::size_t first_bad(Indices ix, std::uint64_t length, std::size_t begin,
                                             std::size_t end) noexcept {
    constexpr std::size_t kBlock = 1024;
    for (std::size_t base = begin; base < end; base += kBlock) {
        const std::size_t stop = std::min(end, base + kBlock);
        bool any = false;
        if (ix.stride == sizeof(T)) {
            for (std::size_t k = base; k < stop; ++k)
                any |= out_of_range(load_index<T, Swap>(ix.base, sizeof(T), k), length);
        } else {
            for (std::size_t k = base; k < stop; ++k)
                any |= out_of_range(load_index<T, Swap>(ix.base, ix.stride, k), length);
        }
        if (!any) continue;
        for (std::size_t k = base; k < stop; ++k)
            if (out_of_range(load_index<T, Swap>(ix.base, ix.stride, k), length)) return k;
    }
    return kNone;
}

// False when an index is out of range after all.
template <class T, bool Swap>
ORVATH_TEMPLATE_KERNEL bool gather_kernel(const Vec3* __restrict in, std::uint64_t length, Indices ix,
                                          Vec3* __restrict out, std::size_t begin, std::size_t end) noexcept {
    bool ok = true;
    const std::ptrdiff_t stride = ix.stride;
    for (std::size_t k = begin; k < end; ++k) {
        const T i = stride == sizeof(T) ? load_index<T, Swap>(ix.base, sizeof(T), k)
                                        : load_index<T, Swap>(ix.base, stride, k);
        if (out_of_range(i, length)) {
            ok = false;
            continue;
        }
        out[k] = in[static_cast<std::size_t>(i)];
    }
    return ok;
}

template <class T, bool Swap>
IndexCheck check_as(Pool& pool, const Indices& ix, std::size_t length, BadIndex& bad) noexcept {
    const auto map = [&](std::size_t b, std::size_t e) { return first_bad<T, Swap>(ix, length, b, e); };
    const auto lowest = [](std::size_t l, std::size_t r) { return std::min(l, r); };
    const std::optional<std::size_t> found = pool.reduce_ranges(ix.count, kCheckCost, kNone, map, lowest);
    if (!found) return IndexCheck::Failed;
    if (*found == kNone) return IndexCheck::Ok;
    const T v = load_index<T, Swap>(ix.base, ix.stride, *found);
    const bool negative = v < 0;
    // The magnitude of the most negative value is 2^(bits-1), which its own
    // type cannot hold: negate in 64 unsigned bits.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) : static_cast<std::uint64_t>(v);
    bad = {*found, negative, magnitude};
    return IndexCheck::Bad;
}

template <class T, bool Swap>
IndexCheck gather_as(Pool& pool, const Vec3* in, std::size_t length, const Indices& ix, Vec3* out) noexcept {
    std::atomic<bool> changed{false};
    const bool done = run_chunks(pool, ix.count, g_gather, [&](std::size_t b, std::size_t e) {
        if (!gather_kernel<T, Swap>(in, length, ix, out, b, e)) changed.store(true, std::memory_order_relaxed);
    });
    return !done ? IndexCheck::Failed : changed.load(std::memory_order_relaxed) ? IndexCheck::Bad : IndexCheck::Ok;
}

// fn.template operator()<T, Swap>() for the index type of `format`.
template <bool Swap, class Fn>
auto by_type(Scalar type, Fn&& fn) noexcept {
    switch (type) {
        case Scalar::I8: return fn.template operator()<std::int8_t, Swap>();
        case Scalar::U8: return fn.template operator()<std::uint8_t, Swap>();
        case Scalar::I16: return fn.template operator()<std::int16_t, Swap>();
        case Scalar::U16: return fn.template operator()<std::uint16_t, Swap>();
        case Scalar::I32: return fn.template operator()<std::int32_t, Swap>();
        case Scalar::U32: return fn.template operator()<std::uint32_t, Swap>();
        case Scalar::I64: return fn.template operator()<std::int64_t, Swap>();
        default: return fn.template operator()<std::uint64_t, Swap>();
    }
}

template <class Fn>
auto by_format(const ElementFormat& format, Fn&& fn) noexcept {
    return format.swapped ? by_type<true>(format.type, fn) : by_type<false>(format.type, fn);
}

}  // namespace

bool is_index_format(const ElementFormat& format) noexcept {
    switch (format.type) {
        case Scalar::I8: case Scalar::U8: case Scalar::I16: case Scalar::U16:
        case Scalar::I32: case Scalar::U32: case Scalar::I64: case Scalar::U64: return true;
        default: return false;
    }
}

IndexCheck check_indices(Pool& pool, const Indices& indices, std::size_t length, BadIndex& bad) noexcept {
    return by_format(indices.format, [&]<class T, bool Swap>() { return check_as<T, Swap>(pool, indices, length, bad); });
}

IndexCheck gather(Pool& pool, const Vec3* in, std::size_t length, const Indices& indices, Vec3* out) noexcept {
    return by_format(indices.format,
                     [&]<class T, bool Swap>() { return gather_as<T, Swap>(pool, in, length, indices, out); });
}

}  // namespace orvath::core::bulk
