#include "core/pool.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "core/platform.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace orvath::core {

namespace {

// The singleton. Written under g_create_mutex (and by the fork child handler),
// read lock-free on every bulk operation.
std::atomic<Pool*> g_pool{nullptr};
std::mutex g_create_mutex;
bool g_atfork_registered = false;

std::atomic<int> g_fail_thread_start_at{-1};

// Set on pool workers. A body that itself submits work to a pool from a worker
// runs that work inline: the worker already is one of the pool's hands, and
// waiting on other workers from inside a worker is how nested pools deadlock.
thread_local bool t_is_worker = false;

constexpr std::size_t kMaxThreads = 1024;

// How long a submitter spins for the last running chunks before sleeping.
constexpr std::chrono::microseconds kCallerSpin{10};

inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield" ::: "memory");
#endif
}

unsigned floor_log2(std::size_t v) noexcept {  // v >= 1
    return static_cast<unsigned>(sizeof(std::size_t) * 8 - 1) - static_cast<unsigned>(__builtin_clzll(v));
}

unsigned ceil_log2(std::size_t v) noexcept {  // v >= 1
    return v <= 1 ? 0u : floor_log2(v - 1) + 1;
}

std::size_t default_thread_count() noexcept {
    // ORVATH_NUM_THREADS overrides the processor count (read once, at creation).
    if (const char* env = std::getenv("ORVATH_NUM_THREADS")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(env, &end, 10);
        if (errno == 0 && end != env && *end == '\0' && v >= 1 && v <= kMaxThreads)
            return static_cast<std::size_t>(v);
    }
    // Logical processors this process may run on (on Linux its affinity mask,
    // which respects taskset and container CPU sets).
    if (const std::size_t c = platform::usable_processors(); c >= 1) return c < kMaxThreads ? c : kMaxThreads;
    const unsigned hc = std::thread::hardware_concurrency();
    if (hc == 0) return 1;
    return hc < kMaxThreads ? hc : kMaxThreads;
}

// fork() from a process whose pool runs leaves the child with the forking
// thread only. The prepare/parent pair keeps a pool creation from being cut in
// half by the fork; the child forgets the parent's pool (leaking it: its
// mutexes may be held by threads that no longer exist, so it must not be
// touched), and its next instance() starts a fresh one.
void atfork_prepare() noexcept { g_create_mutex.lock(); }
void atfork_parent() noexcept { g_create_mutex.unlock(); }
void atfork_child() noexcept {
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_create_mutex.unlock();
}

void set_error(std::string* error, const char* detail) noexcept {
    if (error == nullptr) return;
    try {
        *error = Pool::kNotInitialized;
        *error += ' ';
        *error += detail;
    } catch (...) {
        // Out of memory while reporting: leave what fits.
    }
}

}  // namespace

void Pool::simulate_thread_start_failure(int worker_index) noexcept {
    g_fail_thread_start_at.store(worker_index, std::memory_order_relaxed);
}

Pool* Pool::instance(std::string* error) noexcept {
    if (Pool* p = g_pool.load(std::memory_order_acquire)) return p;
    try {
        std::lock_guard<std::mutex> lock(g_create_mutex);
        if (Pool* p = g_pool.load(std::memory_order_acquire)) return p;
        if (!g_atfork_registered) {
            if (!platform::on_fork(atfork_prepare, atfork_parent, atfork_child)) {
                set_error(error, "Could not register the fork handlers.");
                return nullptr;
            }
            g_atfork_registered = true;
        }
        const std::size_t threads = default_thread_count();
        std::unique_ptr<Pool> created = create(threads, error, threads > 1 ? threads - 1 : 1);
        if (!created) return nullptr;
        // One thread means one: the caller alone computes, and the worker
        // only exists to be counted.
        created->helpers_per_op_ = threads - 1;
        created->measured_ = true;
        // Deliberately leaked: see instance() in the header.
        Pool* p = created.release();
        g_pool.store(p, std::memory_order_release);
        return p;
    } catch (...) {
        set_error(error, "Unexpected failure while creating it.");
        return nullptr;
    }
}

