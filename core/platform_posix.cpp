// The platform layer on POSIX systems other than Linux (macOS, the BSDs):
// plain anonymous mappings, growth by a new mapping and a copy, and the count
// of online processors. Nothing here uses a Linux extension, so the build can
// force this file on Linux to test what those systems run.
#include "core/platform.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#if !defined(MAP_ANONYMOUS) && defined(MAP_ANON)
#define MAP_ANONYMOUS MAP_ANON
#endif

namespace orvath::core::platform {

namespace {

thread_local sigset_t t_saved_mask;

}  // namespace

const char* name() noexcept { return "posix"; }

// Aligned to 2 MiB as on Linux, by mapping one huge page more and cutting off
// head and tail: FreeBSD promotes aligned ranges to superpages by itself, and
// callers see the same alignment on every system.
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
    return reinterpret_cast<void*>(aligned);
}

void unmap_pages(void* p, std::size_t len) noexcept {
    if (p != nullptr) munmap(p, len);
}

// No mremap: a new mapping and a copy of the old content.
void* grow_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    void* q = map_pages(new_len);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old_len);
    munmap(p, old_len);
    return q;
}

void shrink_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    munmap(static_cast<char*>(p) + new_len, old_len - new_len);
}

std::size_t usable_processors() noexcept {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
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
    pthread_setname_np(pthread_self(), name);
#else
    (void)name;  // the BSDs spell it differently each; a name is only a courtesy
#endif
}

}  // namespace orvath::core::platform
