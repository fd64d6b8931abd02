// The process-wide worker pool that runs VecList bulk operations.
//
// A bulk operation is a blocking parallel-for over an index range [0, n). The
// range is cut recursively at its midpoint (floor of half its length, the left
// half taking the lower indices) into a power-of-two number of chunks. The
// calling thread takes chunks in index order from the front of the range, the
// workers from its back, each simply taking the next chunk until none is left.
// So in a loop of operations over the same lists each core keeps working on
// the same part of them, which stays in its own cache, rather than fetching
// from the other core's cache lines it wrote in the previous operation. An
// operation that is too small to repay waking other threads runs entirely on
// the caller.
//
// How an operation is cut (its Plan) is decided once, before it runs: from a
// fixed cost per element, or, for the process-wide pool, from what earlier
// operations of the same kind took on this machine (Tuning). Either way the
// plan only decides who computes which elements, never what they compute.
//
// Nothing here knows about Python: workers only ever call the body they are
// given, and the body only touches plain memory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvath::core {

// What the process-wide pool has measured of one kind of operation, by size
// class (floor of log2 of the element count): the best recent time per
// element run on the caller alone and the mean recent time run split. The plan of an operation of
// that kind picks the faster of the two, and now and then tries the other one
// again, so that the choice follows the machine it runs on, and the load on
// it, rather than constants. A try of the slower way costs about the
// difference of the two times, so tries are spaced to spend a fixed share of
// the time on them: a way that lost narrowly is tried again after a few calls
// (one unlucky first sample does not stick), one that lost by far only after
// many, and the share halves each time a try loses again.
// An operation whose serial time is too short to repay any hand-off is never
// split. Until a class has been timed, the latest timing of another (or the
// prior cost, in the pool's units) stands in for it. A try of either way
// times an operation only after the ones that wake the workers, or bring the
// data back from the other cores' caches, and the first run of a class is not
// timed.
class Tuning {
public:
    explicit constexpr Tuning(std::size_t prior_cost) noexcept : prior_cost_(prior_cost) {}
    Tuning(const Tuning&) = delete;
    Tuning& operator=(const Tuning&) = delete;

    std::size_t prior_cost() const noexcept { return prior_cost_; }

    // Per-element nanoseconds of size class c on the caller alone / split;
    // 0 while not measured.
    float serial_ns(unsigned c) const noexcept { return classes_[c].serial.load(std::memory_order_relaxed); }
    float split_ns(unsigned c) const noexcept { return classes_[c].split.load(std::memory_order_relaxed); }

    // Takes in one timing of n elements: `split` tells which way it ran.
    void record(std::size_t n, bool split, double ns) noexcept;

    static constexpr unsigned kClasses = 64;
    // The calls between two tries of the slower way are `patience` times the
    // slower way's extra time over the faster one's, and at least
    // kFewestBetweenTries: a try costs about 1/patience of the time between
    // tries. Patience starts at kFirstPatience, doubles each time a try loses
    // again up to kLastPatience, and starts over when the choice flips.
    static constexpr std::uint32_t kFirstPatience = 32, kLastPatience = 1024;
    // The split estimate is the mean of about this many recent runs (see record).
    static constexpr std::uint32_t kSplitRuns = 8;
    static constexpr std::uint32_t kFewestBetweenTries = 4, kMostBetweenTries = std::uint32_t{1} << 20;
    // A try runs the way tried until it runs as it would in a row, and times
    // the run after that. The caller alone: one run (it brings the data back
    // from the other cores' caches). Split: runs of kWakeNs of work in all
    // (waking a sleeping worker takes some 50 to 100 us on a virtual
    // machine), at least one and at most kMostWakeRuns.
    static constexpr double kWakeNs = 100000.0;
    static constexpr std::uint32_t kMostWakeRuns = 16;
    static std::uint32_t wake_runs(double work_ns) noexcept;
    // The calls from a try (or the first measurement of both ways) to the
    // next try, for the per-element times of the two ways and n elements: a
    // split try that loses costs its wake runs as well.
    static std::uint32_t calls_between_tries(float serial, float split, std::uint32_t patience,
                                             std::size_t n) noexcept;

private:
    friend class Pool;
    struct Class {
        std::atomic<float> serial{0.0f};
        std::atomic<float> split{0.0f};
        std::atomic<std::uint32_t> calls{0};
        std::atomic<std::uint32_t> patience{kFirstPatience};
        std::atomic<std::uint32_t> next_try{0};  // the call that tries the slower way
        std::atomic<std::uint32_t> split_runs{0};  // split timings so far, up to kSplitRuns
        // The runs left in a try: 0 none; -1 the caller alone's timed run;
        // k > 0 split runs, the last of them timed.
        std::atomic<std::int32_t> try_left{0};
    };
    // Per-element nanoseconds on the caller alone for a class not timed yet:
    // the latest serial timing of any class, else the prior cost.
    double serial_estimate() const noexcept;