std::unique_ptr<Pool> Pool::create(std::size_t threads, std::string* error,
                                   std::size_t helpers_per_op) noexcept {
    if (threads < 1) threads = 1;
    if (threads > kMaxThreads) threads = kMaxThreads;
    std::unique_ptr<Pool> pool;
    try {
        pool.reset(new Pool());
    } catch (...) {
        set_error(error, "Out of memory.");
        return nullptr;
    }
    pool->helpers_per_op_ = helpers_per_op == 0 || helpers_per_op > threads ? threads : helpers_per_op;
    if (!pool->start_workers(threads, error)) return nullptr;
    return pool;
}

bool Pool::start_workers(std::size_t count, std::string* error) noexcept {
    // Workers block every asynchronous signal so that signals keep going to the
    // threads that expect them (the interpreter's main thread above all). A new
    // thread inherits the creating thread's mask, so block around the starts.
    // Faults stay unblocked: a crash in a worker must reach the process's
    // handlers (such as a fault dumper) rather than kill it silently.
    const bool masked = platform::block_async_signals();
    bool ok = true;
    try {
        threads_.reserve(count);
        const int fail_at = g_fail_thread_start_at.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < count; ++i) {
            if (fail_at >= 0 && static_cast<std::size_t>(fail_at) == i)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                        "simulated thread start failure");
            threads_.emplace_back([this] { worker_main(); });
        }
    } catch (const std::system_error& e) {
        ok = false;
        std::string detail;
        try {
            detail = "Failed to start worker thread " + std::to_string(threads_.size() + 1) + " of " +
                     std::to_string(count) + ": " + e.code().message() + ".";
        } catch (...) {
        }
        set_error(error, detail.empty() ? "Failed to start a worker thread." : detail.c_str());
    } catch (...) {
        ok = false;
        set_error(error, "Out of memory while starting the worker threads.");
    }
    if (masked) platform::restore_signals();
    if (!ok) stop_workers();
    return ok;
}

void Pool::stop_workers() noexcept {
    stop_.store(true, std::memory_order_seq_cst);
    wake_seq_.fetch_add(1, std::memory_order_seq_cst);
    wake_seq_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
    threads_.clear();
}

Pool::~Pool() { stop_workers(); }

unsigned Pool::split_depth(std::size_t n, std::size_t max_depth) const noexcept {
    // About four chunks per participant (the helpers an operation may have
    // plus the caller): enough slack that a participant that starts late or is
    // preempted (virtual machines lose their processors for tens of
    // microseconds at a time) leaves no long tail.
    std::size_t depth = ceil_log2(4 * (helpers_per_op_ + 1));
    // Every halving must split a range of at least 2 elements: with depth <=
    // floor(log2 n) each leaf keeps at least one element.
    depth = std::min<std::size_t>(depth, floor_log2(n));
    depth = std::min<std::size_t>(depth, max_depth);
    return static_cast<unsigned>(std::min<std::size_t>(depth, kMaxDepth));
}

Pool::Plan Pool::plan(std::size_t n, std::size_t cost_per_item) const noexcept {
    Plan plan;
    plan.n = n;
    if (n < 2 || t_is_worker || helpers_per_op_ == 0) return plan;
    if (cost_per_item == 0) cost_per_item = 1;
    const std::size_t total =
        n > static_cast<std::size_t>(-1) / cost_per_item ? static_cast<std::size_t>(-1) : n * cost_per_item;
    if (total < kAwakeCutoff) return plan;
    if (total < kSerialCutoff) {
        plan.mid_size = true;
        if (!workers_ready()) return plan;
    }
    plan.depth = split_depth(n, floor_log2(total / kMinChunkCost));
    return plan;
}

