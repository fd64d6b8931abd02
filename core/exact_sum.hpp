// The exact sum of any number of doubles, rounded once.
//
// Every finite double is an integer multiple of 2^-1074 below 2^1024, so a
// fixed-point number with its lowest bit worth 2^-1074 and some 2,200 bits
// holds any sum of them (up to 2^64 terms) exactly. It is kept as signed
// 64-bit digits of 32 bits each: adding a double adds its 53-bit significand,
// cut at a digit boundary, to three neighbouring digits, and the carries out
// of the digits are propagated only every kCarryEvery additions (a digit
// takes less than 2^32 per addition, so it cannot overflow in between). Two
// sums merge exactly by adding their digits, so the result does not depend on
// how the terms were grouped or ordered; rounding to the nearest double (ties
// to even) happens once, at the end.
//
// Infinities and NaNs are counted apart: a NaN, or both infinities, make the
// result NaN; one kind of infinity makes it that infinity. An exact sum
// beyond the double range rounds to an infinity; an exact zero is +0.0.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace orvath::core {

class ExactSum {
public:
    // Digit k is worth 2^(32k - 1074). The largest double reaches digit 65;
    // the digits above take the carries of up to 2^64 terms and the sign.
    static constexpr std::size_t kDigits = 70;
    static constexpr std::uint32_t kCarryEvery = std::uint32_t{1} << 30;

    void add(double x) noexcept {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
        const unsigned exponent = static_cast<unsigned>(bits >> 52) & 0x7FF;
        const std::uint64_t fraction = bits & kFraction;
        if (exponent == 0x7FF) [[unlikely]] {
            special_ |= fraction != 0 ? kNaN : (bits >> 63 ? kNegInf : kPosInf);
            return;
        }
        // x = m * 2^(p - 1074): subnormals have no hidden bit and the scale of exponent 1.
        const std::uint64_t m = exponent != 0 ? fraction | (kFraction + 1) : fraction;
        const unsigned p = exponent != 0 ? exponent - 1 : 0;
        const unsigned k = p >> 5, r = p & 31;
        const auto lo = static_cast<std::int64_t>((m << r) & 0xFFFFFFFF);
        const auto mid = static_cast<std::int64_t>((m >> (32 - r)) & 0xFFFFFFFF);
        const auto hi = static_cast<std::int64_t>((m >> 1) >> (63 - r));
        if (bits >> 63) {
            digit_[k] -= lo;
            digit_[k + 1] -= mid;
            digit_[k + 2] -= hi;
        } else {
            digit_[k] += lo;
            digit_[k + 1] += mid;
            digit_[k + 2] += hi;
        }
        if (++pending_ == kCarryEvery) [[unlikely]] carry();
    }

    // Adds other's terms to this sum, exactly.
    void merge(ExactSum other) noexcept;

    // The exact sum rounded to the nearest double, ties to even.
    double round() const noexcept;

private:
    static constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
    static constexpr std::uint8_t kNaN = 1, kPosInf = 2, kNegInf = 4;

    // Brings digits 0 to kDigits - 2 into [0, 2^32); the top digit keeps the sign.
    void carry() noexcept;

    std::int64_t digit_[kDigits] = {};
    std::uint32_t pending_ = 0;  // additions since the last carry
    std::uint8_t special_ = 0;
};

}  // namespace orvath::core
