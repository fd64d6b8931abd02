// The kernels of the bulk operations, the nearest-element search, the
// element text and the readers of foreign rows.
#include "core/bulk.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "core/float_text.hpp"
#include "core/kernel.hpp"
#include "core/lanes.hpp"

namespace orvath::core {

namespace lanes {
namespace {
// The resolver of the clones picks AVX-512's when the processor has every
// feature of x86-64-v4, else AVX2's when it has those of x86-64-v3.
bool avx2_clone_picked() noexcept {
#if defined(ORVATH_TEMPLATES_CLONED)
    __builtin_cpu_init();
#if defined(ORVATH_KERNELS_AVX2)
    return __builtin_cpu_supports("x86-64-v3");
#else
    return __builtin_cpu_supports("x86-64-v3") && !__builtin_cpu_supports("x86-64-v4");
#endif
#else
    return false;
#endif
}
std::atomic<bool> g_shuffled{avx2_clone_picked()};
}  // namespace

bool shuffled() noexcept { return g_shuffled.load(std::memory_order_relaxed); }
void set_shuffled(bool on) noexcept { g_shuffled.store(on, std::memory_order_relaxed); }
}  // namespace lanes

namespace bulk {

// Lanes of the length operations with a vector result: see kernel().
constexpr std::size_t kLanes = 8;

template <class Op>
ORVATH_TEMPLATE_KERNEL void kernel(const Vec3* __restrict in, typename Op::Out* __restrict out, std::size_t begin,
                          std::size_t end, Op op) noexcept {
    if constexpr (requires { op.rescale(in[0]); }) {
        // Blocks of the plain formula as vector code with one comparison per
        // element; the elements it flags, if any, are then redone.
        for (std::size_t b = begin; b < end; b += 1024) {
            const std::size_t e = b + std::min<std::size_t>(1024, end - b);
            bool any = false;
            std::size_t i = b;
            // A vector result (normalize): kLanes elements at a time, their
            // components moved into one array per axis first. The square
            // roots and divisions then run as vector code on every clone, not
            // only where the processor shuffles across x, y, z (AVX-512):
            // measured 2.5 instead of 4.2 ns per element for the AVX2 clone.
            // Each lane still does the scalar operations in their order.
            if constexpr (std::is_same_v<typename Op::Out, Vec3>) {
                for (; e - i >= kLanes; i += kLanes) {
                    double x[kLanes], y[kLanes], z[kLanes];
                    for (std::size_t k = 0; k < kLanes; ++k) {
                        x[k] = in[i + k].x;
                        y[k] = in[i + k].y;
                        z[k] = in[i + k].z;
                    }
                    for (std::size_t k = 0; k < kLanes; ++k) any |= op.rescale({x[k], y[k], z[k]});
                    for (std::size_t k = 0; k < kLanes; ++k) {
                        const Vec3 r = op.plain({x[k], y[k], z[k]});
                        x[k] = r.x;
                        y[k] = r.y;
                        z[k] = r.z;
                    }
                    for (std::size_t k = 0; k < kLanes; ++k) out[i + k] = {x[k], y[k], z[k]};
                }
            } else if (lanes::shuffled()) {
                // A length on the AVX2 clone: four at a time, by axis
                // registers (core/lanes.hpp).
                for (; e - i >= 4; i += 4) {
                    const lanes::Axes v(in + i);
                    for (std::size_t k = 0; k < 4; ++k) {
                        out[i + k] = op.plain(v[k]);
                        any |= op.rescale(v[k]);
                    }
                }
            }
            for (; i < e; ++i) {
                out[i] = op.plain(in[i]);
                any |= op.rescale(in[i]);
            }
            if (any) [[unlikely]] {
                for (std::size_t i = b; i < e; ++i)
                    if (op.rescale(in[i])) out[i] = op(in[i]);
            }
        }
    } else {
        std::size_t i = begin;
        if constexpr (!std::is_same_v<typename Op::Out, bool> && !kComponentWise<Op>) {
            if (lanes::shuffled())
                for (; end - i >= 4; i += 4) lanes::map4(in + i, out + i, op);
        }
        for (; i < end; ++i) out[i] = op(in[i]);
    }
}

#define ORVATH_INSTANTIATE(Op) \
    template void kernel<Op>(const Vec3*, typename Op::Out*, std::size_t, std::size_t, Op) noexcept;
ORVATH_BULK_OPERATIONS(ORVATH_INSTANTIATE)
#undef ORVATH_INSTANTIATE

template <class Op>
ORVATH_TEMPLATE_KERNEL void kernel_in_place(Vec3* data, std::size_t begin, std::size_t end, Op op) noexcept {
    std::size_t i = begin;
    if (lanes::shuffled())
        for (; end - i >= 4; i += 4) lanes::map4(data + i, data + i, op);
    for (; i < end; ++i) data[i] = op(data[i]);
}

#define ORVATH_INSTANTIATE(Op) template void kernel_in_place<Op>(Vec3*, std::size_t, std::size_t, Op) noexcept;
ORVATH_BULK_IN_PLACE_OPERATIONS(ORVATH_INSTANTIATE)
#undef ORVATH_INSTANTIATE

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
            std::size_t j = 0;
            if (lanes::shuffled()) {
                for (; m - j >= 4; j += 4) {
                    // Plain arrays, not lanes::Axes: clang leaves the members
                    // of a class undefined for a function it clones.
                    alignas(32) double x[4], y[4], z[4];
                    lanes::to_axes(p + j, x, y, z);
                    for (std::size_t k = 0; k < 4; ++k) keys[j + k] = nearest_key(Vec3{x[k], y[k], z[k]}, o);
                }
            }
            for (; j < m; ++j) keys[j] = nearest_key(p[j], o);
        } else {
            for (std::size_t j = 0; j < m; ++j) keys[j] = nearest_key(p[j * step], o);
        }
        std::int64_t low = keys[0];
        std::size_t j = 1;
        if (lanes::shuffled()) {
            // Four running minima: one compare and one blend per four keys.
            std::int64_t lows[4] = {low, low, low, low};
            for (; m - j >= 4; j += 4)
                for (std::size_t k = 0; k < 4; ++k) lows[k] = keys[j + k] < lows[k] ? keys[j + k] : lows[k];
            low = std::min(std::min(lows[0], lows[1]), std::min(lows[2], lows[3]));
        }
        for (; j < m; ++j) low = std::min(low, keys[j]);
        if (best.index == kNone || low < best.key) {
            std::size_t j = 0;
            while (keys[j] != low) ++j;
            best = {low, base + j};
        }
    }
    return best;
}

