#include "core/platform.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace platform = orvath::core::platform;
using platform::kHugePage;

// The layer the build should have picked: the one a make target forces
// (ORVATH_EXPECT_PLATFORM), else the one of the system the test runs on.
std::string expected_layer() {
    if (const char* forced = std::getenv("ORVATH_EXPECT_PLATFORM")) return forced;
#if defined(_WIN32)
    return "windows";
#elif defined(__linux__)
    return "linux";
#else
    return "posix";
#endif
}

TEST(PlatformTest, BuiltWithTheExpectedLayer) { EXPECT_EQ(platform::name(), expected_layer()); }

std::size_t nonzero_bytes(const unsigned char* p, std::size_t n) {
    std::size_t bad = 0;
    for (std::size_t i = 0; i < n; ++i) bad += p[i] != 0;
    return bad;
}

std::size_t pattern_mismatches(const unsigned char* p, std::size_t n) {
    std::size_t bad = 0;
    for (std::size_t i = 0; i < n; ++i) bad += p[i] != static_cast<unsigned char>(i * 7 + 1);
    return bad;
}

bool aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % kHugePage == 0; }

// A region is zeroed and aligned when mapped; growing keeps the content and adds
// zeros, also after a shrink gave back a tail that had been written.
TEST(PlatformTest, RegionsAreZeroedAlignedAndKeepTheirContent) {
    auto* p = static_cast<unsigned char*>(platform::map_pages(2 * kHugePage));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(aligned(p));
    EXPECT_EQ(nonzero_bytes(p, 2 * kHugePage), 0u);
    for (std::size_t i = 0; i < 2 * kHugePage; ++i) p[i] = static_cast<unsigned char>(i * 7 + 1);

    auto* q = static_cast<unsigned char*>(platform::grow_pages(p, 2 * kHugePage, 5 * kHugePage));
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(aligned(q));
    EXPECT_EQ(pattern_mismatches(q, 2 * kHugePage), 0u);
    EXPECT_EQ(nonzero_bytes(q + 2 * kHugePage, 3 * kHugePage), 0u);

    platform::shrink_pages(q, 5 * kHugePage, kHugePage);
    auto* r = static_cast<unsigned char*>(platform::grow_pages(q, kHugePage, 3 * kHugePage));
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(aligned(r));
    EXPECT_EQ(pattern_mismatches(r, kHugePage), 0u);
    EXPECT_EQ(nonzero_bytes(r + kHugePage, 2 * kHugePage), 0u);
    platform::unmap_pages(r, 3 * kHugePage);
}

#if !defined(_WIN32)
// Threads started between block and restore inherit a mask without the
// asynchronous signals but with the faults; the caller gets its own mask back.
TEST(PlatformTest, AsyncSignalsBlockedForNewThreadsOnly) {
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
    ASSERT_EQ(sigismember(&before, SIGINT), 0);
    ASSERT_TRUE(platform::block_async_signals());
    sigset_t inherited;
    std::thread t([&] { pthread_sigmask(SIG_SETMASK, nullptr, &inherited); });
    t.join();
    platform::restore_signals();
    for (int sig : {SIGINT, SIGTERM, SIGCHLD, SIGUSR1, SIGALRM}) EXPECT_EQ(sigismember(&inherited, sig), 1) << sig;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) EXPECT_EQ(sigismember(&inherited, sig), 0) << sig;
    sigset_t after;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
    for (int sig = 1; sig < 32; ++sig) EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
}
#endif

#if defined(__linux__)
// In a child restricted to one processor: the Linux layer counts the affinity
// mask (taskset, container CPU sets), the generic layer the online processors,
// as macOS and the BSDs report them.
TEST(PlatformTest, ProcessorCountAndTheAffinityMask) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) _exit(2);
        const std::size_t want = std::string(platform::name()) == "linux" ? 1 : static_cast<std::size_t>(online);
        _exit(platform::usable_processors() == want ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

#if defined(_WIN32)
// The count follows the process affinity mask (start /affinity, job objects).
TEST(PlatformTest, ProcessorCountFollowsTheAffinityMask) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    const DWORD_PTR lowest = process & (~process + 1);
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), lowest));
    const std::size_t restricted = platform::usable_processors();
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), process));
    EXPECT_EQ(restricted, 1u);
    EXPECT_EQ(platform::usable_processors(), static_cast<std::size_t>(__builtin_popcountll(process)));
}
#endif

}  // namespace