Pool::Plan Pool::plan(std::size_t n, Tuning& tuning) const noexcept {
    if (!measured_) return plan(n, tuning.prior_cost());
    Plan plan;
    plan.n = n;
    if (n < 2 || t_is_worker || helpers_per_op_ == 0) return plan;
    const unsigned c = floor_log2(n);
    Tuning::Class& k = tuning.classes_[c];
    const float serial = k.serial.load(std::memory_order_relaxed);
    const double work = (serial > 0.0f ? serial : tuning.serial_estimate()) * static_cast<double>(n);
    if (work < kMinTimedNs) return plan;  // neither timed nor split: not even counted
    const std::uint32_t call = k.calls.fetch_add(1, std::memory_order_relaxed);
    if (work < kMinSplitNs) {
        // Not the class's first run, which pays for cold caches.
        plan.timed = call % kTimedEvery == 1;
        return plan;
    }
    plan.timed = true;
    if (serial == 0.0f) {  // the class's first runs are on the caller; the first is cold
        plan.timed = call != 0;
        return plan;
    }
    const float split = k.split.load(std::memory_order_relaxed);
    bool use_split;
    if (const std::int32_t left = k.try_left.load(std::memory_order_relaxed); left != 0) {
        k.try_left.store(left > 1 ? left - 1 : 0, std::memory_order_relaxed);
        use_split = left > 0;
        plan.timed = left <= 1;
    } else {
        // Calls are counted modulo 2^32: the signed difference orders them.
        const bool retry =
            split != 0.0f && static_cast<std::int32_t>(call - k.next_try.load(std::memory_order_relaxed)) >= 0;
        if (retry)
            k.next_try.store(call + Tuning::calls_between_tries(serial, split,
                                                                k.patience.load(std::memory_order_relaxed), n),
                             std::memory_order_relaxed);
        use_split = (split == 0.0f || split < serial) != retry;
        // A try of one way after runs of the other finds the workers asleep,
        // or the caches of the other core holding the data: it pays for what
        // a run of the same way does not, and is not timed.
        if (split == 0.0f || retry) {
            k.try_left.store(use_split ? static_cast<std::int32_t>(Tuning::wake_runs(work)) : -1,
                             std::memory_order_relaxed);
            plan.timed = false;
        }
    }
    if (use_split) plan.depth = split_depth(n, floor_log2(static_cast<std::size_t>(work / kMinChunkNs)));
    return plan;
}

void Tuning::record(std::size_t n, bool split, double ns) noexcept {
    if (n == 0) return;
    Class& k = classes_[floor_log2(n)];
    std::atomic<float>& slot = split ? k.split : k.serial;
    const float per = static_cast<float>(ns / static_cast<double>(n));
    // The caller alone varies little but for a first run in cold caches, so
    // its estimate is the best recent time: a faster run counts at once, a
    // slower one a quarter. A split run's time varies with how soon the
    // workers join, so its estimate is the mean: of the runs so far while
    // there are fewer than kSplitRuns, then of about the last kSplitRuns
    // (and a try starts it afresh, below).
    // Either way a slower run counts as at most twice the estimate, so that
    // one preempted run (a stall of a scheduler time slice), or one that had
    // to wake the workers, cannot flip the choice, while a machine that stays
    // busier moves it within a few runs.
    const float old = slot.load(std::memory_order_relaxed);
    const float other = (split ? k.serial : k.split).load(std::memory_order_relaxed);
    float now = per;
    if (old != 0.0f) {
        const float counted = std::min(per, 2 * old);
        if (!split) {
            now = per < old ? per : old + (counted - old) / 4;
        } else {
            // A split run while the caller alone is the faster way is a try,
            // timed after the workers woke: it starts the mean afresh from
            // the estimate and itself, so that a try that wins flips the
            // choice back at once.
            std::uint32_t runs = k.split_runs.load(std::memory_order_relaxed) + 1;
            if (other != 0.0f && old > other) runs = 2;
            runs = std::min(runs, kSplitRuns);
            k.split_runs.store(runs, std::memory_order_relaxed);
            now = old + (counted - old) / static_cast<float>(runs);
        }
    } else if (split) {
        k.split_runs.store(1, std::memory_order_relaxed);
    }
    slot.store(now, std::memory_order_relaxed);
    if (!split) last_serial_.store(per, std::memory_order_relaxed);
    if (other == 0.0f) return;
    std::uint32_t patience = k.patience.load(std::memory_order_relaxed);
    if (old == 0.0f) {
        // Both ways are measured for the first time: schedule the first try.
    } else if ((old < other) != (now < other)) {
        patience = kFirstPatience;  // the choice flipped
    } else if (!(now < other)) {
        // The slower way was tried again and lost again: try it less often.
        patience = patience < kLastPatience ? 2 * patience : kLastPatience;
    } else {
        return;  // the faster way ran, and stays the faster
    }
    k.patience.store(patience, std::memory_order_relaxed);
    const float serial = split ? other : now, split_ns = split ? now : other;
    k.next_try.store(k.calls.load(std::memory_order_relaxed) + calls_between_tries(serial, split_ns, patience, n),
                     std::memory_order_relaxed);
}