    std::size_t prior_cost_;
    std::atomic<float> last_serial_{0.0f};
    Class classes_[kClasses];
};

class Pool {
public:
    // Work estimate units for cost_per_item: one unit is about a tenth of a
    // nanosecond of work per element (the streaming add of a constant vector
    // takes about 6). The bulk operations' values are in core/bulk.hpp.
    //
    // Whether an operation of n * cost_per_item units is split (in a plan from
    // fixed costs; a Tuning's plans are in nanoseconds, below) depends on what
    // a hand-off costs, measured on a 2-core virtual machine: a worker that is
    // awake (still spinning after recent work) joins within 2 to 5 us, so an
    // operation pays off from about 8 us of work; a sleeping worker must be
    // woken, which costs the submitter tens of microseconds and the worker
    // about 50 us to start, so then only an operation of some 200 us does.
    //  - below kAwakeCutoff an operation runs on the calling thread;
    //  - from kSerialCutoff on it is always split;
    //  - in between it is split when a worker is awake, or when operations of
    //    that size come in quick succession (within kWorkerSpin of each other:
    //    the one that finds the workers asleep wakes one, and those after it
    //    find that worker spinning).
    static constexpr std::size_t kAwakeCutoff = std::size_t{1} << 16;
    static constexpr std::size_t kSerialCutoff = std::size_t{1} << 21;
    // How long a worker spins for new work after its last chunk before it
    // sleeps; also the window in which mid-size operations count as a run.
    static constexpr std::chrono::microseconds kWorkerSpin{200};
    // No chunk is made smaller than this, so that a barely-parallel operation
    // is not cut into slivers whose hand-out costs more than their work.
    static constexpr std::size_t kMinChunkCost = std::size_t{1} << 15;
    // At most 2^kMaxDepth chunks per operation; bounds the per-operation
    // result storage of reduce_ranges, which lives on the caller's stack.
    static constexpr unsigned kMaxDepth = 8;
    static constexpr std::size_t kMaxChunks = std::size_t{1} << kMaxDepth;

    // The measured decision (Tuning): below kMinSplitNs of serial work an
    // operation always runs on the caller, and no chunk is planned shorter
    // than kMinChunkNs. Serial runs from kMinTimedNs on are timed (one in
    // kTimedEvery below kMinSplitNs), so that the classes learn their cost.
    static constexpr double kMinSplitNs = 6000.0, kMinChunkNs = 2500.0, kMinTimedNs = 1500.0;
    static constexpr std::uint32_t kTimedEvery = 8;

    // How one operation is cut, decided before it runs.
    struct Plan {
        std::size_t n = 0;
        unsigned depth = 0;      // 2^depth chunks; 0: the caller runs it alone
        bool mid_size = false;   // between the cutoffs (see above)
        bool timed = false;      // its time goes to the Tuning it was planned from
        std::size_t chunks() const noexcept { return std::size_t{1} << depth; }
    };

    // Message prefix when the pool cannot be started.
    static constexpr const char* kNotInitialized = "The global thread pool has not been initialized.";

    // The process-wide pool, started on the first call with one worker per
    // logical processor available to the process (platform::usable_processors:
    // the affinity mask on Linux and Windows). The environment variable
    // ORVATH_NUM_THREADS, read once when the pool is created, overrides that
    // count with a positive integer (at most 1024; anything else is ignored).
    //
    // The pool is never destroyed: its workers sleep until the process ends and
    // are never joined, so exit cannot hang on them, and the object they use is
    // deliberately leaked so that nothing they touch is destroyed at exit.
    //
    // Returns nullptr, and writes a message starting with kNotInitialized to
    // *error (if error is not null), when a worker thread cannot be started;
    // the next call tries again. In the child of a fork() the parent's workers
    // do not exist, so the child's next call starts a fresh pool.
    static Pool* instance(std::string* error = nullptr) noexcept;

    // A private pool with exactly `threads` workers (at least 1), joined on
    // destruction. Used by tests and by the singleton's own start-up; the
    // failure report is the same as instance()'s.
    //
    // `helpers_per_op` caps how many workers join one operation besides its
    // caller (0: all of them). The process-wide pool has one worker per
    // logical processor and lets one operation use all but one: the caller
    // works too, and a third thread on two cores only gets descheduled in the
    // middle of a chunk that everybody then waits for. The spare workers serve
    // other submitters.
    static std::unique_ptr<Pool> create(std::size_t threads, std::string* error = nullptr,
                                        std::size_t helpers_per_op = 0) noexcept;

    // The most workers that join one operation; 0 when operations always run
    // on their caller (a process pool of one thread).
    std::size_t helpers_per_op() const noexcept { return helpers_per_op_; }

