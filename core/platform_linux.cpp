// The platform layer on Linux: transparent huge pages on request, growth by
// moving page tables instead of bytes, and the scheduler's affinity mask. The
// rest is in platform_unix.cpp.
#include "core/platform.hpp"
#include "core/platform_unix.hpp"

#include <sched.h>
#include <sys/mman.h>

namespace orvath::core::platform {

const char* name() noexcept { return "linux"; }

void* map_pages(std::size_t len) noexcept {
    void* p = detail::map_aligned(len);
    // Advice only: where transparent huge pages are off this fails harmlessly.
    // Where they are given only on request, this is the request.
    if (p != nullptr) madvise(p, len, MADV_HUGEPAGE);
    return p;
}

// Moves the page tables onto a fresh aligned range: no copy, and the region
// stays 2 MiB aligned.
void* grow_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    void* target = map_pages(new_len);
    if (target == nullptr) return nullptr;
    void* moved = mremap(p, old_len, new_len, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        munmap(target, new_len);
        return nullptr;
    }
    madvise(moved, new_len, MADV_HUGEPAGE);
    return moved;
}

// The affinity mask respects taskset and container CPU sets, which the
// online-CPU count does not.
std::size_t usable_processors() noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
    const int c = CPU_COUNT(&set);
    return c > 0 ? static_cast<std::size_t>(c) : 0;
}

}  // namespace orvath::core::platform