std::uint32_t Tuning::wake_runs(double work_ns) noexcept {
    const double runs = std::ceil(kWakeNs / work_ns);
    return runs < kMostWakeRuns ? static_cast<std::uint32_t>(std::max(runs, 1.0)) : kMostWakeRuns;
}

std::uint32_t Tuning::calls_between_tries(float serial, float split, std::uint32_t patience, std::size_t n) noexcept {
    const double fast = serial < split ? serial : split, slow = serial < split ? split : serial;
    const double runs = split > serial ? wake_runs(static_cast<double>(serial) * static_cast<double>(n)) : 1.0;
    const double calls = static_cast<double>(patience) * runs * (slow - fast) / fast;
    if (!(calls > kFewestBetweenTries)) return kFewestBetweenTries;  // also a NaN
    return calls < kMostBetweenTries ? static_cast<std::uint32_t>(calls) : kMostBetweenTries;
}

double Tuning::serial_estimate() const noexcept {
    const float last = last_serial_.load(std::memory_order_relaxed);
    return last > 0.0f ? last : 0.1 * static_cast<double>(prior_cost_);  // the units are tenths of a nanosecond
}

bool Pool::workers_ready() const noexcept {
    if (sleepers_.load(std::memory_order_relaxed) < threads_.size()) return true;
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto window = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kWorkerSpin).count();
    return now - last_mid_size_.load(std::memory_order_relaxed) < window;
}

bool Pool::execute(const Plan& plan, ChunkFn fn) noexcept {
    if (plan.mid_size)
        last_mid_size_.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    if (plan.n == 0) return true;
    if (plan.depth == 0) {
        try {
            fn.call(fn.ctx, 0, 0, plan.n);
            return true;
        } catch (...) {
            return false;
        }
    }
    return run(plan.n, plan.depth, fn);
}

void Pool::run_chunk(Op& op, std::size_t k) noexcept {
    // After a failure the rest of the operation is skipped but still counted,
    // so the caller's wait ends normally.
    if (op.failed.load(std::memory_order_relaxed)) return;
    std::size_t b, e;
    chunk_bounds(op.n, op.depth, k, b, e);
    try {
        op.fn.call(op.fn.ctx, k, b, e);
    } catch (...) {
        op.failed.store(true, std::memory_order_relaxed);
    }
}

// Runs chunk k of op and then keeps taking op's next chunks. The next chunk is
// claimed before the current one is counted as finished: while a thread holds
// an unfinished chunk the op cannot complete, so its submitter is still
// waiting and the Op object is still alive.
void Pool::work_on(Op& op, std::size_t k, bool from_back) noexcept {
    const std::size_t chunks = op.chunks;  // op may be gone after our count-down
    for (;;) {
        run_chunk(op, k);
        const std::size_t next = claim(op, from_back);
        if (op.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Last chunk finished. Every chunk is finished, so `next` cannot be
            // a real chunk.
            finish(op);
            return;
        }
        // From here op is only alive if `next` is a chunk we now own.
        if (next >= chunks) return;
        k = next;
    }
}

