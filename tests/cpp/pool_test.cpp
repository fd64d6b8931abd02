#include "core/pool.hpp"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SANITIZE_THREAD__)
// The fork tests start threads in the child of a multi-threaded process, which
// ThreadSanitizer refuses by default; the pool is built for exactly that case.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_options() {
    return "die_after_fork=0";
}
#endif

namespace {

using orvath::core::Pool;

// A cost that forces any n >= 2 onto the threads.
constexpr std::size_t kParallel = Pool::kSerialCutoff;

Pool& global_pool() {
    std::string error;
    Pool* p = Pool::instance(&error);
    if (p == nullptr) ADD_FAILURE() << error;
    return *p;
}

// The recursive midpoint split written out directly, as the reference for the
// chunk table the pool computes per index.
void reference_split(std::size_t lo, std::size_t hi, unsigned depth,
                     std::vector<std::pair<std::size_t, std::size_t>>& out) {
    if (depth == 0) {
        out.emplace_back(lo, hi);
        return;
    }
    const std::size_t mid = lo + (hi - lo) / 2;
    reference_split(lo, mid, depth - 1, out);
    reference_split(mid, hi, depth - 1, out);
}

struct Recorder {
    std::mutex m;
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::set<std::thread::id> threads;
    void add(std::size_t b, std::size_t e) {
        std::lock_guard<std::mutex> lock(m);
        ranges.emplace_back(b, e);
        threads.insert(std::this_thread::get_id());
    }
};

// Runs an operation over n indices and checks each index was visited exactly
// once, by non-empty ranges that follow the midpoint split.
void check_cover(Pool& pool, std::size_t n, std::size_t cost) {
    SCOPED_TRACE("n=" + std::to_string(n) + " cost=" + std::to_string(cost));
    std::vector<std::atomic<std::uint8_t>> visits(n);
    Recorder rec;
    const bool ok = pool.for_each_range(n, cost, [&](std::size_t b, std::size_t e) {
        rec.add(b, e);
        for (std::size_t i = b; i < e; ++i) visits[i].fetch_add(1, std::memory_order_relaxed);
    });
    ASSERT_TRUE(ok);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < n; ++i) bad += visits[i].load() != 1;
    EXPECT_EQ(bad, 0u);

    const std::size_t chunks = n == 0 ? 0 : pool.chunk_count(n, cost);
    ASSERT_EQ(rec.ranges.size(), chunks);
    std::sort(rec.ranges.begin(), rec.ranges.end());
    if (n > 0) {
        unsigned depth = 0;
        while ((std::size_t{1} << depth) < chunks) ++depth;
        std::vector<std::pair<std::size_t, std::size_t>> want;
        reference_split(0, n, depth, want);
        EXPECT_EQ(rec.ranges, want);
        for (const auto& r : rec.ranges) EXPECT_LT(r.first, r.second);
    }
}

TEST(PoolTest, InstanceIsSingletonWithWorkers) {
    std::string error;
    Pool* a = Pool::instance(&error);
    ASSERT_NE(a, nullptr) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_GE(a->thread_count(), 1u);
    EXPECT_EQ(Pool::instance(), a);
}

TEST(PoolTest, ChunkBoundsFollowTheMidpointSplit) {
    for (std::size_t n : {2u, 3u, 5u, 7u, 8u, 100u, 1023u, 1024u, 1025u, 999983u}) {
        for (unsigned depth = 0; depth <= 8 && (std::size_t{1} << depth) <= n; ++depth) {
            std::vector<std::pair<std::size_t, std::size_t>> want, got;
            reference_split(0, n, depth, want);
            for (std::size_t k = 0; k < (std::size_t{1} << depth); ++k) {
                std::size_t b, e;
                Pool::chunk_bounds(n, depth, k, b, e);
                got.emplace_back(b, e);
            }
            EXPECT_EQ(got, want) << "n=" << n << " depth=" << depth;
        }
    }
    // The left half takes floor(n / 2) elements.
    std::size_t b, e;
    Pool::chunk_bounds(7, 1, 0, b, e);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(e, 3u);
}

