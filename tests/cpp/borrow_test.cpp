#include "core/borrow.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using orvath::core::BasicBorrowWord;

template <class Word>
class BorrowWordTest : public ::testing::Test {};

using WordTypes = ::testing::Types<BasicBorrowWord<true>, BasicBorrowWord<false>>;
TYPED_TEST_SUITE(BorrowWordTest, WordTypes);

TYPED_TEST(BorrowWordTest, StartsFree) {
    TypeParam w;
    EXPECT_EQ(w.load(), 0);
}

TYPED_TEST(BorrowWordTest, SharedBorrowsCount) {
    TypeParam w;
    EXPECT_TRUE(w.try_shared());
    EXPECT_EQ(w.load(), 1);
    EXPECT_TRUE(w.try_shared());
    EXPECT_TRUE(w.try_shared());
    EXPECT_EQ(w.load(), 3);
    w.release_shared();
    EXPECT_EQ(w.load(), 2);
    w.release_shared();
    w.release_shared();
    EXPECT_EQ(w.load(), 0);
}

TYPED_TEST(BorrowWordTest, ExclusiveExcludesEverything) {
    TypeParam w;
    EXPECT_TRUE(w.try_exclusive());
    EXPECT_EQ(w.load(), TypeParam::kExclusive);
    EXPECT_FALSE(w.try_shared());
    EXPECT_FALSE(w.try_exclusive());
    EXPECT_EQ(w.load(), TypeParam::kExclusive);  // failed attempts change nothing
    w.release_exclusive();
    EXPECT_EQ(w.load(), 0);
    EXPECT_TRUE(w.try_shared());
    w.release_shared();
    EXPECT_TRUE(w.try_exclusive());
    w.release_exclusive();
}

TYPED_TEST(BorrowWordTest, SharedExcludesExclusiveUntilLastRelease) {
    TypeParam w;
    ASSERT_TRUE(w.try_shared());
    ASSERT_TRUE(w.try_shared());
    EXPECT_FALSE(w.try_exclusive());
    EXPECT_EQ(w.load(), 2);
    w.release_shared();
    EXPECT_FALSE(w.try_exclusive());
    EXPECT_EQ(w.load(), 1);
    w.release_shared();
    EXPECT_TRUE(w.try_exclusive());
    w.release_exclusive();
    EXPECT_EQ(w.load(), 0);
}

