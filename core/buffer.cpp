#include "core/buffer.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/platform.hpp"

namespace orvath::core {

namespace {

// Mapped blocks are aligned to, and span whole, huge pages.
constexpr std::size_t kHugePage = kHugeThreshold;

// The mapped length of a block of `bytes` (at least kHugeThreshold); false on overflow.
bool mapped_length(std::size_t bytes, std::size_t& len) noexcept {
    len = block_size(bytes);
    return len != 0;
}

// The reuse cache of take_block / give_block. It is guarded by a try-lock: a
// thread that finds it busy (or a fork child whose parent was inside it)
// simply goes to the allocator. A freed block always enters the cache (if it
// fits the limit at all), pushing out the blocks freed longest ago: the block
// just freed is the likeliest to be asked for again, by the next operation of
// a loop over lists of one size, while older blocks of other sizes would
// otherwise fill the cache for good.
//
// One block too big for those slots (up to kMaxLazyBytes) is kept as well, so
// that a loop over lists of tens of millions of elements does not fault in
// and zero hundreds of megabytes per operation. Its memory is released lazily
// (MADV_FREE): the system takes it back when it needs it, and until then the
// block is reused as it is.
struct BlockCache {
    static constexpr std::size_t kSlots = 4;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    static constexpr std::size_t kMaxLazyBytes = std::size_t{1} << 30;

    std::atomic<bool> busy{false};
    void* block[kSlots] = {};
    std::size_t bytes[kSlots] = {};
    std::uint64_t given[kSlots] = {};  // when each block came in; larger is newer
    std::uint64_t clock = 0;
    std::size_t total = 0;
    void* lazy = nullptr;  // the big block, and its size
    std::size_t lazy_bytes = 0;

    bool lock() noexcept { return !busy.exchange(true, std::memory_order_acquire); }
    void unlock() noexcept { busy.store(false, std::memory_order_release); }
};

BlockCache g_cache;

}  // namespace

std::size_t block_size(std::size_t bytes) noexcept {
    if (bytes < kHugeThreshold) return bytes;
    if (bytes > static_cast<std::size_t>(-1) - (kHugePage - 1)) return 0;
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* take_block(std::size_t& bytes) noexcept {
    if (bytes >= kHugeThreshold && g_cache.lock()) {
        // The smallest cached block that holds the request without wasting
        // more than half of itself.
        std::size_t best = BlockCache::kSlots;
        for (std::size_t s = 0; s < BlockCache::kSlots; ++s) {
            const std::size_t b = g_cache.bytes[s];
            if (g_cache.block[s] && b >= bytes && b / 2 <= bytes &&
                (best == BlockCache::kSlots || b < g_cache.bytes[best]))
                best = s;
        }
        void* p = nullptr;
        const std::size_t b = g_cache.lazy_bytes;
        if (g_cache.lazy && b >= bytes && b / 2 <= bytes &&
            (best == BlockCache::kSlots || b < g_cache.bytes[best])) {
            p = std::exchange(g_cache.lazy, nullptr);
            bytes = std::exchange(g_cache.lazy_bytes, 0);
        } else if (best != BlockCache::kSlots) {
            p = std::exchange(g_cache.block[best], nullptr);
            bytes = std::exchange(g_cache.bytes[best], 0);
            g_cache.total -= bytes;
        }
        g_cache.unlock();
        if (p) return p;
    }
    return alloc_huge(bytes);
}

void give_block(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes >= kHugeThreshold && bytes <= BlockCache::kMaxBytes && g_cache.lock()) {
        // Make room, oldest first; the blocks pushed out are unmapped after
        // the lock is given back.
        void* evicted[BlockCache::kSlots];
        std::size_t evicted_bytes[BlockCache::kSlots];
        std::size_t n_evicted = 0;
        std::size_t free_slot = BlockCache::kSlots;
        for (;;) {
            free_slot = BlockCache::kSlots;
            std::size_t oldest = BlockCache::kSlots;
            for (std::size_t s = 0; s < BlockCache::kSlots; ++s) {
                if (g_cache.block[s] == nullptr) {
                    if (free_slot == BlockCache::kSlots) free_slot = s;
                } else if (oldest == BlockCache::kSlots || g_cache.given[s] < g_cache.given[oldest]) {
                    oldest = s;
                }
            }
            if (free_slot != BlockCache::kSlots && g_cache.total + bytes <= BlockCache::kMaxBytes) break;
            evicted[n_evicted] = std::exchange(g_cache.block[oldest], nullptr);
            evicted_bytes[n_evicted++] = g_cache.bytes[oldest];
            g_cache.total -= g_cache.bytes[oldest];
        }
        g_cache.block[free_slot] = p;
        g_cache.bytes[free_slot] = bytes;
        g_cache.given[free_slot] = ++g_cache.clock;
        g_cache.total += bytes;
        g_cache.unlock();
        for (std::size_t i = 0; i < n_evicted; ++i) free_huge(evicted[i], evicted_bytes[i]);
        return;
    }
    if (bytes > BlockCache::kMaxBytes && bytes <= BlockCache::kMaxLazyBytes && g_cache.lock()) {
        // Advised under the lock: once in the cache the block may be taken
        // and written, and the advice must not come after that.
        platform::release_lazily(p, bytes);
        void* old = std::exchange(g_cache.lazy, p);
        const std::size_t old_bytes = std::exchange(g_cache.lazy_bytes, bytes);
        g_cache.unlock();
        free_huge(old, old_bytes);
        return;
    }
    free_huge(p, bytes);
}

void* alloc_huge(std::size_t bytes) noexcept {
    if (bytes == 0) return nullptr;
    if (bytes < kHugeThreshold) return std::malloc(bytes);
    std::size_t len;
    if (!mapped_length(bytes, len)) return nullptr;
    return platform::map_pages(len);
}

void free_huge(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < kHugeThreshold) {
        std::free(p);
        return;
    }
    std::size_t len;
    if (mapped_length(bytes, len)) platform::unmap_pages(p, len);
}

void* realloc_huge(void* p, std::size_t old_bytes, std::size_t new_bytes) noexcept {
    if (p == nullptr) return alloc_huge(new_bytes);
    if (new_bytes == 0) {
        free_huge(p, old_bytes);
        return nullptr;
    }
    const bool old_mapped = old_bytes >= kHugeThreshold;
    const bool new_mapped = new_bytes >= kHugeThreshold;
    if (!old_mapped && !new_mapped) return std::realloc(p, new_bytes);
    if (old_mapped && new_mapped) {
        std::size_t old_len, new_len;
        if (!mapped_length(old_bytes, old_len) || !mapped_length(new_bytes, new_len)) return nullptr;
        if (new_len == old_len) return p;
        if (new_len < old_len) {
            platform::shrink_pages(p, old_len, new_len);
            return p;
        }
        return platform::grow_pages(p, old_len, new_len);
    }
    // Crossing the threshold changes allocators: copy.
    void* q = alloc_huge(new_bytes);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old_bytes < new_bytes ? old_bytes : new_bytes);
    free_huge(p, old_bytes);
    return q;
}

}  // namespace orvath::core
