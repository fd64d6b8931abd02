// The platform layer on POSIX systems other than Linux (macOS, the BSDs):
// plain anonymous mappings, growth by a new mapping and a copy, and the count
// of online processors; the rest is in platform_unix.cpp. Nothing here uses a
// Linux extension, so the build can force this file on Linux to test what
// those systems run.
#include "core/platform.hpp"
#include "core/platform_unix.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace orvath::core::platform {

const char* name() noexcept { return "posix"; }

void* map_pages(std::size_t len) noexcept { return detail::map_aligned(len); }

// No mremap: a new mapping and a copy of the old content.
void* grow_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    void* q = map_pages(new_len);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old_len);
    munmap(p, old_len);
    return q;
}

std::size_t usable_processors() noexcept {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace orvath::core::platform
