#include "core/bulk.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/each.hpp"
#include "core/float_text.hpp"
#include "core/lanes.hpp"
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

// The tests of this suite run once with each loop of the kernels (element by
// element, and four elements at a time by axis registers), whichever clone
// this processor runs.
class EachLoop : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { lanes::set_shuffled(GetParam()); }
    void TearDown() override { lanes::set_shuffled(picked_); }
    const bool picked_ = lanes::shuffled();
};
INSTANTIATE_TEST_SUITE_P(Loops, EachLoop, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "FourAtATime" : "OneAtATime"; });

TEST_P(EachLoop, EveryOperationGivesTheSingleResultsOnASplitRange) {
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    const std::vector<Vec3> in = specimen(600'003, 1);
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
    // In place, as a list rotates its own elements.
    std::vector<Vec3> same = in;
    ASSERT_TRUE(bulk::map_in_place(*pool, same.data(), same.size(), bulk::Rotate{q}));
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_TRUE(SameVec(same[i], rotate(q, in[i]))) << i;
    // Pairs: element i against element i + 1.
    const std::size_t n = in.size() - 1;
    std::vector<Vec3> pairs(n);
    std::vector<double> dots(n);
    const Vec3* a = in.data();
    const Vec3* b = in.data() + 1;
    ASSERT_TRUE(bulk::map_pairs(*pool, a, b, pairs.data(), n, bulk::CrossEach{}));
    ASSERT_TRUE(bulk::map_pairs(*pool, a, b, dots.data(), n, bulk::DotEach{}));
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(SameVec(pairs[i], cross(a[i], b[i]))) << i;
        ASSERT_TRUE(Same(dots[i], dot(a[i], b[i]))) << i;
    }
}