    // Whether plans from a Tuning follow its measurements (the process-wide
    // pool) or its prior cost (private pools, whose tests want the fixed rules).
    bool measured() const noexcept { return measured_; }

    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Number of worker threads (the calling thread of an operation comes on top).
    std::size_t thread_count() const noexcept { return threads_.size(); }

    // The plan of an operation of n items at cost_per_item units each (a cost
    // of 0 counts as 1), and its number of chunks: 1 means it runs on the
    // caller alone. Neither changes any state.
    Plan plan(std::size_t n, std::size_t cost_per_item) const noexcept;
    std::size_t chunk_count(std::size_t n, std::size_t cost_per_item) const noexcept {
        return plan(n, cost_per_item).chunks();
    }
    // The plan from what `tuning` has measured (its prior cost on a private
    // pool); counts the call in `tuning`, whose tries of the slower way are
    // spaced in calls.
    Plan plan(std::size_t n, Tuning& tuning) const noexcept;

    // Calls body(begin, end) for disjoint half-open sub-ranges covering [0, n)
    // exactly once (never with an empty range; not at all when n is 0). Each
    // call is meant to process its range in ascending order on the thread it
    // runs on. Blocks until every sub-range is done; the caller works on the
    // operation too. Body calls may run concurrently with each other.
    //
    // Returns false if a body call threw: the remaining chunks are skipped, the
    // call still waits for the chunks already running, and the caller should
    // discard whatever was written.
    template <class F>
    [[nodiscard]] bool for_each_range(const Plan& plan, F&& body) noexcept {
        using Body = std::remove_reference_t<F>;
        ChunkFn fn{const_cast<void*>(static_cast<const void*>(std::addressof(body))),
                   [](void* ctx, std::size_t, std::size_t b, std::size_t e) {
                       (*static_cast<Body*>(ctx))(b, e);
                   }};
        return execute(plan, fn);
    }
    template <class F>
    [[nodiscard]] bool for_each_range(std::size_t n, std::size_t cost_per_item, F&& body) noexcept {
        return for_each_range(plan(n, cost_per_item), body);
    }

    // Ordered reduction: map(begin, end) -> T on each chunk, then the chunk
    // results are folded with combine(left, right) strictly in index order on
    // the calling thread, however the chunks were timed. `identity` is the
    // result for n == 0; for n > 0 the fold starts from the first chunk's result
    // and identity is not used. Returns std::nullopt if a map call threw.
    //
    // Chunk boundaries depend on the thread count, so map and combine must be
    // such that the grouping does not change the result (e.g. a minimum that
    // keeps the left operand on ties).
    template <class T, class Map, class Combine>
    [[nodiscard]] std::optional<T> reduce_ranges(const Plan& plan, T identity, Map&& map,
                                                 Combine&& combine) noexcept {
        try {
            if (plan.n == 0) return std::optional<T>(std::move(identity));
            const std::size_t chunks = plan.chunks();
            // Per-chunk slots in the caller's frame: chunks <= kMaxChunks.
            std::optional<T> parts[kMaxChunks];
            struct Ctx {
                std::remove_reference_t<Map>* map;
                std::optional<T>* parts;
            } ctx{std::addressof(map), parts};
            ChunkFn fn{&ctx, [](void* c, std::size_t chunk, std::size_t b, std::size_t e) {
                           Ctx& x = *static_cast<Ctx*>(c);
                           x.parts[chunk].emplace((*x.map)(b, e));
                       }};
            if (!execute(plan, fn)) return std::nullopt;
            std::optional<T> acc(std::move(*parts[0]));
            for (std::size_t i = 1; i < chunks; ++i) acc.emplace(combine(std::move(*acc), std::move(*parts[i])));
            return acc;
        } catch (...) {
            return std::nullopt;
        }
    }
    template <class T, class Map, class Combine>
    [[nodiscard]] std::optional<T> reduce_ranges(std::size_t n, std::size_t cost_per_item, T identity,
                                                 Map&& map, Combine&& combine) noexcept {
        return reduce_ranges(plan(n, cost_per_item), std::move(identity), map, combine);
    }

    // Runs work(plan) and, when the plan asks for it, tells `tuning` how long
    // it took. Returns what work returned.
    template <class Work>
    static bool timed(const Plan& plan, Tuning& tuning, Work&& work) noexcept {
        if (!plan.timed) return work(plan);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = work(plan);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        if (ok) tuning.record(plan.n, plan.depth > 0, took.count());
        return ok;
    }