// The non-atomic word relies on one outer lock around every transition; under
// that lock it must behave exactly like the atomic one across threads.
TEST(BorrowWordContention, NonAtomicWordUnderOneLock) {
    BasicBorrowWord<false> w;
    std::mutex global;
    std::atomic<int> shared_holders{0}, exclusive_holders{0}, violations{0};
    std::atomic<long> shared_ok{0}, exclusive_ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20'000; ++i) {
                const bool exclusive = (i + t) % 3 == 0;
                bool got;
                {
                    std::lock_guard<std::mutex> lock(global);
                    got = exclusive ? w.try_exclusive() : w.try_shared();
                }
                if (!got) continue;
                if (exclusive) {
                    if (exclusive_holders.fetch_add(1) != 0 || shared_holders.load() != 0) violations.fetch_add(1);
                    exclusive_ok.fetch_add(1);
                    exclusive_holders.fetch_sub(1);
                    std::lock_guard<std::mutex> lock(global);
                    w.release_exclusive();
                } else {
                    shared_holders.fetch_add(1);
                    if (exclusive_holders.load() != 0) violations.fetch_add(1);
                    shared_ok.fetch_add(1);
                    shared_holders.fetch_sub(1);
                    std::lock_guard<std::mutex> lock(global);
                    w.release_shared();
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_GT(shared_ok.load(), 0);
    EXPECT_GT(exclusive_ok.load(), 0);
    EXPECT_EQ(w.load(), 0);
}

// Real threads hammer one atomic word. Holders announce themselves in
// invariant counters right after acquiring and withdraw right before
// releasing, so an exclusive holder must always see no one else, and a shared
// holder must never see an exclusive one. A plain (non-atomic) payload is
// written under the exclusive borrow and read under shared ones: a torn or
// racy access shows up as a mismatch here and as a data race under
// ThreadSanitizer. Every helper atomic is relaxed on purpose: the word's own
// acquire/release must be what orders the payload (and makes the counters'
// values visible), otherwise ThreadSanitizer would see the helpers'
// synchronisation and miss a too-weak ordering in the word.
TEST(BorrowWordContention, AtomicWordNeverMixesExclusiveAndShared) {
    constexpr auto kRelaxed = std::memory_order_relaxed;
    BasicBorrowWord<true> w;
    struct Payload {
        std::uint64_t a = 0, b = 0;  // kept equal by every writer
    } payload;
    std::atomic<int> shared_holders{0}, exclusive_holders{0};
    std::atomic<long> violations{0}, shared_ok{0}, exclusive_ok{0}, conflicts{0}, reads_of_writes{0};
    std::atomic<bool> go{false};
    // Fixed roles: a writer makes no release operation on the word other than
    // release_exclusive, so a reader's view of the payload can only come
    // through that store and the reader's acquire.
    constexpr int kWriters = 2;
    constexpr int kReaders = 4;
    constexpr int kWrites = 3'000;
    constexpr int kReads = 20'000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kWrites; ++i) {
                while (!w.try_exclusive()) {  // readers come and go: retry
                    conflicts.fetch_add(1, kRelaxed);
                    std::this_thread::yield();
                }
                if (exclusive_holders.fetch_add(1, kRelaxed) != 0) violations.fetch_add(1, kRelaxed);
                if (shared_holders.load(kRelaxed) != 0) violations.fetch_add(1, kRelaxed);
                if (w.load() != BasicBorrowWord<true>::kExclusive) violations.fetch_add(1, kRelaxed);
                const std::uint64_t v = payload.a + 1;
                payload.a = v;
                if (i % 16 == 0) std::this_thread::yield();  // widen the window
                payload.b = v;
                if (shared_holders.load(kRelaxed) != 0) violations.fetch_add(1, kRelaxed);
                exclusive_ok.fetch_add(1, kRelaxed);
                exclusive_holders.fetch_sub(1, kRelaxed);
                w.release_exclusive();
                std::this_thread::yield();  // let readers in
            }
        });
    }
    for (int t = 0; t < kReaders; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kReads; ++i) {
                if (!w.try_shared()) {
                    conflicts.fetch_add(1, kRelaxed);
                    std::this_thread::yield();
                    continue;
                }
                shared_holders.fetch_add(1, kRelaxed);
                if (exclusive_holders.load(kRelaxed) != 0) violations.fetch_add(1, kRelaxed);
                if (w.load() < 1) violations.fetch_add(1, kRelaxed);
                const std::uint64_t a = payload.a;
                if (i % 16 == 0) std::this_thread::yield();
                const std::uint64_t b = payload.b;
                if (a != b) violations.fetch_add(1, kRelaxed);
                if (a != 0) reads_of_writes.fetch_add(1, kRelaxed);
                if (exclusive_holders.load(kRelaxed) != 0) violations.fetch_add(1, kRelaxed);
                shared_ok.fetch_add(1, kRelaxed);
                shared_holders.fetch_sub(1, kRelaxed);
                w.release_shared();
                if (i % 4 == 0) std::this_thread::yield();  // leave gaps for writers
            }
        });
    }
    go.store(true);
    for (auto& th : threads) th.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(w.load(), 0);
    EXPECT_EQ(exclusive_ok.load(), kWriters * kWrites);
    EXPECT_EQ(payload.a, static_cast<std::uint64_t>(kWriters * kWrites));
    EXPECT_EQ(payload.a, payload.b);
    // The run must really have interleaved the two kinds: readers saw written
    // payloads, and both sides met conflicts.
    EXPECT_GT(shared_ok.load(), 0);
    EXPECT_GT(reads_of_writes.load(), 0);
    EXPECT_GT(conflicts.load(), 0);
}

// Shared borrows from many threads at once all succeed and the count returns
// to zero: the compare-and-swap loop loses no increment.
TEST(BorrowWordContention, ConcurrentSharedBorrowsAllCount) {
    BasicBorrowWord<true> w;
    std::atomic<std::int64_t> peak{0};
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50'000; ++i) {
                if (!w.try_shared()) {
                    failures.fetch_add(1);
                    continue;
                }
                const std::int64_t now = w.load();
                std::int64_t p = peak.load();
                while (now > p && !peak.compare_exchange_weak(p, now)) {
                }
                w.release_shared();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(w.load(), 0);
    EXPECT_GE(peak.load(), 1);
}

}  // namespace
