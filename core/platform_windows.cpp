// The platform layer on Windows: VirtualAlloc regions (large pages when the
// process holds the privilege to lock memory), growth by copy, the process
// affinity mask for the count. There is no fork and there are no asynchronous
// signals to keep away from the workers.
#include "core/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

namespace orvath::core::platform {

namespace {

// Set once a large-page request fails for want of the privilege, which does not
// come back while the process runs: later mappings skip the attempt.
std::atomic<bool> g_large_pages_refused{false};

std::uintptr_t align_up(std::uintptr_t a) noexcept {
    return (a + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
}

// Large pages are committed at once, never paged out, and aligned to their own
// size; they need SeLockMemoryPrivilege, which few accounts hold and fewer
// processes enable. nullptr when they cannot be had.
void* map_large(std::size_t len) noexcept {
    if (g_large_pages_refused.load(std::memory_order_relaxed)) return nullptr;
    const SIZE_T large = GetLargePageMinimum();
    if (large == 0 || kHugePage % large != 0) return nullptr;
    void* p = VirtualAlloc(nullptr, len, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE);
    if (p == nullptr) {
        if (GetLastError() == ERROR_PRIVILEGE_NOT_HELD) g_large_pages_refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    if (reinterpret_cast<std::uintptr_t>(p) % kHugePage != 0) {
        VirtualFree(p, 0, MEM_RELEASE);
        return nullptr;
    }
    return p;
}

}  // namespace

const char* name() noexcept { return "windows"; }

// Regions are 2 MiB aligned like everywhere else. VirtualAlloc only aligns to
// 64 KiB, so reserve one huge page more than needed and commit the aligned
// part; the few unused reserved pages cost address space only. unmap_pages
// releases the whole reservation through its base address.
void* map_pages(std::size_t len) noexcept {
    if (len > static_cast<std::size_t>(-1) - kHugePage) return nullptr;
    if (void* p = map_large(len)) return p;
    void* reserved = VirtualAlloc(nullptr, len + kHugePage, MEM_RESERVE, PAGE_NOACCESS);
    if (reserved == nullptr) return nullptr;
    void* p = VirtualAlloc(reinterpret_cast<void*>(align_up(reinterpret_cast<std::uintptr_t>(reserved))), len,
                           MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) VirtualFree(reserved, 0, MEM_RELEASE);
    return p;
}

void unmap_pages(void* p, std::size_t) noexcept {
    if (p == nullptr) return;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(p, &info, sizeof info) == 0) return;
    VirtualFree(info.AllocationBase, 0, MEM_RELEASE);
}

// No remapping of a reservation: a new region and a copy of the old content.
void* grow_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    void* q = map_pages(new_len);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old_len);
    unmap_pages(p, old_len);
    return q;
}

// A reservation is released only as a whole; the tail's memory is given back
// by decommitting it (large pages refuse that and stay until the unmap).
void shrink_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept {
    VirtualFree(static_cast<char*>(p) + new_len, old_len - new_len, MEM_DECOMMIT);
}

// MEM_RESET: the pages' content may be dropped instead of paged out, and the
// region stays committed for reuse. Large pages refuse it and stay as they are.
void release_lazily(void* p, std::size_t len) noexcept {
    if (p != nullptr) VirtualAlloc(p, len, MEM_RESET, PAGE_READWRITE);
}

// The threads of a process run in its processor group, on the processors of
// its affinity mask. A process whose threads already span several groups has
// no single mask (both come back 0): then every active processor counts.
std::size_t usable_processors() noexcept {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0)
        return static_cast<std::size_t>(std::popcount(static_cast<std::uint64_t>(process_mask)));
    return static_cast<std::size_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
}

bool on_fork(void (*)(), void (*)(), void (*)()) noexcept { return true; }

bool block_async_signals() noexcept { return false; }

void restore_signals() noexcept {}

// SetThreadDescription exists from Windows 10 1607 on; looked up at run time
// so that the library still loads on earlier builds.
void name_this_thread(const char* name) noexcept {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) return;
    wchar_t wide[64];
    std::size_t i = 0;
    for (; name[i] != '\0' && i + 1 < sizeof wide / sizeof wide[0]; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    wide[i] = L'\0';
    set(GetCurrentThread(), wide);
}

}  // namespace orvath::core::platform
