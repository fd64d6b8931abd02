// What differs by operating system, behind one small interface: page mappings
// for big arrays, the processor count, fork and signal handling around worker
// threads, and thread names.
//
// One implementation file per family, chosen by the build (ORVATH_PLATFORM):
//   platform_linux.cpp    mmap + MADV_HUGEPAGE, mremap to grow in place of a
//                         copy, the scheduler affinity mask for the count;
//   platform_posix.cpp    what macOS and the BSDs have: plain anonymous mmap,
//                         growth by a new mapping and a copy, sysconf for the
//                         count;
//   platform_unix.cpp     what those two share (built with either): aligned
//                         mappings, fork handlers, signal masks, thread names;
//   platform_windows.cpp  VirtualAlloc (large pages when the process holds the
//                         privilege), growth by copy, the process affinity mask.
// These are the only files of core/ and src/ that include an OS header.
#pragma once

#include <cstddef>

namespace orvath::core::platform {

// Mappings are aligned to, and sized in multiples of, the 2 MiB huge page of
// x86-64 and of arm64 with 4 KiB base pages.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// "linux", "posix" or "windows": which implementation this build uses.
const char* name() noexcept;

// A zero-filled read-write region of len bytes (a positive multiple of
// kHugePage) aligned to kHugePage, with a hint to back it by huge pages where
// the system takes one. nullptr on failure.
void* map_pages(std::size_t len) noexcept;

// Releases a region from map_pages / grow_pages / shrink_pages; len is its
// current length. nullptr is ignored.
void unmap_pages(void* p, std::size_t len) noexcept;

// Grows a region from old_len to new_len bytes (both multiples of kHugePage,
// new_len > old_len), keeping its content; the added bytes read as zero. The
// region may move. On failure returns nullptr and leaves the old region as it
// was.
void* grow_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept;

// Gives back the tail of a region beyond new_len (both multiples of kHugePage,
// 0 < new_len < old_len). The region stays where it is; from now on its length
// is new_len. Where the system cannot return part of a region, the tail stays
// reserved until the whole region is unmapped.
void shrink_pages(void* p, std::size_t old_len, std::size_t new_len) noexcept;

// Lets the system take back the memory of a region that is kept for reuse
// (len bytes, as for unmap_pages) when it needs it, without unmapping it:
// until then the region is reused as it is, with no page faults; afterwards
// it reads as anything (zeros, or the old content). Where the system has no
// such advice, the memory stays.
void release_lazily(void* p, std::size_t len) noexcept;

// The number of logical processors this process may run on, or 0 when the
// system does not say.
std::size_t usable_processors() noexcept;

// Registers handlers to run around fork() (pthread_atfork). Where there is no
// fork, there is nothing to register and this succeeds. false on failure.
bool on_fork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

// Blocks every asynchronous signal on the calling thread until
// restore_signals(); threads started in between inherit the mask. Faults
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS) stay unblocked.
// false when nothing was blocked (no signals here, or the call failed), in which
// case restore_signals() must not be called.
bool block_async_signals() noexcept;
void restore_signals() noexcept;

// Names the calling thread for debuggers and process viewers, where supported.
void name_this_thread(const char* name) noexcept;

}  // namespace orvath::core::platform
