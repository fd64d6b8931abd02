// The platform layer on Linux: transparent huge pages on request, growth by
// moving page tables instead of bytes, and the scheduler's affinity mask.
#include "core/platform.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstdint>
#include <initializer_list>

namespace orvath::core::platform {

namespace {

// The mask in force before block_async_signals(), per thread.
thread_local sigset_t t_saved_mask;

}  // namespace

const char* name() noexcept { return "linux"; }

// The kernel only uses a huge page for an aligned 2 MiB range, so map one huge
// page more than needed and cut off the misaligned head and the unused tail.
void* map_pages(std::size_t len) noexcept {
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
    // Where they are given only on request, this is the request.
    madvise(p, len, MADV_HUGEPAGE);
    return p;
}

void unmap_pages(void* p, std::size_t len) noexcept {
    if (p != nullptr) munmap(p, len);
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

void shrink_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    munmap(static_cast<char*>(p) + new_len, old_len - new_len);
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

bool on_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept {
    return pthread_atfork(prepare, parent, child) == 0;
}

bool block_async_signals() noexcept {
    sigset_t all;
    sigfillset(&all);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&all, sig);
    return pthread_sigmask(SIG_BLOCK, &all, &t_saved_mask) == 0;
}

void restore_signals() noexcept { pthread_sigmask(SIG_SETMASK, &t_saved_mask, nullptr); }

void name_this_thread(const char* name) noexcept {
    // At most 15 characters; a longer name is refused, not cut.
    pthread_setname_np(pthread_self(), name);
}

}  // namespace orvath::core::platform
