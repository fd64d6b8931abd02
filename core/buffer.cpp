#include "core/buffer.hpp"

#include <cstdint>
#include <cstring>

#include "core/platform.hpp"

namespace orvath::core {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Mapped blocks span whole huge pages; false on overflow.
bool mapped_length(std::size_t bytes, std::size_t& len) noexcept {
    if (bytes > static_cast<std::size_t>(-1) - (kHugePage - 1)) return false;
    len = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    return true;
}

}  // namespace

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