TEST(PoolTest, ChunkCountRespectsCutoffAndSize) {
    Pool& pool = global_pool();
    EXPECT_EQ(pool.chunk_count(0, kParallel), 1u);
    EXPECT_EQ(pool.chunk_count(1, kParallel), 1u);
    EXPECT_EQ(pool.chunk_count(1000, 1), 1u);
    EXPECT_EQ(pool.chunk_count(Pool::kAwakeCutoff - 1, 1), 1u);
    EXPECT_GT(pool.chunk_count(Pool::kSerialCutoff, 1), 1u);
    EXPECT_EQ(pool.chunk_count(2, kParallel), 2u);   // a range of 2 splits once
    EXPECT_EQ(pool.chunk_count(3, kParallel), 2u);   // never into an empty chunk
    const std::size_t big = pool.chunk_count(10'000'000, 10);
    // About two per participant, as a power of two.
    EXPECT_GE(big, pool.thread_count() + 1);
    EXPECT_LE(big, std::max<std::size_t>(4 * (pool.thread_count() + 1), 2));
    EXPECT_EQ(big & (big - 1), 0u);
    // Overflowing n * cost saturates instead of wrapping to a small count.
    EXPECT_EQ(pool.chunk_count(std::size_t{1} << 40, std::size_t{1} << 40), big);
}

TEST(PoolTest, MidSizeOperationsInQuickSuccessionAreSplit) {
    // Between the two cutoffs an operation is split when a worker is awake or
    // when another of that size just ran: the one after it is split whatever
    // the workers were doing. Planning alone changes nothing. "Just" is a
    // window of microseconds, which a preempted test thread can miss, so a
    // few tries are allowed.
    Pool& pool = global_pool();
    const std::size_t n = Pool::kAwakeCutoff;
    ASSERT_LT(n, Pool::kSerialCutoff);
    bool split = false;
    for (int attempt = 0; attempt < 20 && !split; ++attempt) {
        ASSERT_TRUE(pool.for_each_range(n, 1, [](std::size_t, std::size_t) {}));
        if (pool.chunk_count(n, 1) <= 1) continue;
        Recorder rec;
        ASSERT_TRUE(pool.for_each_range(n, 1, [&](std::size_t b, std::size_t e) { rec.add(b, e); }));
        split = rec.ranges.size() > 1;
    }
    EXPECT_TRUE(split);
}

TEST(PoolTest, EveryIndexOnceForSmallSizes) {
    Pool& pool = global_pool();
    const std::size_t t = pool.thread_count();
    std::vector<std::size_t> sizes = {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 17, t, t + 1, 2 * t + 3};
    if (t > 1) sizes.push_back(t - 1);
    for (std::size_t n : sizes) {
        check_cover(pool, n, kParallel);
        check_cover(pool, n, 1);
    }
}

TEST(PoolTest, EveryIndexOnceForRandomLargeSizes) {
    Pool& pool = global_pool();
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<std::size_t> size(0, 1'000'000);
    for (int i = 0; i < 12; ++i) check_cover(pool, size(rng), kParallel);
    static_assert(1'000'000 * 3 >= Pool::kSerialCutoff);  // split whatever the workers are doing
    check_cover(pool, 1'000'000, 3);
    check_cover(pool, 1'000'003, 3);
}

TEST(PoolTest, SerialCutoffRunsOnCallerInOneCall) {
    Pool& pool = global_pool();
    const std::size_t n = 5000;
    ASSERT_LT(n * 3, Pool::kSerialCutoff);
    Recorder rec;
    ASSERT_TRUE(pool.for_each_range(n, 3, [&](std::size_t b, std::size_t e) { rec.add(b, e); }));
    ASSERT_EQ(rec.ranges.size(), 1u);
    EXPECT_EQ(rec.ranges[0], std::make_pair(std::size_t{0}, n));
    ASSERT_EQ(rec.threads.size(), 1u);
    EXPECT_EQ(*rec.threads.begin(), std::this_thread::get_id());
}

TEST(PoolTest, EmptyRangeNeverCallsBody) {
    Pool& pool = global_pool();
    int calls = 0;
    EXPECT_TRUE(pool.for_each_range(0, kParallel, [&](std::size_t, std::size_t) { ++calls; }));
    EXPECT_TRUE(pool.for_each_range(0, 1, [&](std::size_t, std::size_t) { ++calls; }));
    EXPECT_EQ(calls, 0);
}

