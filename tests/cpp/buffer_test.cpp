#include "core/buffer.hpp"
#include "core/platform.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using orvath::core::alloc_huge;
using orvath::core::free_huge;
using orvath::core::block_size;
using orvath::core::Buffer;
using orvath::core::give_block;
using orvath::core::take_block;
using orvath::core::kHugeThreshold;
using orvath::core::realloc_huge;

constexpr std::size_t kMiB = std::size_t{1} << 20;

void fill(void* p, std::size_t bytes, std::uint8_t seed) {
    auto* b = static_cast<std::uint8_t*>(p);
    for (std::size_t i = 0; i < bytes; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 31);
}

std::size_t count_mismatches(const void* p, std::size_t bytes, std::uint8_t seed) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < bytes; ++i) bad += b[i] != static_cast<std::uint8_t>(seed + i * 31);
    return bad;
}

// The "THPeligible" field of the mapping containing p in /proc/self/smaps, or
// -1 when it cannot be read.
int thp_eligible(const void* p) {
    std::ifstream smaps("/proc/self/smaps");
    if (!smaps) return -1;
    const auto addr = reinterpret_cast<std::uintptr_t>(p);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long long lo, hi;
        char dash;
        std::istringstream head(line);
        if (line.find(':') > line.find('-') && (head >> std::hex >> lo >> dash >> hi) && dash == '-') {
            inside = addr >= lo && addr < hi;
            continue;
        }
        if (inside && line.rfind("THPeligible:", 0) == 0) return std::stoi(line.substr(12));
    }
    return -1;
}

bool thp_available() {
    std::ifstream f("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string s;
    return f && std::getline(f, s) && s.find("[never]") == std::string::npos;
}

TEST(BufferTest, ZeroBytesIsNull) {
    EXPECT_EQ(alloc_huge(0), nullptr);
    free_huge(nullptr, 0);
    free_huge(nullptr, 100 * kMiB);
}

TEST(BufferTest, SmallAndLargeBlocksAreUsable) {
    for (std::size_t bytes : {std::size_t{1}, std::size_t{24}, std::size_t{4096}, kHugeThreshold - 8, kHugeThreshold,
                              kHugeThreshold + 24, 7 * kMiB + 5}) {
        void* p = alloc_huge(bytes);
        ASSERT_NE(p, nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
        fill(p, bytes, 7);
        EXPECT_EQ(count_mismatches(p, bytes, 7), 0u);
        free_huge(p, bytes);
    }
}

TEST(BufferTest, LargeBlocksAreHugePageAlignedAndAdvised) {
    const std::size_t bytes = 6 * kMiB + 100;
    void* p = alloc_huge(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % (2 * kMiB), 0u);
    std::memset(p, 1, bytes);
    // The advice exists on Linux only; the other layers map without it.
    if (std::string(orvath::core::platform::name()) == "linux" && thp_available()) {
        const int eligible = thp_eligible(p);
        if (eligible < 0) GTEST_SKIP() << "no /proc/self/smaps here";
        EXPECT_EQ(eligible, 1);
    }
    free_huge(p, bytes);
}

TEST(BufferTest, ReallocKeepsContentAcrossEveryTransition) {
    // small -> small -> huge -> bigger huge -> smaller huge -> small -> freed
    std::size_t size = 1000;
    void* p = alloc_huge(size);
    ASSERT_NE(p, nullptr);
    fill(p, size, 3);
    std::size_t kept = size;
    const std::size_t steps[] = {50'000, 3 * kMiB, 9 * kMiB + 1, 9 * kMiB + 2, 4 * kMiB, 100'000, 10};
    for (std::size_t next : steps) {
        void* q = realloc_huge(p, size, next);
        ASSERT_NE(q, nullptr) << size << " -> " << next;
        if (next < kept) kept = next;
        EXPECT_EQ(count_mismatches(q, kept, 3), 0u) << size << " -> " << next;
        // The whole new block is writable.
        std::memset(static_cast<char*>(q) + kept, 0, next - kept);
        if (next >= kHugeThreshold) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(q) % (2 * kMiB), 0u);
        }
        p = q;
        size = next;
    }
    EXPECT_EQ(realloc_huge(p, size, 0), nullptr);
    void* fresh = realloc_huge(nullptr, 0, 3 * kMiB);
    ASSERT_NE(fresh, nullptr);
    free_huge(fresh, 3 * kMiB);
}