Tuning g_nearest_keys{nearest_cost(1)};
Tuning g_nearest_samples{nearest_cost(2)};

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
    Tuning& tuning = step == 1 ? g_nearest_keys : g_nearest_samples;
    std::optional<Best> best;
    Pool::timed(pool.plan(count, tuning), tuning, [&](const Pool::Plan& plan) {
        auto chunk = [=](std::size_t b, std::size_t e) { return nearest_in(in, step, b, e, o); };
        best = pool.reduce_ranges(plan, Best{0, kNone}, chunk, nearer);
        return best.has_value();
    });
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

namespace {
Tuning g_text{cost::kText};
Tuning g_copy{cost::kOffset};
}  // namespace

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
                const double c[3] = {in[i].x, in[i].y, in[i].z};
                append_call(text, "Vec3d", c, 3);
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
    std::optional<std::string> text;
    Pool::timed(pool.plan(n, g_text), g_text, [&](const Pool::Plan& plan) {
        text = pool.reduce_ranges(plan, std::string(), format, join);
        return text.has_value();
    });
    if (!text) return out_of_memory.load() ? TextStatus::OutOfMemory : TextStatus::Failed;
    out = std::move(*text);
    return TextStatus::Ok;
}

// ---------------------------------------------------------------------------
// Foreign rows

bool copy_vectors(Pool& pool, const void* src, void* dst, std::size_t n) noexcept {
    const auto* from = static_cast<const unsigned char*>(src);
    auto* to = static_cast<unsigned char*>(dst);
    constexpr std::size_t kBytes = sizeof(Vec3);
    return run_chunks(pool, n, g_copy, [=](std::size_t b, std::size_t e) {
        std::memcpy(to + b * kBytes, from + b * kBytes, (e - b) * kBytes);
    });
}

