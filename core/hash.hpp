// Value hash of a vector: SipHash-1-3 with an all-zero key over the bit
// patterns of the components, so the result is the same in every process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vec3.hpp"

namespace orvath::core {

// SipHash-1-3 (one compression round per block, three finalisation rounds).
std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, const unsigned char* data,
                        std::size_t len) noexcept;

// Hashes exact bit patterns while equality allows a tolerance, so vectors that
// compare equal may hash differently. Never returns -1.
std::int64_t hash_vec3(const Vec3& v) noexcept;

}  // namespace orvath::core
