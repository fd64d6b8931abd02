#include "core/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace orvath::core {

// The shortest round-trip digits (the closest of them when several qualify)
// come from the scientific form of to_chars; they are then re-laid out without
// the exponent. Everything stays in stack buffers: this runs for every repr.
std::size_t format_double(double v, char* out) noexcept {
    if (std::isnan(v)) {
        std::memcpy(out, "NaN", 3);
        return 3;
    }
    char* p = out;
    if (std::signbit(v)) {
        *p++ = '-';
        v = -v;
    }
    if (std::isinf(v)) {
        std::memcpy(p, "inf", 3);
        return static_cast<std::size_t>(p - out) + 3;
    }
    if (v == 0.0) {
        *p++ = '0';
        return static_cast<std::size_t>(p - out);
    }

    // Scientific text is "d[.ddd]e(+|-)xx"; split it into digits and exponent.
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
    char digits[20];
    int n = 0;
    const char* s = sci;
    digits[n++] = *s++;
    if (*s == '.') {
        for (++s; *s != 'e'; ++s) digits[n++] = *s;
    }
    ++s;
    const bool neg_exp = *s++ == '-';
    int e = 0;
    while (s < end) e = e * 10 + (*s++ - '0');
    // k places the decimal point: the value is 0.d1...dn times ten to the k.
    const int k = (neg_exp ? -e : e) + 1;

    if (k >= n) {
        std::memcpy(p, digits, static_cast<std::size_t>(n));
        p += n;
        std::memset(p, '0', static_cast<std::size_t>(k - n));
        p += k - n;
    } else if (k > 0) {
        std::memcpy(p, digits, static_cast<std::size_t>(k));
        p += k;
        *p++ = '.';
        std::memcpy(p, digits + k, static_cast<std::size_t>(n - k));
        p += n - k;
    } else {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<std::size_t>(-k));
        p += -k;
        std::memcpy(p, digits, static_cast<std::size_t>(n));
        p += n;
    }
    return static_cast<std::size_t>(p - out);
}

void append_double(std::string& s, double v) {
    char buf[FLOAT_TEXT_MAX];
    s.append(buf, format_double(v, buf));
}

}  // namespace orvath::core