TEST(BufferTest, BufferOwnsAndMoves) {
    Buffer<double> a;
    ASSERT_TRUE(a.allocate(1'000'000));
    ASSERT_EQ(a.size(), 1'000'000u);
    ASSERT_NE(a.data(), nullptr);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<double>(i);
    Buffer<double> b(std::move(a));
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(b[999'999], 999'999.0);
    Buffer<double> c;
    ASSERT_TRUE(c.allocate(10));
    c = std::move(b);
    EXPECT_EQ(c.size(), 1'000'000u);
    EXPECT_EQ(c[12345], 12345.0);

    Buffer<double> empty;
    EXPECT_TRUE(empty.allocate(0));
    EXPECT_EQ(empty.size(), 0u);
    // An impossible size is refused and leaves the buffer as it was.
    EXPECT_FALSE(c.allocate(static_cast<std::size_t>(-1) / 4));
    EXPECT_FALSE(c.reserve(static_cast<std::size_t>(-1) / 4));
    EXPECT_EQ(c.size(), 1'000'000u);
    EXPECT_EQ(c[999'999], 999'999.0);
}

TEST(BufferTest, AppendingGrowsAndKeepsTheContent) {
    Buffer<std::uint64_t> a;
    for (std::uint64_t i = 0; i < 300'000; ++i) ASSERT_TRUE(a.push_back(i));
    std::vector<std::uint64_t> more(500'000);
    for (std::size_t i = 0; i < more.size(); ++i) more[i] = 300'000 + i;
    ASSERT_TRUE(a.append(more.data(), more.size()));
    ASSERT_EQ(a.size(), 800'000u);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < a.size(); ++i) bad += a[i] != i;
    EXPECT_EQ(bad, 0u);
    volatile std::size_t impossible = static_cast<std::size_t>(-1) / 8;  // not a constant to the compiler
    EXPECT_FALSE(a.append(more.data(), impossible));
    EXPECT_EQ(a.size(), 800'000u);
}

TEST(BufferTest, BlockSizesRoundBigRequestsToHugePages) {
    EXPECT_EQ(block_size(0), 0u);
    EXPECT_EQ(block_size(100), 100u);
    EXPECT_EQ(block_size(kHugeThreshold - 1), kHugeThreshold - 1);
    EXPECT_EQ(block_size(kHugeThreshold), kHugeThreshold);
    EXPECT_EQ(block_size(kHugeThreshold + 1), 2 * kHugeThreshold);
    EXPECT_EQ(block_size(static_cast<std::size_t>(-1) - 10), 0u);
}

TEST(BufferTest, FreedBigBlocksAreReusedForRequestsTheyFit) {
    // Sizes no other test of this process frees, so the cached block found
    // is the one given back here.
    std::size_t bytes = block_size(40 * kMiB);
    void* p = take_block(bytes);
    ASSERT_NE(p, nullptr);
    give_block(p, bytes);
    // A request of at least half the cached block gets it back, whole.
    std::size_t again = block_size(30 * kMiB);
    void* q = take_block(again);
    EXPECT_EQ(q, p);
    EXPECT_EQ(again, 40 * kMiB);
    give_block(q, again);
    // One of less than half does not.
    std::size_t small = block_size(17 * kMiB);
    void* r = take_block(small);
    EXPECT_NE(r, p);
    EXPECT_EQ(small, 18 * kMiB);
    give_block(r, small);
}

TEST(BufferTest, OneBlockBeyondTheSlotsIsKeptReleasedLazilyAndStaysUsable) {
    std::size_t bytes = block_size(200 * kMiB), again = block_size(150 * kMiB);
    auto* p = static_cast<unsigned char*>(take_block(bytes));
    ASSERT_NE(p, nullptr);
    give_block(p, bytes);
    auto* q = static_cast<unsigned char*>(take_block(again));
    ASSERT_EQ(q, p);
    ASSERT_EQ(again, bytes);
    for (std::size_t i = 0; i < bytes; i += 4096) q[i] = static_cast<unsigned char>(i >> 12);
    for (std::size_t i = 0; i < bytes; i += 4096) ASSERT_EQ(q[i], static_cast<unsigned char>(i >> 12)) << i;
    give_block(q, again);
}

TEST(BufferTest, ANewlyFreedBlockPushesOutTheOldest) {
    // Empty the cache: four blocks of 16 MiB fill it (whatever earlier tests
    // left is pushed out), and taking them back leaves it empty.
    void* held[4];
    for (void*& p : held) {
        std::size_t b = 16 * kMiB;
        p = alloc_huge(b);
        ASSERT_NE(p, nullptr);
    }
    for (void* p : held) give_block(p, 16 * kMiB);
    for (void*& p : held) {
        std::size_t b = 16 * kMiB;
        p = take_block(b);
        ASSERT_EQ(b, 16 * kMiB);
    }
    for (void* p : held) free_huge(p, 16 * kMiB);

    // A marked 40 MiB block, then four of 8 MiB: the fourth finds every slot
    // taken and pushes out the oldest, the 40 MiB block, which is unmapped.
    std::size_t big = 40 * kMiB;
    auto* a = static_cast<unsigned char*>(take_block(big));
    ASSERT_NE(a, nullptr);
    std::memset(a, 0xA5, big);
    give_block(a, big);
    for (int i = 0; i < 4; ++i) {
        std::size_t b = 8 * kMiB;
        void* p = alloc_huge(b);
        ASSERT_NE(p, nullptr);
        give_block(p, b);
    }
    std::size_t again = 30 * kMiB;
    auto* fresh = static_cast<unsigned char*>(take_block(again));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(again, 30 * kMiB);  // not a cached block: those are 8 MiB
    EXPECT_EQ(fresh[0], 0);       // a fresh mapping, zeroed
    give_block(fresh, again);
}

}  // namespace
