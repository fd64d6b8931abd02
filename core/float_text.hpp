// Positional text of a double as every repr shows it: the shortest digits
// that read back to the same value, never an exponent, no trailing ".0".
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace orvath::core {

// Enough for the longest text: the smallest subnormal needs "0." and 323
// zeros before its 17 or fewer digits, plus a sign.
inline constexpr std::size_t FLOAT_TEXT_MAX = 400;

// Writes at most FLOAT_TEXT_MAX characters to out (no terminating NUL) and
// returns how many. NaN of either sign is "NaN"; zeros are "0" and "-0".
std::size_t format_double(double v, char* out) noexcept;

void append_double(std::string& s, double v);

// The most characters format_call writes for a name of `name_length`
// characters and `n` values.
inline constexpr std::size_t call_text_max(std::size_t name_length, std::size_t n) noexcept {
    return name_length + 2 + n * FLOAT_TEXT_MAX + (n > 1 ? 2 * (n - 1) : 0);
}

// "Name(a, b, c)": the `length` characters of `name` and the n values in
// their positional text, as a call. Writes at most call_text_max(length, n)
// characters (no NUL) and returns how many; inline, so that a repr of a known
// number of values is laid out without a loop. append_call adds the same text
// to a string.
inline std::size_t format_call(const char* name, std::size_t length, const double* values, std::size_t n,
                               char* out) noexcept {
    std::memcpy(out, name, length);
    char* p = out + length;
    *p++ = '(';
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) {
            *p++ = ',';
            *p++ = ' ';
        }
        p += format_double(values[i], p);
    }
    *p++ = ')';
    return static_cast<std::size_t>(p - out);
}

inline void append_call(std::string& s, const char* name, const double* values, std::size_t n) {
    s += name;
    s += '(';
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) s += ", ";
        append_double(s, values[i]);
    }
    s += ')';
}

}  // namespace orvath::core