    // Half-open range of chunk k when [0, n) is halved `depth` times: bit
    // (depth - 1 - level) of k picks the right half at that level. Exposed for
    // tests.
    static void chunk_bounds(std::size_t n, unsigned depth, std::size_t k, std::size_t& begin,
                             std::size_t& end) noexcept {
        std::size_t lo = 0, hi = n;
        for (unsigned level = depth; level-- > 0;) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if ((k >> level) & 1u)
                lo = mid;
            else
                hi = mid;
        }
        begin = lo;
        end = hi;
    }

    // Test seam: when set to k >= 0, the next pool creation behaves as if the
    // system refused to start worker number k (std::system_error with
    // EAGAIN, as std::thread reports when out of threads); workers 0..k-1 are
    // really started and must be cleaned up. Reset to -1 after use.
    static void simulate_thread_start_failure(int worker_index) noexcept;

private:
    // A cheap non-owning function reference: no allocation per operation.
    struct ChunkFn {
        void* ctx;
        void (*call)(void* ctx, std::size_t chunk, std::size_t begin, std::size_t end);
    };

    // One submitted operation. It lives in the submitting thread's frame; the
    // protocol in pool.cpp guarantees nobody touches it once run() returns.
    struct Op {
        ChunkFn fn;
        std::size_t n;
        unsigned depth;
        std::size_t chunks;
        // The chunks not handed out yet, [front, back): front in the low 32
        // bits, back in the high 32 (claim).
        std::atomic<std::uint64_t> ends{0};
        // Chunks not yet finished; whoever takes it to 0 completes the op.
        std::atomic<std::size_t> remaining{0};
        std::atomic<bool> failed{false};
        // Unique per operation: a worker remembers the id of the operation it
        // counted itself a helper of (an address could come back with a later
        // operation in the same frame).
        std::uint64_t id = 0;
        // Workers that have joined, changed only under mutex_; and its cap.
        std::size_t helpers = 0;
        std::size_t max_helpers = 0;
        // kRunning -> kCallerAsleep (by the caller) -> kDone (by the finisher).
        std::atomic<std::uint32_t> state{0};
        // Links in the pool's queue of operations with chunks left to hand
        // out, changed only under mutex_. `queued` turns false as the very
        // last write of the unlinking, so the caller may read it without the
        // mutex to learn that nobody will touch the links again.
        Op* prev = nullptr;
        Op* next_op = nullptr;
        std::atomic<bool> queued{false};
    };
    static constexpr std::uint32_t kRunning = 0, kCallerAsleep = 1, kDone = 2;

    Pool() = default;

    unsigned split_depth(std::size_t n, std::size_t max_depth) const noexcept;
    bool workers_ready() const noexcept;
    // The one place an operation starts: on the caller alone for a plan of
    // depth 0, otherwise queued for the workers (run).
    bool execute(const Plan& plan, ChunkFn fn) noexcept;
    bool run(std::size_t n, unsigned depth, ChunkFn fn) noexcept;
    void run_chunk(Op& op, std::size_t k) noexcept;
    // The next chunk from the front (the caller) or the back (a worker) of
    // what is left of op; op.chunks when nothing is. `left` gets the chunks
    // still left after this claim.
    static std::size_t claim(Op& op, bool from_back, std::size_t* left = nullptr) noexcept;
    void work_on(Op& op, std::size_t k, bool from_back) noexcept;
    void finish(Op& op) noexcept;
    void unlink(Op& op) noexcept;
    void lock_queue() noexcept;
    void wake_one_worker() noexcept;
    void worker_main() noexcept;
    bool start_workers(std::size_t count, std::string* error) noexcept;
    void stop_workers() noexcept;

    // Guards the op queue only; every critical section is a few pointer
    // updates, so it is taken by spinning on try_lock before blocking.
    std::mutex mutex_;
    Op* head_ = nullptr;  // FIFO of ops with chunks to hand out
    Op* tail_ = nullptr;
    // Workers sleep on wake_seq_, which moves on every submission (and on
    // stop); sleepers_ lets a submitter skip the wake-up call when nobody
    // sleeps. Sleeping is kept off mutex_ so a woken worker never has to
    // fight the submitter for it.
    std::atomic<std::uint32_t> wake_seq_{0};
    std::atomic<std::uint32_t> sleepers_{0};
    std::atomic<std::uint32_t> spinners_{0};  // workers spinning for new work
    // Submitters sleep on done_seq_, which moves whenever an op whose
    // submitter is asleep completes.
    std::atomic<std::uint32_t> done_seq_{0};
    std::atomic<bool> stop_{false};  // only for private pools being destroyed
    std::vector<std::thread> threads_;
    std::size_t helpers_per_op_ = 0;
    bool measured_ = false;
    std::atomic<std::uint64_t> next_op_id_{1};
    // When a mid-size operation last started (steady clock ticks), for
    // telling a run of them from an isolated one.
    std::atomic<std::int64_t> last_mid_size_{0};
};

}  // namespace orvath::core
