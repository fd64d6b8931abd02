// The exact sum of any number of doubles, rounded once.
//
// Every finite double is an integer multiple of 2^-1074 below 2^1024, so a
// fixed-point number with its lowest bit worth 2^-1074 and some 2,200 bits
// holds any sum of them (up to 2^64 terms) exactly. It is kept as signed
// 64-bit digits of 32 bits each, with the carries between digits propagated
// only now and then.
//
// Terms do not go to the digits one by one: each exponent has a 64-bit
// counter of its own, to which a term adds its signed 53-bit significand (one
// addition, whatever the term). A counter takes 1024 terms without
// overflowing, so every 1024 terms the counters that were touched are moved
// into the digits. Two sums merge exactly by adding their digits, so the
// result does not depend on how the terms were grouped or ordered; rounding
// to the nearest double (ties to even) happens once, at the end.
//
// Infinities and NaNs are counted apart: a NaN, or both infinities, make the
// result NaN; one kind of infinity makes it that infinity. An exact sum
// beyond the double range rounds to an infinity; an exact zero is +0.0.
//
// The object is large (some 17 KB), meant to live for one pass over an array.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace orvath::core {

class ExactSum {
public:
    // Digit k is worth 2^(32k - 1074). The largest double reaches digit 65;
    // the digits above take the carries of up to 2^64 terms and the sign.
    static constexpr std::size_t kDigits = 70;
    static constexpr std::uint32_t kFlushEvery = 1024;  // |counter| <= 1024 * (2^53 - 1) < 2^63

    void add(double x) noexcept {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
        const unsigned exponent = static_cast<unsigned>(bits >> 52) & 0x7FF;
        if (exponent == 0x7FF) [[unlikely]] {
            special_ |= (bits & kFraction) != 0 ? kNaN : (bits >> 63 ? kNegInf : kPosInf);
            return;
        }
        // The significand with its hidden bit (none for subnormals and zeros),
        // negated as (m ^ sign) - sign without a branch on the sign, which
        // random data would mispredict half the time.
        const std::uint64_t m = (bits & kFraction) | static_cast<std::uint64_t>(exponent != 0) << 52;
        const auto sign = -static_cast<std::int64_t>(bits >> 63);
        counter_[exponent] += (static_cast<std::int64_t>(m) ^ sign) - sign;
        low_ = std::min(low_, exponent);
        high_ = std::max(high_, exponent);
        if (++pending_ == kFlushEvery) [[unlikely]] flush();
    }

    // Adds other's terms to this sum, exactly (other is left flushed).
    void merge(ExactSum& other) noexcept;

    // The exact sum rounded to the nearest double, ties to even.
    double round() noexcept;

private:
    static constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
    static constexpr std::uint8_t kNaN = 1, kPosInf = 2, kNegInf = 4;

    // Moves the touched counters into the digits and carries: afterwards
    // digits 0 to kDigits - 2 are in [0, 2^32), the top digit keeps the sign.
    void flush() noexcept;
    // Brings digits 0 to kDigits - 2 into [0, 2^32), keeping the value.
    static void carry(std::int64_t* digits) noexcept;

    std::int64_t digit_[kDigits] = {};
    // Counter e holds significands of exponent field e, worth 2^(max(e, 1) - 1075) each.
    std::int64_t counter_[2047] = {};
    unsigned low_ = 2047, high_ = 0;  // the counters touched since the last flush
    std::uint32_t pending_ = 0;       // terms since the last flush
    std::uint8_t special_ = 0;
};

}  // namespace orvath::core