namespace {

struct Code {
    char code;
    Scalar type;  // with the standard size; the native size may differ (below)
    std::size_t size;
};

constexpr Code kCodes[] = {
    {'d', Scalar::F64, 8}, {'f', Scalar::F32, 4}, {'e', Scalar::F16, 2},  {'b', Scalar::I8, 1},
    {'B', Scalar::U8, 1},  {'h', Scalar::I16, 2}, {'H', Scalar::U16, 2}, {'i', Scalar::I32, 4},
    {'I', Scalar::U32, 4}, {'l', Scalar::I32, 4}, {'L', Scalar::U32, 4}, {'q', Scalar::I64, 8},
    {'Q', Scalar::U64, 8}, {'?', Scalar::Bool, 1},
};

// The integer type of `size` bytes; F64 (never an integer) when there is none.
Scalar integer_of(std::size_t size, bool is_signed) noexcept {
    switch (size) {
        case 1: return is_signed ? Scalar::I8 : Scalar::U8;
        case 2: return is_signed ? Scalar::I16 : Scalar::U16;
        case 4: return is_signed ? Scalar::I32 : Scalar::U32;
        case 8: return is_signed ? Scalar::I64 : Scalar::U64;
        default: return Scalar::F64;
    }
}

// The native size of an integer code, as the C compiler lays it out.
std::size_t native_size(char code) noexcept {
    switch (code) {
        case 'h': case 'H': return sizeof(short);
        case 'i': case 'I': return sizeof(int);
        case 'l': case 'L': return sizeof(long);
        case 'q': case 'Q': return sizeof(long long);
        case 'n': case 'N': return sizeof(std::size_t);
        default: return 0;
    }
}

}  // namespace

std::optional<ElementFormat> parse_format(std::string_view format) noexcept {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    bool native_sizes = true;
    bool swapped = false;
    if (!format.empty()) {
        switch (format.front()) {
            case '@': case '^': format.remove_prefix(1); break;
            case '=': native_sizes = false; format.remove_prefix(1); break;
            case '<': native_sizes = false; swapped = !kLittle; format.remove_prefix(1); break;
            case '>': case '!': native_sizes = false; swapped = kLittle; format.remove_prefix(1); break;
            default: break;
        }
    }
    if (format.size() != 1) return std::nullopt;
    const char c = format.front();
    if (c == 'n' || c == 'N') {
        if (!native_sizes) return std::nullopt;  // size_t codes exist in native mode only
        return ElementFormat{integer_of(sizeof(std::size_t), c == 'n'), sizeof(std::size_t), swapped};
    }
    for (const Code& k : kCodes) {
        if (k.code != c) continue;
        const std::size_t size = native_sizes && native_size(c) ? native_size(c) : k.size;
        Scalar type = k.type;
        if (size != k.size) type = integer_of(size, c >= 'a');
        if (type == Scalar::F64 && c != 'd') return std::nullopt;  // an integer of no supported width
        return ElementFormat{type, size, swapped};
    }
    return std::nullopt;
}

namespace {

template <class U>
U byte_swapped(U v) noexcept {
    if constexpr (sizeof(U) == 1)
        return v;
    else if constexpr (sizeof(U) == 2)
        return __builtin_bswap16(v);
    else if constexpr (sizeof(U) == 4)
        return __builtin_bswap32(v);
    else
        return __builtin_bswap64(v);
}

// The C type each element is stored as (binary16 as its raw bits, bool as a byte).
template <Scalar S> struct Stored;
template <> struct Stored<Scalar::F64> { using type = double; };
template <> struct Stored<Scalar::F32> { using type = float; };
template <> struct Stored<Scalar::F16> { using type = std::uint16_t; };
template <> struct Stored<Scalar::I8> { using type = std::int8_t; };
template <> struct Stored<Scalar::U8> { using type = std::uint8_t; };
template <> struct Stored<Scalar::I16> { using type = std::int16_t; };
template <> struct Stored<Scalar::U16> { using type = std::uint16_t; };
template <> struct Stored<Scalar::I32> { using type = std::int32_t; };
template <> struct Stored<Scalar::U32> { using type = std::uint32_t; };
template <> struct Stored<Scalar::I64> { using type = std::int64_t; };
template <> struct Stored<Scalar::U64> { using type = std::uint64_t; };
template <> struct Stored<Scalar::Bool> { using type = std::uint8_t; };

template <std::size_t N> struct Bits;
template <> struct Bits<1> { using type = std::uint8_t; };
template <> struct Bits<2> { using type = std::uint16_t; };
template <> struct Bits<4> { using type = std::uint32_t; };
template <> struct Bits<8> { using type = std::uint64_t; };

// binary16 to binary64, bit for bit as numpy's half-to-double: every value is
// exact, and a NaN keeps its sign and payload (shifted into the high bits).
double half_to_double(std::uint16_t h) noexcept {
    const std::uint64_t sign = static_cast<std::uint64_t>(h >> 15) << 63;
    const unsigned exponent = (h >> 10) & 0x1F;
    const std::uint64_t fraction = h & 0x3FF;
    if (exponent == 0x1F) return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52) | (fraction << 42));
    if (exponent != 0)
        return std::bit_cast<double>(sign | (std::uint64_t{exponent - 15 + 1023} << 52) | (fraction << 42));
    // Zero and subnormals: fraction * 2^-24 is exact.
    const double magnitude = static_cast<double>(fraction) * 0x1p-24;
    return sign ? -magnitude : magnitude;
}