std::size_t Pool::claim(Op& op, bool from_back, std::size_t* left) noexcept {
    std::uint64_t ends = op.ends.load(std::memory_order_relaxed);
    for (;;) {
        const auto front = static_cast<std::uint32_t>(ends), back = static_cast<std::uint32_t>(ends >> 32);
        if (front >= back) {
            if (left) *left = 0;
            return op.chunks;
        }
        const std::uint64_t rest = from_back ? ends - (std::uint64_t{1} << 32) : ends + 1;
        if (op.ends.compare_exchange_weak(ends, rest, std::memory_order_relaxed, std::memory_order_relaxed)) {
            if (left) *left = back - front - 1;
            return from_back ? back - 1 : front;
        }
    }
}

// Called once per op, by whoever finished its last chunk. The exchange is the
// last access to op: after it the submitter may return and destroy it, so the
// wake-up only touches the pool's own words.
void Pool::finish(Op& op) noexcept {
    if (op.state.exchange(kDone, std::memory_order_seq_cst) == kCallerAsleep) {
        done_seq_.fetch_add(1, std::memory_order_seq_cst);
        done_seq_.notify_all();
    }
}

void Pool::unlink(Op& op) noexcept {  // under mutex_
    if (!op.queued.load(std::memory_order_relaxed)) return;
    if (op.prev) op.prev->next_op = op.next_op; else head_ = op.next_op;
    if (op.next_op) op.next_op->prev = op.prev; else tail_ = op.prev;
    op.prev = op.next_op = nullptr;
    op.queued.store(false, std::memory_order_release);  // last touch of op
}

void Pool::lock_queue() noexcept {
    // A blocked lock() costs a futex sleep and, for the holder, a futex wake
    // on unlock: tens of microseconds on virtual machines, against critical
    // sections of a few dozen nanoseconds.
    for (int i = 0; i < 256; ++i) {
        if (mutex_.try_lock()) return;
        cpu_relax();
    }
    mutex_.lock();
}

// A worker still spinning sees the new work by itself; only when none is does
// a sleeper get the (on virtual machines, costly) wake-up call. A spinner that
// stops spinning moves spinners_ before it looks at wake_seq_ for the last
// time, so either it sees the submission or the submitter sees it gone.
void Pool::wake_one_worker() noexcept {
    if (spinners_.load(std::memory_order_seq_cst) == 0 && sleepers_.load(std::memory_order_seq_cst) > 0)
        wake_seq_.notify_one();
}

bool Pool::run(std::size_t n, unsigned depth, ChunkFn fn) noexcept {
    Op op;
    op.fn = fn;
    op.n = n;
    op.depth = depth;
    op.chunks = std::size_t{1} << depth;
    op.remaining.store(op.chunks, std::memory_order_relaxed);
    op.ends.store(static_cast<std::uint64_t>(op.chunks) << 32, std::memory_order_relaxed);
    op.id = next_op_id_.fetch_add(1, std::memory_order_relaxed);
    op.max_helpers = helpers_per_op_;

    lock_queue();
    op.prev = tail_;
    if (tail_) tail_->next_op = &op; else head_ = &op;
    tail_ = &op;
    op.queued.store(true, std::memory_order_relaxed);
    mutex_.unlock();
    // Wake one sleeper only: each woken worker wakes more while chunks remain,
    // so the submitter pays for one wake-up call, not one per worker.
    wake_seq_.fetch_add(1, std::memory_order_seq_cst);
    wake_one_worker();

    // The caller takes chunks like any worker, from the front. On a busy
    // machine it often ends up doing most of a small operation before the
    // workers are even awake.
    const std::size_t first = claim(op, false);
    if (first < op.chunks) work_on(op, first, false);

    // Every chunk is handed out by now; make sure no worker finds op again.
    // Usually the worker that took the last chunk has unlinked it already.
    for (int i = 0; op.queued.load(std::memory_order_acquire); ++i) {
        if (i < 256 ? mutex_.try_lock() : (mutex_.lock(), true)) {
            unlink(op);
            mutex_.unlock();
            break;
        }
        cpu_relax();
    }

    if (op.state.load(std::memory_order_acquire) != kDone) {
        // Chunks still running elsewhere, at most one per thread. Spin briefly
        // before sleeping: the rest usually takes less than a sleep round trip.
        const auto deadline = std::chrono::steady_clock::now() + kCallerSpin;
        while (op.state.load(std::memory_order_acquire) != kDone) {
            for (int i = 0; i < 16; ++i) cpu_relax();
            if (std::chrono::steady_clock::now() >= deadline) break;
        }
        std::uint32_t expected = kRunning;
        if (op.state.compare_exchange_strong(expected, kCallerAsleep, std::memory_order_seq_cst)) {
            // The finisher moves done_seq_ after it sets kDone, so reading the
            // sequence before the state cannot miss the wake-up.
            for (;;) {
                const std::uint32_t seq = done_seq_.load(std::memory_order_seq_cst);
                if (op.state.load(std::memory_order_seq_cst) == kDone) break;
                done_seq_.wait(seq, std::memory_order_seq_cst);
            }
        }
    }
    return !op.failed.load(std::memory_order_relaxed);
}

