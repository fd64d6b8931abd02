#include "core/exact_sum.hpp"

#include <limits>

namespace orvath::core {

void ExactSum::carry(std::int64_t* digits) noexcept {
    for (std::size_t i = 0; i + 1 < kDigits; ++i) {
        const std::int64_t c = digits[i] >> 32;  // floor: the low 32 bits stay as a non-negative digit
        digits[i] -= c * (std::int64_t{1} << 32);
        digits[i + 1] += c;
    }
}

void ExactSum::flush() noexcept {
    for (unsigned e = low_; e <= high_; ++e) {
        const std::int64_t c = counter_[e];
        if (c == 0) continue;
        counter_[e] = 0;
        // |c| < 2^63 at bit p, cut into three 32-bit pieces of digits k to k + 2.
        const auto u = static_cast<std::uint64_t>(c < 0 ? -c : c);
        const unsigned p = e != 0 ? e - 1 : 0;
        const unsigned k = p >> 5, r = p & 31;
        const auto lo = static_cast<std::int64_t>((u << r) & 0xFFFFFFFF);
        const auto mid = static_cast<std::int64_t>((u >> (32 - r)) & 0xFFFFFFFF);
        const auto hi = static_cast<std::int64_t>((u >> 1) >> (63 - r));
        const std::int64_t sign = c < 0 ? -1 : 1;
        digit_[k] += sign * lo;
        digit_[k + 1] += sign * mid;
        digit_[k + 2] += sign * hi;
    }
    low_ = 2047;
    high_ = 0;
    pending_ = 0;
    carry(digit_);
}

void ExactSum::merge(ExactSum& other) noexcept {
    flush();
    other.flush();
    for (std::size_t i = 0; i < kDigits; ++i) digit_[i] += other.digit_[i];
    carry(digit_);
    special_ |= other.special_;
}

double ExactSum::round() noexcept {
    if ((special_ & kNaN) || special_ == (kPosInf | kNegInf)) return std::numeric_limits<double>::quiet_NaN();
    if (special_ != 0) return special_ == kPosInf ? std::numeric_limits<double>::infinity()
                                                  : -std::numeric_limits<double>::infinity();
    flush();
    // The magnitude, every digit in [0, 2^32).
    std::int64_t magnitude[kDigits];
    const bool negative = digit_[kDigits - 1] < 0;
    for (std::size_t i = 0; i < kDigits; ++i) magnitude[i] = negative ? -digit_[i] : digit_[i];
    carry(magnitude);
    std::size_t top = kDigits;
    while (top > 0 && magnitude[top - 1] == 0) --top;
    if (top == 0) return 0.0;
    const auto digit = [&magnitude](std::size_t i) {
        return i < kDigits ? static_cast<std::uint64_t>(magnitude[i]) : 0;
    };
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