// One number at p (any alignment): its bytes, swapped if need be, then
// converted. The integer conversions round to nearest-even like float(int).
template <Scalar S, bool Swap>
inline double load(const unsigned char* p) noexcept {
    using T = typename Stored<S>::type;
    using U = typename Bits<sizeof(T)>::type;
    U bits;
    std::memcpy(&bits, p, sizeof bits);
    if constexpr (Swap) bits = byte_swapped(bits);
    if constexpr (S == Scalar::F16)
        return half_to_double(bits);
    else if constexpr (S == Scalar::Bool)
        return bits != 0 ? 1.0 : 0.0;
    else
        return static_cast<double>(std::bit_cast<T>(bits));
}

template <Scalar S, bool Swap>
ORVATH_TEMPLATE_KERNEL void read_kernel(Rows rows, Vec3* __restrict out, std::size_t begin, std::size_t end) noexcept {
    const std::ptrdiff_t c = rows.column;
    for (std::size_t i = begin; i < end; ++i) {
        const unsigned char* p = rows.base + static_cast<std::ptrdiff_t>(i) * rows.row;
        out[i] = {load<S, Swap>(p), load<S, Swap>(p + c), load<S, Swap>(p + 2 * c)};
    }
}

template <Scalar S, bool Swap>
Tuning g_read{cost::kConvert};

template <Scalar S, bool Swap>
bool read_as(Pool& pool, const Rows& rows, Vec3* out, std::size_t n) noexcept {
    return run_chunks(pool, n, g_read<S, Swap>,
                      [&](std::size_t b, std::size_t e) { read_kernel<S, Swap>(rows, out, b, e); });
}

template <bool Swap>
bool read_swapped(Pool& pool, const Rows& rows, Scalar type, Vec3* out, std::size_t n) noexcept {
    switch (type) {
        case Scalar::F64: return read_as<Scalar::F64, Swap>(pool, rows, out, n);
        case Scalar::F32: return read_as<Scalar::F32, Swap>(pool, rows, out, n);
        case Scalar::F16: return read_as<Scalar::F16, Swap>(pool, rows, out, n);
        case Scalar::I8: return read_as<Scalar::I8, Swap>(pool, rows, out, n);
        case Scalar::U8: return read_as<Scalar::U8, Swap>(pool, rows, out, n);
        case Scalar::I16: return read_as<Scalar::I16, Swap>(pool, rows, out, n);
        case Scalar::U16: return read_as<Scalar::U16, Swap>(pool, rows, out, n);
        case Scalar::I32: return read_as<Scalar::I32, Swap>(pool, rows, out, n);
        case Scalar::U32: return read_as<Scalar::U32, Swap>(pool, rows, out, n);
        case Scalar::I64: return read_as<Scalar::I64, Swap>(pool, rows, out, n);
        case Scalar::U64: return read_as<Scalar::U64, Swap>(pool, rows, out, n);
        case Scalar::Bool: return read_as<Scalar::Bool, Swap>(pool, rows, out, n);
    }
    return false;
}

}  // namespace

bool read_rows(Pool& pool, const Rows& rows, const ElementFormat& format, Vec3* out, std::size_t n) noexcept {
    if (format.type == Scalar::F64 && !format.swapped && rows.row == 24 && rows.column == 8)
        return copy_vectors(pool, rows.base, out, n);
    return format.swapped ? read_swapped<true>(pool, rows, format.type, out, n)
                          : read_swapped<false>(pool, rows, format.type, out, n);
}

}  // namespace bulk
}  // namespace orvath::core