TEST(PoolTest, CallerAndEveryWorkerShareTheWork) {
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(3, &error);
    ASSERT_NE(pool, nullptr) << error;
    ASSERT_EQ(pool->thread_count(), 3u);
    const std::size_t participants = pool->thread_count() + 1;
    const std::size_t n = 1000;
    ASSERT_GE(pool->chunk_count(n, kParallel), participants);
    // Every chunk holds on until all participants (the caller and each
    // worker) have taken one, or a deadline passes. No participant can finish
    // the operation alone, however the threads are scheduled, so a caller
    // that only sleeps, or a worker that is never woken, fails here instead of
    // passing or failing by luck.
    const auto caller = std::this_thread::get_id();
    for (int round = 0; round < 2; ++round) {
        // Let the workers fall asleep first: the operation must wake them all.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Recorder rec;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        ASSERT_TRUE(pool->for_each_range(n, kParallel, [&](std::size_t b, std::size_t e) {
            rec.add(b, e);
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(rec.m);
                    if (rec.threads.size() >= participants) return;
                }
                if (std::chrono::steady_clock::now() > deadline) return;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }));
        EXPECT_EQ(rec.threads.count(caller), 1u) << "the caller took no chunk";
        EXPECT_EQ(rec.threads.size(), participants) << "some worker took no chunk";
    }
}

TEST(PoolTest, CallerTakesChunksFromTheFrontAndWorkersFromTheBack) {
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(2, &error);
    ASSERT_NE(pool, nullptr) << error;
    const auto caller = std::this_thread::get_id();
    std::mutex m;
    std::condition_variable joined;
    std::vector<std::size_t> mine, theirs;
    // Every chunk waits for a worker to join, then takes a millisecond, so both ends take several.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    ASSERT_TRUE(pool->for_each_range(1000, kParallel, [&](std::size_t b, std::size_t) {
        std::unique_lock<std::mutex> lock(m);
        (std::this_thread::get_id() == caller ? mine : theirs).push_back(b);
        joined.notify_all();
        joined.wait_until(lock, deadline, [&] { return !theirs.empty(); });
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }));
    ASSERT_TRUE(mine.size() >= 2 && theirs.size() >= 2);
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()) && mine.front() == 0);
    EXPECT_LT(*std::max_element(mine.begin(), mine.end()), *std::min_element(theirs.begin(), theirs.end()));
}

TEST(PoolTest, HelperCapLimitsTheThreadsOfOneOperation) {
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(3, &error, 1);
    ASSERT_NE(pool, nullptr) << error;
    ASSERT_EQ(pool->helpers_per_op(), 1u);
    const std::size_t n = 1000;
    ASSERT_GE(pool->chunk_count(n, kParallel), 4u);
    for (int round = 0; round < 20; ++round) {
        Recorder rec;
        // Slow chunks give every woken worker the chance to join.
        ASSERT_TRUE(pool->for_each_range(n, kParallel, [&](std::size_t b, std::size_t e) {
            rec.add(b, e);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }));
        EXPECT_LE(rec.threads.size(), 2u) << "more than the caller and one helper ran chunks";
    }
}

TEST(PoolTest, ProcessPoolLeavesACoreForTheCaller) {
    Pool* pool = Pool::instance();
    ASSERT_NE(pool, nullptr);
    const std::size_t threads = pool->thread_count();
    EXPECT_EQ(pool->helpers_per_op(), threads - 1);
    EXPECT_TRUE(pool->measured());
}

