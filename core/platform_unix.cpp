// The part of the platform layer that every POSIX system has: aligned
// anonymous mappings and their release, fork handlers, signal masks around
// thread creation, thread names. Built with platform_linux.cpp or
// platform_posix.cpp.
#include "core/platform.hpp"
#include "core/platform_unix.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <cstdint>
#include <initializer_list>

#if !defined(MAP_ANONYMOUS) && defined(MAP_ANON)
#define MAP_ANONYMOUS MAP_ANON
#endif

namespace orvath::core::platform {

namespace {

// The mask in force before block_async_signals(), per thread.
thread_local sigset_t t_saved_mask;

}  // namespace

// Linux uses a huge page only for an aligned 2 MiB range and FreeBSD promotes
// aligned ranges to superpages by itself; callers see the same alignment on
// every system.
void* detail::map_aligned(std::size_t len) noexcept {
    if (len > static_cast<std::size_t>(-1) - kHugePage) return nullptr;
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    const std::size_t head = aligned - start;
    const std::size_t tail = kHugePage - head;
    if (head) munmap(raw, head);
    if (tail) munmap(reinterpret_cast<void*>(aligned + len), tail);
    return reinterpret_cast<void*>(aligned);
}

void unmap_pages(void* p, std::size_t len) noexcept {
    if (p != nullptr) munmap(p, len);
}

void shrink_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    munmap(static_cast<char*>(p) + new_len, old_len - new_len);
}

// MADV_FREE where the system has it (Linux since 4.5, the BSDs, macOS); a
// kernel that refuses it leaves the memory in place, which is also correct.
void release_lazily(void* p, std::size_t len) noexcept {
#if defined(MADV_FREE)
    if (p != nullptr) madvise(p, len, MADV_FREE);
#else
    (void)p;
    (void)len;
#endif
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
#if defined(__APPLE__)
    pthread_setname_np(name);  // the calling thread only
#elif defined(__linux__)
    pthread_setname_np(pthread_self(), name);  // at most 15 characters; a longer name is refused, not cut
#else
    (void)name;  // the BSDs spell it differently each; a name is only a courtesy
#endif
}

}  // namespace orvath::core::platform