TEST_P(EachLoop, CollapseZeroesTheGivenAxis) {
    auto pool = make_pool(2);
    ASSERT_TRUE(pool);
    const std::vector<Vec3> in = specimen(600'000, 2);
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

TEST_P(EachLoop, NearestSplitsTheSampledPassAndMatchesTheModel) {
    const std::size_t n = 1'000'000;
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

TEST(Bulk, NearestAmongNaNsAndInfinitiesIsTheSameForEitherLoop) {
    // NaN keys of either sign, infinities and ties, several of each per block.
    const std::vector<Vec3> in = specimen(100'003, 5);
    auto pool = make_pool(2);
    ASSERT_TRUE(pool);
    for (const Vec3& o : {Vec3{0.5, -3.0, 7.0}, Vec3{NaN, 0, 0}, Vec3{INF, 0, 0}}) {
        std::optional<bulk::Nearest> got[2];
        for (bool shuffled : {false, true}) {
            const bool picked = lanes::shuffled();
            lanes::set_shuffled(shuffled);
            got[shuffled] = bulk::minimum_distance_to(*pool, in.data(), in.size(), o, 3);
            lanes::set_shuffled(picked);
            ASSERT_TRUE(got[shuffled]);
        }
        EXPECT_EQ(got[0]->index, got[1]->index);
        EXPECT_TRUE(Same(got[0]->distance, got[1]->distance));
    }
}

TEST(Bulk, NearestSplitsTheWindowPassAndKeepsTheLowestTie) {
    // A stride this large makes the window around the best sample long enough
    // to be split as well; equal keys sit on both sides of its chunk edges.
    const std::size_t n = 1'200'000, stride = 500'000;
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

// ---------------------------------------------------------------------------
// Foreign rows

TEST(Rows, FormatsParseToTypeSizeAndByteOrder) {
    using bulk::Scalar;
    const bool little = std::endian::native == std::endian::little;
    struct Case {
        const char* text;
        Scalar type;
        std::size_t size;
        bool swapped;
    };
    const Case ok[] = {
        {"d", Scalar::F64, 8, false},  {"@d", Scalar::F64, 8, false}, {"=d", Scalar::F64, 8, false},
        {"<d", Scalar::F64, 8, !little}, {">d", Scalar::F64, 8, little}, {"!d", Scalar::F64, 8, little},
        {"^f", Scalar::F32, 4, false}, {"e", Scalar::F16, 2, false},   {"?", Scalar::Bool, 1, false},
        {"b", Scalar::I8, 1, false},   {"B", Scalar::U8, 1, false},    {"h", Scalar::I16, 2, false},
        {"<H", Scalar::U16, 2, !little}, {"i", Scalar::I32, 4, false}, {"I", Scalar::U32, 4, false},
        {"q", Scalar::I64, 8, false},  {">Q", Scalar::U64, 8, little},
        // l and n take the C sizes in native mode; l is 4 bytes with a byte-order mark.
        {"l", sizeof(long) == 8 ? Scalar::I64 : Scalar::I32, sizeof(long), false},
        {"=l", Scalar::I32, 4, false}, {"<L", Scalar::U32, 4, !little},
        {"n", Scalar::I64, sizeof(std::size_t), false}, {"N", Scalar::U64, sizeof(std::size_t), false},
    };
    for (const Case& c : ok) {
        SCOPED_TRACE(c.text);
        const auto f = bulk::parse_format(c.text);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->type, c.type);
        EXPECT_EQ(f->size, c.size);
        EXPECT_EQ(f->swapped, c.swapped);
    }
    for (const char* bad : {"", "Zd", "Zf", "O", "3s", "s", "c", "x", "P", "g", "dd", "2d", "<n", "=N", "T{d:x:}",
                            "<", "@"})
        EXPECT_FALSE(bulk::parse_format(bad)) << bad;
}

// Writes the low `size` bytes of `bits` at p, in the byte order asked for.
void put(unsigned char* p, std::uint64_t bits, std::size_t size, bool big) {
    for (std::size_t b = 0; b < size; ++b) p[big ? size - 1 - b : b] = static_cast<unsigned char>(bits >> (8 * b));
}

// One row of three equal numbers per case, stored in either byte order, read
// back as doubles.
TEST(Rows, EveryTypeConvertsAsFloatDoes) {
    struct Case {
        const char* format;
        std::uint64_t stored;  // the element's bits
        std::uint64_t want;    // the double's bits
    };
    const Case cases[] = {
        {"d", 0x7FF0000000000001, 0x7FF0000000000001},  // a signalling NaN stays as it is
        {"d", 0x8000000000000000, 0x8000000000000000},
        {"f", 0x3F800000, bits(1.0)},
        {"f", 0x00000001, bits(0x1p-149)},
        {"f", 0xFF800000, bits(-INF)},
        {"e", 0x3C00, bits(1.0)},
        {"e", 0x0001, bits(0x1p-24)},
        {"e", 0x03FF, bits(0x3FFp-24)},
        {"e", 0x8000, bits(-0.0)},
        {"e", 0x7BFF, bits(65504.0)},
        {"e", 0xFC00, bits(-INF)},
        {"e", 0x7E01, 0x7FF8040000000000},  // NaN payload kept, as numpy does
        {"b", 0x80, bits(-128.0)},
        {"B", 0xFF, bits(255.0)},
        {"h", 0x8000, bits(-32768.0)},
        {"H", 0xFFFF, bits(65535.0)},
        {"i", 0x80000000, bits(-2147483648.0)},
        {"I", 0xFFFFFFFF, bits(4294967295.0)},
        {"q", 0x8000000000000000, bits(-0x1p63)},
        {"q", 0x0020000000000001, bits(0x1p53)},  // 2^53 + 1 rounds to even
        {"q", 0x0020000000000003, bits(0x1p53 + 4)},
        {"Q", 0xFFFFFFFFFFFFFFFF, bits(0x1p64)},
        // 2^63 + 1025 lies just above half-way: up. Halving the integer
        // without keeping its lowest bit would make it a tie and round down.
        {"Q", 0x8000000000000401, bits(0x1p63 + 2048)},
        {"?", 0x00, bits(0.0)},
        {"?", 0x02, bits(1.0)},
    };
    auto pool = make_pool(2);
    ASSERT_TRUE(pool);
    for (const Case& c : cases) {
        for (const char* order : {"<", ">"}) {
            const std::string text = std::string(order) + c.format;
            SCOPED_TRACE(text + " " + std::to_string(c.stored));
            const auto f = bulk::parse_format(text);
            ASSERT_TRUE(f);
            // Unaligned on purpose: one byte in.
            std::vector<unsigned char> raw(1 + 3 * f->size);
            for (std::size_t k = 0; k < 3; ++k) put(raw.data() + 1 + k * f->size, c.stored, f->size, *order == '>');
            const bulk::Rows rows{raw.data() + 1, static_cast<std::ptrdiff_t>(3 * f->size),
                                  static_cast<std::ptrdiff_t>(f->size)};
            Vec3 out{};
            ASSERT_TRUE(bulk::read_rows(*pool, rows, *f, &out, 1));
            EXPECT_EQ(bits(out.x), c.want);
            EXPECT_EQ(bits(out.y), c.want);
            EXPECT_EQ(bits(out.z), c.want);
        }
    }
}

// Rows far apart, backwards, repeated (stride 0) and with the columns out of
// order, over a range the pool splits: number k of row i is 10 i + k.
TEST(Rows, AnyStridesOnASplitRange) {
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    const std::size_t n = 250'000;
    ASSERT_GT(pool->chunk_count(n, bulk::cost::kConvert), 1u);
    const auto f = bulk::parse_format(">i");
    ASSERT_TRUE(f);
    struct Layout {
        std::ptrdiff_t row, column;
    };
    for (const Layout l : {Layout{13, 4}, Layout{-12, 4}, Layout{12, -4}, Layout{4, 4 * 250'000}}) {
        SCOPED_TRACE(std::to_string(l.row) + "," + std::to_string(l.column));
        // The lowest address any number of the layout uses is where the buffer begins.
        const std::ptrdiff_t lowest = std::min<std::ptrdiff_t>(0, l.row * std::ptrdiff_t(n - 1)) +
                                      std::min<std::ptrdiff_t>(0, 2 * l.column);
        const std::ptrdiff_t highest = std::max<std::ptrdiff_t>(0, l.row * std::ptrdiff_t(n - 1)) +
                                       std::max<std::ptrdiff_t>(0, 2 * l.column) + 4;
        std::vector<unsigned char> raw(static_cast<std::size_t>(highest - lowest) + 1);
        unsigned char* base = raw.data() + 1 - lowest;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < 3; ++k)
                put(base + std::ptrdiff_t(i) * l.row + std::ptrdiff_t(k) * l.column, 10 * i + k, 4, true);
        std::vector<Vec3> out(n);
        ASSERT_TRUE(bulk::read_rows(*pool, {base, l.row, l.column}, *f, out.data(), n));
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_TRUE(SameVec(out[i], {10.0 * i, 10.0 * i + 1, 10.0 * i + 2})) << i;
    }
    // Every row the same memory: a broadcast row.
    std::vector<unsigned char> one(12);
    for (std::size_t k = 0; k < 3; ++k) put(one.data() + 4 * k, k + 7, 4, true);
    std::vector<Vec3> out(n);
    ASSERT_TRUE(bulk::read_rows(*pool, {one.data(), 0, 4}, *f, out.data(), n));
    for (std::size_t i = 0; i < n; ++i) ASSERT_TRUE(SameVec(out[i], {7, 8, 9})) << i;
}

TEST(Rows, CopiesKeepEveryBitOnASplitRange) {
    auto pool = make_pool(4);
    ASSERT_TRUE(pool);
    std::vector<Vec3> in = specimen(400'000, 5);
    ASSERT_GT(pool->chunk_count(in.size(), bulk::cost::kOffset), 1u);
    in[17].y = std::bit_cast<double>(std::uint64_t{0x7FF0000000000001});  // signalling
    in[299'999].z = std::bit_cast<double>(std::uint64_t{0xFFF8000000ABCDEF});
    std::vector<Vec3> out(in.size());
    ASSERT_TRUE(bulk::copy_vectors(*pool, in.data(), out.data(), in.size()));
    EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(Vec3)), 0);
    // The same through the reader of native doubles in 24-byte rows.
    std::vector<Vec3> read(in.size());
    const auto f = bulk::parse_format("d");
    ASSERT_TRUE(f);
    ASSERT_TRUE(bulk::read_rows(*pool, {reinterpret_cast<const unsigned char*>(in.data()), 24, 8}, *f,
                                read.data(), in.size()));
    EXPECT_EQ(std::memcmp(in.data(), read.data(), in.size() * sizeof(Vec3)), 0);
}

}  // namespace