TEST(PoolTest, MeasuredPlansTakeTheFasterWayAndRetryTheOther) {
    using orvath::core::Tuning;
    Pool& pool = global_pool();
    if (pool.helpers_per_op() == 0) GTEST_SKIP() << "one processor: operations always run on the caller";
    const std::size_t n = std::size_t{1} << 16;
    // A try of a way: two runs of it, of which the second is timed.
    auto expect_try = [&](Tuning& t, bool split) {
        for (bool timed : {false, true}) {
            const Pool::Plan p = pool.plan(n, t);
            EXPECT_EQ(p.depth > 0, split);
            EXPECT_EQ(p.timed, timed);
        }
    };
    // The calls that take the faster way before the other one is tried.
    auto calls_to_try = [&](Tuning& t, bool split_faster) {
        std::uint32_t calls = 0;
        while ((pool.plan(n, t).depth > 0) == split_faster && calls < (1u << 24)) ++calls;
        EXPECT_EQ(pool.plan(n, t).depth > 0, !split_faster);  // the try's timed second
        return calls;
    };
    auto measure_both = [&](Tuning& t, double serial, double split) {
        expect_try(t, false);  // the class's serial time first; its first run is cold
        t.record(n, false, serial * n);
        expect_try(t, true);  // the first split run wakes the workers
        t.record(n, true, split * n);
    };
    Tuning t{1};  // a prior of 0.1 ns per element: 6.5 us, enough to be worth timing
    measure_both(t, 10.0, 4.0);
    EXPECT_EQ(t.serial_ns(16), 10.0f);
    EXPECT_EQ(t.split_ns(16), 4.0f);
    // The caller alone loses by 1.5 times the split time: tried 32 * 1.5 calls on.
    EXPECT_EQ(calls_to_try(t, true), 48u);
    t.record(n, false, 12.0 * n);  // lost again (10.5): twice the patience, 64 * 6.5 / 4
    EXPECT_EQ(t.serial_ns(16), 10.5f);
    EXPECT_EQ(calls_to_try(t, true), 104u);
    // The split mean, a slow run counted as twice the estimate: the fourth flips the choice.
    for (float mean : {6.0f, 8.0f, 10.0f, 12.0f}) {
        t.record(n, true, 400.0 * n);
        EXPECT_EQ(t.split_ns(16), mean);
    }
    EXPECT_EQ(calls_to_try(t, false), Tuning::kFewestBetweenTries);  // 32 * 1.5 / 10.5 calls
    t.record(n, true, 8.0 * n);  // a try that wins starts the mean afresh (10) and flips back
    EXPECT_EQ(calls_to_try(t, true), Tuning::kFewestBetweenTries);
    t.record(n, false, 1.0 * n);  // the caller alone's best counts at once
    EXPECT_EQ(t.serial_ns(16), 1.0f);
    // The mean, not the best: split runs of 6 and 30 ns in turn lose to 10 ns in four pairs.
    Tuning mixed{1};
    measure_both(mixed, 10.0, 6.0);
    int pairs = 0;
    for (; mixed.split_ns(16) <= mixed.serial_ns(16) && pairs < 100; ++pairs)
        for (double ns : {6.0, 30.0}) mixed.record(n, true, ns * n);
    EXPECT_EQ(pairs, 4);
    // A first split sample that lost narrowly is tried again soon; one that lost by far, late.
    Tuning narrow{1}, far{1}, brief{1};
    measure_both(narrow, 10.0, 10.5);
    EXPECT_EQ(calls_to_try(narrow, false), Tuning::kFewestBetweenTries);
    measure_both(far, 2.0, 100.0);
    EXPECT_EQ(calls_to_try(far, false), 32u * 49u);
    // Runs of 13 us: a split try wakes the workers with 100 us of untimed runs.
    expect_try(brief, false);
    brief.record(n, false, 0.2 * n);
    std::uint32_t untimed = 0;
    while (!pool.plan(n, brief).timed && untimed < 100) ++untimed;
    EXPECT_EQ(untimed, 8u);
    // Work that cannot repay a hand-off runs on the caller whatever was measured.
    t.record(64, false, 64 * 10.0);
    t.record(64, true, 64 * 1.0);
    EXPECT_EQ(pool.plan(64, t).depth, 0u);
}

