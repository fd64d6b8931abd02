#include "core/hash.hpp"

#include <bit>
#include <cmath>

namespace orvath::core {

namespace {

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2,
                      std::uint64_t& v3) noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
}

// Blocks are read least significant byte first whatever the host order is.
inline std::uint64_t load_le64(const unsigned char* p) noexcept {
    std::uint64_t m = 0;
    for (int b = 7; b >= 0; --b) m = (m << 8) | p[b];
    return m;
}

// All NaNs share one pattern, and adding +0.0 folds -0.0 into +0.0, so values
// that differ only in those ways hash alike.
inline std::uint64_t component_bits(double v) noexcept {
    if (std::isnan(v)) return 0x7FF8000000000000ULL;
    return std::bit_cast<std::uint64_t>(v + 0.0);
}

}  // namespace

// SipHash state with one compression round per block and three finalisation
// rounds (SipHash-1-3).
struct Sip13 {
    std::uint64_t v0, v1, v2, v3;

    Sip13(std::uint64_t k0, std::uint64_t k1) noexcept
        : v0(k0 ^ 0x736f6d6570736575ULL), v1(k1 ^ 0x646f72616e646f6dULL),
          v2(k0 ^ 0x6c7967656e657261ULL), v3(k1 ^ 0x7465646279746573ULL) {}

    void absorb(std::uint64_t m) noexcept {
        v3 ^= m;
        sip_round(v0, v1, v2, v3);
        v0 ^= m;
    }

    std::uint64_t finish() noexcept {
        v2 ^= 0xff;
        sip_round(v0, v1, v2, v3);
        sip_round(v0, v1, v2, v3);
        sip_round(v0, v1, v2, v3);
        return (v0 ^ v1) ^ (v2 ^ v3);
    }
};

std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, const unsigned char* data,
                        std::size_t len) noexcept {
    Sip13 sip(k0, k1);
    const std::size_t full = len & ~static_cast<std::size_t>(7);
    for (std::size_t off = 0; off < full; off += 8) sip.absorb(load_le64(data + off));
    // The last block: the tail bytes, and the message length in the top byte.
    std::uint64_t b = static_cast<std::uint64_t>(len) << 56;
    for (std::size_t t = 0; t < (len & 7); ++t)
        b |= static_cast<std::uint64_t>(data[full + t]) << (8 * t);
    sip.absorb(b);
    return sip.finish();
}

// The 24-byte message is three little-endian words, so the hash absorbs the
// component patterns directly, then the length block.
std::int64_t hash_vec3(const Vec3& v) noexcept {
    Sip13 sip(0, 0);
    sip.absorb(component_bits(v.x));
    sip.absorb(component_bits(v.y));
    sip.absorb(component_bits(v.z));
    sip.absorb(std::uint64_t{24} << 56);
    const auto h = static_cast<std::int64_t>(sip.finish());
    return h == -1 ? -2 : h;
}

}  // namespace orvath::core