void Pool::worker_main() noexcept {
    t_is_worker = true;
    platform::name_this_thread("orvath-worker");  // visible in top/gdb
    bool spun = false;
    std::uint64_t joined = 0;  // id of the operation this worker helps with
    for (;;) {
        // Read before looking at the queue: a submission after the look moves
        // the sequence away from this value, so the sleep below cannot miss it.
        const std::uint32_t seen = wake_seq_.load(std::memory_order_seq_cst);
        Op* op = nullptr;
        std::size_t k = 0, chunks = 0, left = 0;
        bool short_of_helpers = false;
        bool saw_full = false;  // queued work, all of it at its helper cap
        lock_queue();
        // Ops are queued, so their submitters have not passed their own unlink
        // (which needs the mutex we hold): an op is alive while we claim.
        // The oldest op that still takes a helper (or that we already help) wins.
        for (Op* candidate = head_; candidate != nullptr; candidate = candidate->next_op) {
            if (candidate->id != joined) {
                if (candidate->helpers >= candidate->max_helpers) {
                    saw_full = true;
                    continue;
                }
                ++candidate->helpers;
                joined = candidate->id;
            }
            op = candidate;
            chunks = op->chunks;
            short_of_helpers = op->helpers < op->max_helpers;
            k = claim(*op, true, &left);
            if (left == 0) unlink(*op);  // nothing left to hand out
            break;
        }
        mutex_.unlock();

        if (op != nullptr) {
            spun = false;
            if (k >= chunks) continue;
            if (left > 0 && short_of_helpers) {
                // More to share: pass the wake-up on, to two sleepers so that
                // waking n workers takes log2(n) hand-offs rather than n.
                wake_one_worker();
                if (left > 1) wake_one_worker();
            }
            work_on(*op, k, true);
            continue;
        }
        if (stop_.load(std::memory_order_acquire)) return;
        // A spare worker (every operation already has its helpers) sleeps at
        // once: spinning, it would only take a core from the threads at work.
        if (!spun && !saw_full && kWorkerSpin.count() > 0) {
            // Operations often come in quick succession (the two passes of a
            // search, a construction followed by a bulk operation); a worker
            // still spinning picks the next one up without the wake-up latency
            // of a sleeping thread, and costs its submitter no wake-up call.
            spun = true;
            spinners_.fetch_add(1, std::memory_order_seq_cst);
            const auto deadline = std::chrono::steady_clock::now() + kWorkerSpin;
            while (wake_seq_.load(std::memory_order_relaxed) == seen &&
                   std::chrono::steady_clock::now() < deadline) {
                for (int i = 0; i < 16; ++i) cpu_relax();
            }
            spinners_.fetch_sub(1, std::memory_order_seq_cst);
            continue;
        }
        spun = false;
        // Announce the sleep before the final check: a submitter that misses
        // the announcement has moved wake_seq_ before our check reads it.
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        if (wake_seq_.load(std::memory_order_seq_cst) == seen) wake_seq_.wait(seen, std::memory_order_seq_cst);
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }
}

}  // namespace orvath::core