TEST(PoolTest, BlocksUntilEveryChunkIsDone) {
    Pool& pool = global_pool();
    std::atomic<int> finished{0};
    const std::size_t n = 64;
    const std::size_t chunks = pool.chunk_count(n, kParallel);
    ASSERT_TRUE(pool.for_each_range(n, kParallel, [&](std::size_t b, std::size_t) {
        // The first chunk is fast, so the caller (which takes it) is done
        // early and must wait for the slow rest.
        if (b != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        finished.fetch_add(1);
    }));
    EXPECT_EQ(static_cast<std::size_t>(finished.load()), chunks);
}

TEST(PoolTest, ConcurrentSubmittersEachGetTheirOwnResult) {
    Pool& pool = global_pool();
    constexpr int kSubmitters = 4;
    constexpr int kRounds = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> submitters;
    for (int s = 0; s < kSubmitters; ++s) {
        submitters.emplace_back([&, s] {
            std::mt19937 rng(static_cast<unsigned>(s));
            for (int r = 0; r < kRounds; ++r) {
                const std::size_t n = 1 + rng() % 200'000;
                std::vector<std::uint64_t> out(n, 0);
                const std::uint64_t tag = static_cast<std::uint64_t>(s) << 40 | static_cast<std::uint64_t>(r) << 24;
                const bool ok = pool.for_each_range(n, 4, [&](std::size_t b, std::size_t e) {
                    for (std::size_t i = b; i < e; ++i) out[i] += tag | i;
                });
                if (!ok) failures.fetch_add(1);
                for (std::size_t i = 0; i < n; ++i) {
                    if (out[i] != (tag | i)) {
                        failures.fetch_add(1);
                        break;
                    }
                }
            }
        });
    }
    for (auto& t : submitters) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(PoolTest, SubmitterWaitsOnlyForItsOwnOperation) {
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(2, &error);
    ASSERT_NE(pool, nullptr) << error;
    // A long operation occupies the pool; a short one submitted meanwhile
    // completes long before the first is over.
    std::atomic<bool> release_long{false};
    std::atomic<bool> long_started{false};
    std::thread long_op([&] {
        const bool ok = pool->for_each_range(8, kParallel, [&](std::size_t, std::size_t) {
            long_started.store(true);
            while (!release_long.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        EXPECT_TRUE(ok);
    });
    while (!long_started.load()) std::this_thread::yield();
    // The short operation runs on its own thread so that a pool that makes it
    // wait for the long one fails this test instead of hanging it.
    std::vector<int> out(100'000, 0);
    std::atomic<bool> short_done{false};
    std::thread short_op([&] {
        const bool ok = pool->for_each_range(out.size(), kParallel, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i) out[i] = 7;
        });
        EXPECT_TRUE(ok);
        short_done.store(true);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!short_done.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool done_while_long_ran = short_done.load();
    release_long.store(true);
    long_op.join();
    short_op.join();
    EXPECT_TRUE(done_while_long_ran);
    EXPECT_EQ(std::count(out.begin(), out.end(), 7), static_cast<long>(out.size()));
}

// Nearest-element style search: (index, key), ties to the lower index.
struct Best {
    std::size_t index;
    int key;
};

Best min_combine(Best left, Best right) { return right.key < left.key ? right : left; }

TEST(PoolTest, OrderedReductionKeepsLowestIndexAcrossChunks) {
    Pool& pool = global_pool();
    const std::size_t n = 1 << 16;
    const std::size_t chunks = pool.chunk_count(n, kParallel);
    ASSERT_GE(chunks, 2u);
    unsigned depth = 0;
    while ((std::size_t{1} << depth) < chunks) ++depth;
    std::vector<int> keys(n, 50);
    // Equal minima at the end of chunk 0, the start of the last chunk and in
    // the middle of the last chunk; a larger value everywhere else.
    std::size_t b0, e0, bl, el;
    Pool::chunk_bounds(n, depth, 0, b0, e0);
    Pool::chunk_bounds(n, depth, chunks - 1, bl, el);
    keys[e0 - 1] = 3;
    keys[bl] = 3;
    keys[(bl + el) / 2] = 3;
    for (int round = 0; round < 20; ++round) {
        auto result = pool.reduce_ranges(
            n, kParallel, Best{n, 1 << 30},
            [&](std::size_t b, std::size_t e) {
                // Make the later chunks finish first.
                if (b == 0) std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
                Best best{b, keys[b]};
                for (std::size_t i = b + 1; i < e; ++i)
                    if (keys[i] < best.key) best = Best{i, keys[i]};
                return best;
            },
            min_combine);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->index, e0 - 1);
        EXPECT_EQ(result->key, 3);
    }
}

TEST(PoolTest, OrderedReductionCombinesLeftBeforeRight) {
    Pool& pool = global_pool();
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    for (std::size_t n : {2u, 3u, 10u, 1000u, 99'999u}) {
        auto result = pool.reduce_ranges(
            n, kParallel, Ranges{},
            [&](std::size_t b, std::size_t e) {
                if (b == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                return Ranges{{b, e}};
            },
            [](Ranges left, Ranges right) {
                left.insert(left.end(), right.begin(), right.end());
                return left;
            });
        ASSERT_TRUE(result.has_value());
        Ranges want;
        unsigned depth = 0;
        while ((std::size_t{1} << depth) < pool.chunk_count(n, kParallel)) ++depth;
        reference_split(0, n, depth, want);
        EXPECT_EQ(*result, want) << "n=" << n;  // unsorted: the fold order itself
    }
}

TEST(PoolTest, ReductionOfNothingIsIdentityAndSerialIsOneMap) {
    Pool& pool = global_pool();
    int maps = 0;
    auto empty = pool.reduce_ranges(
        0, kParallel, 42, [&](std::size_t, std::size_t) { return ++maps; }, [](int a, int b) { return a + b; });
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, 42);
    EXPECT_EQ(maps, 0);
    auto serial = pool.reduce_ranges(
        100, 1, -1000,
        [&](std::size_t b, std::size_t e) {
            ++maps;
            return static_cast<int>(e - b);
        },
        [](int a, int b) { return a + b; });
    ASSERT_TRUE(serial.has_value());
    EXPECT_EQ(*serial, 100);  // the identity is not folded in
    EXPECT_EQ(maps, 1);
}

TEST(PoolTest, ThrowingChunkReportsFailureAndPoolStaysUsable) {
    Pool& pool = global_pool();
    const std::size_t n = 100'000;
    std::atomic<std::size_t> calls{0};
    const bool ok = pool.for_each_range(n, kParallel, [&](std::size_t b, std::size_t) {
        calls.fetch_add(1);
        if (b == 0) throw std::runtime_error("internal fault");
    });
    EXPECT_FALSE(ok);
    EXPECT_LE(calls.load(), pool.chunk_count(n, kParallel));

    // Failure in the serial path too.
    EXPECT_FALSE(pool.for_each_range(10, 1, [](std::size_t, std::size_t) { throw 1; }));

    auto red = pool.reduce_ranges(
        n, kParallel, 0,
        [](std::size_t b, std::size_t e) -> int {
            if (e == 100'000) throw std::bad_alloc();
            return static_cast<int>(e - b);
        },
        [](int a, int b) { return a + b; });
    EXPECT_FALSE(red.has_value());

    // Later operations are unaffected.
    check_cover(pool, n, kParallel);
}

TEST(PoolTest, NestedSubmissionFromABodyDoesNotDeadlock) {
    Pool& pool = global_pool();
    const std::size_t outer = 64, inner = 1000;
    std::vector<std::atomic<int>> visits(outer * inner);
    ASSERT_TRUE(pool.for_each_range(outer, kParallel, [&](std::size_t b, std::size_t e) {
        for (std::size_t o = b; o < e; ++o) {
            const bool ok = pool.for_each_range(inner, kParallel, [&](std::size_t ib, std::size_t ie) {
                for (std::size_t i = ib; i < ie; ++i) visits[o * inner + i].fetch_add(1);
            });
            if (!ok) throw std::runtime_error("inner failed");
        }
    }));
    for (std::size_t i = 0; i < visits.size(); ++i) ASSERT_EQ(visits[i].load(), 1) << i;
}

TEST(PoolTest, ThreadStartFailureGivesTheMessage) {
    for (int fail_at : {0, 2}) {
        Pool::simulate_thread_start_failure(fail_at);
        std::string error;
        std::unique_ptr<Pool> pool = Pool::create(4, &error);
        Pool::simulate_thread_start_failure(-1);
        EXPECT_EQ(pool, nullptr);
        EXPECT_EQ(error.rfind("The global thread pool has not been initialized.", 0), 0u) << error;
        EXPECT_NE(error.find("worker thread " + std::to_string(fail_at + 1) + " of 4"), std::string::npos)
            << error;
    }
    // Nothing is left behind: the next creation works.
    std::string error;
    std::unique_ptr<Pool> pool = Pool::create(3, &error);
    ASSERT_NE(pool, nullptr) << error;
    EXPECT_EQ(pool->thread_count(), 3u);
    check_cover(*pool, 10'000, kParallel);
}

TEST(PoolTest, PrivatePoolsStartAndStopCleanly) {
    for (int i = 0; i < 20; ++i) {
        std::unique_ptr<Pool> pool = Pool::create(1 + i % 3);
        ASSERT_NE(pool, nullptr);
        if (i % 2) check_cover(*pool, 1000, kParallel);
    }
}

#if !defined(_WIN32)  // fork() and what the pool does around it
// Runs fn in a forked child and returns its exit status (or -1 if it had to be
// killed after timeout_s seconds). The child gets an alarm as a second guard.
int run_in_child(int timeout_s, int (*fn)()) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return -2;
    if (pid == 0) {
        alarm(static_cast<unsigned>(timeout_s));
        _exit(fn());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s + 5);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// In the child: a parallel operation with slow chunks, so that it cannot
// finish unless the child really has working worker threads or the caller
// does everything; it must cover every index and exit.
int child_parallel_op() {
    Pool* pool = Pool::instance();
    if (pool == nullptr) return 2;
    const std::size_t n = 200'000;
    std::vector<std::atomic<int>> visits(n);
    std::mutex m;
    std::set<std::thread::id> threads;
    const bool ok = pool->for_each_range(n, kParallel, [&](std::size_t b, std::size_t e) {
        {
            std::lock_guard<std::mutex> lock(m);
            threads.insert(std::this_thread::get_id());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (std::size_t i = b; i < e; ++i) visits[i].fetch_add(1);
    });
    if (!ok) return 3;
    for (std::size_t i = 0; i < n; ++i)
        if (visits[i].load() != 1) return 4;
    // The fresh pool's workers took part, not just the caller.
    if (threads.size() < 2) return 5;
    return 0;
}

TEST(PoolFork, ChildStartsAFreshPool) {
    Pool& pool = global_pool();
    // Make sure the parent's workers are up and have run something.
    check_cover(pool, 100'000, kParallel);
    EXPECT_EQ(run_in_child(20, child_parallel_op), 0);
    // A fork while another thread is in the middle of operations.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load()) {
            std::vector<int> out(50'000);
            const bool ok = pool.for_each_range(out.size(), kParallel, [&](std::size_t b, std::size_t e) {
                for (std::size_t i = b; i < e; ++i) out[i] = 1;
            });
            EXPECT_TRUE(ok);
        }
    });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(run_in_child(20, child_parallel_op), 0);
    stop.store(true);
    busy.join();
    // The parent's pool is untouched.
    EXPECT_EQ(Pool::instance(), &pool);
    check_cover(pool, 100'000, kParallel);
}

int child_start_failure() {
    Pool::simulate_thread_start_failure(0);
    std::string error;
    if (Pool::instance(&error) != nullptr) return 2;
    if (error.rfind("The global thread pool has not been initialized.", 0) != 0) return 3;
    Pool::simulate_thread_start_failure(-1);
    // The failure is not sticky: the next call starts the pool.
    return child_parallel_op();
}

TEST(PoolFork, InstanceReportsThreadStartFailure) {
    global_pool();  // the parent's pool exists; the child must start its own
    EXPECT_EQ(run_in_child(20, child_start_failure), 0);
}

int child_env_thread_count() {
    setenv("ORVATH_NUM_THREADS", "3", 1);
    Pool* pool = Pool::instance();
    if (pool == nullptr) return 2;
    if (pool->thread_count() != 3) return 3;
    return 0;
}

int child_env_invalid_thread_count() {
    setenv("ORVATH_NUM_THREADS", "0", 1);
    Pool* pool = Pool::instance();
    if (pool == nullptr) return 2;
    if (pool->thread_count() < 1) return 3;
    return 0;
}

TEST(PoolFork, ThreadCountOverride) {
    global_pool();
    EXPECT_EQ(run_in_child(20, child_env_thread_count), 0);
    EXPECT_EQ(run_in_child(20, child_env_invalid_thread_count), 0);
}
#endif

}  // namespace
