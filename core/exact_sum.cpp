#include "core/exact_sum.hpp"

#include <limits>

namespace orvath::core {

void ExactSum::carry() noexcept {
    for (std::size_t i = 0; i + 1 < kDigits; ++i) {
        const std::int64_t c = digit_[i] >> 32;  // floor: the low 32 bits stay as a non-negative digit
        digit_[i] -= c * (std::int64_t{1} << 32);
        digit_[i + 1] += c;
    }
    pending_ = 0;
}

void ExactSum::merge(ExactSum other) noexcept {
    carry();
    other.carry();
    for (std::size_t i = 0; i < kDigits; ++i) digit_[i] += other.digit_[i];
    carry();
    special_ |= other.special_;
}

double ExactSum::round() const noexcept {
    if ((special_ & kNaN) || special_ == (kPosInf | kNegInf)) return std::numeric_limits<double>::quiet_NaN();
    if (special_ != 0) return special_ == kPosInf ? std::numeric_limits<double>::infinity()
                                                  : -std::numeric_limits<double>::infinity();
    ExactSum a = *this;
    a.carry();
    const bool negative = a.digit_[kDigits - 1] < 0;
    if (negative) {
        for (std::int64_t& d : a.digit_) d = -d;
        a.carry();
    }
    // Now every digit is in [0, 2^32): the magnitude, bit by bit.
    std::size_t top = kDigits;
    while (top > 0 && a.digit_[top - 1] == 0) --top;
    if (top == 0) return 0.0;
    const auto digit = [&a](std::size_t i) { return i < kDigits ? static_cast<std::uint64_t>(a.digit_[i]) : 0; };
    // The 64 bits from bit `low` up.
    const auto window = [&digit](std::size_t low) {
        const std::size_t i = low >> 5, r = low & 31;
        const std::uint64_t w = (digit(i) | digit(i + 1) << 32) >> r;
        return r != 0 ? w | digit(i + 2) << (64 - r) : w;
    };
    const std::size_t high = 32 * (top - 1) + static_cast<std::size_t>(std::bit_width(digit(top - 1))) - 1;
    std::uint64_t bits;
    if (high <= 52) {
        // Below 2^53 units of 2^-1074 the sum is itself a double, with these
        // very bits (a subnormal, or a normal of exponent field 1).
        bits = window(0);
    } else {
        // 53 significant bits, the rounding bit below them, and whether
        // anything is set below that.
        const std::size_t low = high - 53;
        const std::uint64_t w = window(low);
        std::uint64_t m = (w >> 1) & ((kFraction << 1) | 1);
        bool sticky = (digit(low >> 5) & ((std::uint64_t{1} << (low & 31)) - 1)) != 0;
        for (std::size_t i = 0; i < (low >> 5) && !sticky; ++i) sticky = digit(i) != 0;
        std::size_t top_bit = high;
        if ((w & 1) && (sticky || (m & 1))) {
            if (++m == std::uint64_t{1} << 53) {
                m >>= 1;
                ++top_bit;
            }
        }
        const std::uint64_t exponent = top_bit - 51;  // the value is m * 2^(top_bit - 1126)
        bits = exponent >= 0x7FF ? std::uint64_t{0x7FF} << 52 : exponent << 52 | (m & kFraction);
    }
    return std::bit_cast<double>(bits | std::uint64_t{negative} << 63);
}

}  // namespace orvath::core
