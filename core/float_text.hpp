// Positional text of a double as every repr shows it: the shortest digits
// that read back to the same value, never an exponent, no trailing ".0".
#pragma once

#include <cstddef>
#include <string>

namespace orvath::core {

// Enough for the longest text: the smallest subnormal needs "0." and 323
// zeros before its 17 or fewer digits, plus a sign.
inline constexpr std::size_t FLOAT_TEXT_MAX = 400;

// Writes at most FLOAT_TEXT_MAX characters to out (no terminating NUL) and
// returns how many. NaN of either sign is "NaN"; zeros are "0" and "-0".
std::size_t format_double(double v, char* out) noexcept;

void append_double(std::string& s, double v);

}  // namespace orvath::core
