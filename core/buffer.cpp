#include "core/buffer.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>

namespace orvath::core {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Mapped blocks span whole huge pages; false on overflow.
bool mapped_length(std::size_t bytes, std::size_t& len) noexcept {
    if (bytes > static_cast<std::size_t>(-1) - (kHugePage - 1)) return false;
    len = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    return true;
}

// A 2 MiB-aligned anonymous mapping of len bytes (a multiple of 2 MiB). The
// kernel only uses a huge page for an aligned 2 MiB range, so map one huge page
// more than needed and cut off the misaligned head and the unused tail.
void* map_aligned(std::size_t len) noexcept {
    if (len > static_cast<std::size_t>(-1) - kHugePage) return nullptr;
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    const std::size_t head = aligned - start;
    const std::size_t tail = kHugePage - head;
    if (head) munmap(raw, head);
    if (tail) munmap(reinterpret_cast<void*>(aligned + len), tail);
    void* p = reinterpret_cast<void*>(aligned);
    // Advice only: where transparent huge pages are off this fails harmlessly.
    madvise(p, len, MADV_HUGEPAGE);
    return p;
}

}  // namespace

void* alloc_huge(std::size_t bytes) noexcept {
    if (bytes == 0) return nullptr;
    if (bytes < kHugeThreshold) return std::malloc(bytes);
    std::size_t len;
    if (!mapped_length(bytes, len)) return nullptr;
    return map_aligned(len);
}

void free_huge(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < kHugeThreshold) {
        std::free(p);
        return;
    }
    std::size_t len;
    if (mapped_length(bytes, len)) munmap(p, len);
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
            munmap(static_cast<char*>(p) + new_len, old_len - new_len);
            return p;
        }
        // Grow by moving the page tables onto a fresh aligned range: no copy,
        // and the block stays 2 MiB aligned.
        void* target = map_aligned(new_len);
        if (target == nullptr) return nullptr;
        void* moved = mremap(p, old_len, new_len, MREMAP_MAYMOVE | MREMAP_FIXED, target);
        if (moved == MAP_FAILED) {
            munmap(target, new_len);
            return nullptr;
        }
        madvise(moved, new_len, MADV_HUGEPAGE);
        return moved;
    }
    // Crossing the threshold changes allocators: copy.
    void* q = alloc_huge(new_bytes);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old_bytes < new_bytes ? old_bytes : new_bytes);
    free_huge(p, old_bytes);
    return q;
}

}  // namespace orvath::core
