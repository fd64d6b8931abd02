// What the two Unix implementations of the platform layer (platform_linux.cpp,
// platform_posix.cpp) share; platform_unix.cpp defines it along with the
// members of core/platform.hpp that are the same on both.
#pragma once

#include <cstddef>

namespace orvath::core::platform::detail {

// A zero-filled read-write anonymous mapping of len bytes aligned to
// kHugePage, made by mapping one huge page more and cutting off the
// misaligned head and the unused tail. nullptr on failure.
void* map_aligned(std::size_t len) noexcept;

}  // namespace orvath::core::platform::detail
