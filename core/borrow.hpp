// The per-object borrow word: 0 free, n >= 1 shared borrows held, -1 one
// exclusive borrow held. A conflict is reported to the caller at once; nobody
// ever waits for a borrow.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvath::core {

// Atomic = true: every transition is a compare-and-swap (free-threaded builds,
// where two threads may touch one object at the same moment).
// Atomic = false: all transitions happen under one global lock, so relaxed
// loads and stores are enough and nothing pays for a locked instruction.
template <bool Atomic>
class BasicBorrowWord {
public:
    static constexpr std::int64_t kExclusive = -1;

    bool try_shared() noexcept {
        std::int64_t cur = word_.load(std::memory_order_relaxed);
        if constexpr (Atomic) {
            do {
                if (cur == kExclusive) return false;
            } while (!word_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire,
                                                  std::memory_order_relaxed));
        } else {
            if (cur == kExclusive) return false;
            word_.store(cur + 1, std::memory_order_relaxed);
        }
        return true;
    }

    void release_shared() noexcept {
        if constexpr (Atomic)
            word_.fetch_sub(1, std::memory_order_release);
        else
            word_.store(word_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    }

    bool try_exclusive() noexcept {
        if constexpr (Atomic) {
            std::int64_t expected = 0;
            return word_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                                 std::memory_order_relaxed);
        } else {
            if (word_.load(std::memory_order_relaxed) != 0) return false;
            word_.store(kExclusive, std::memory_order_relaxed);
            return true;
        }
    }

    void release_exclusive() noexcept {
        word_.store(0, std::memory_order_release);
    }

    std::int64_t load() const noexcept { return word_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> word_{0};
};

}  // namespace orvath::core
