#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "core/float_text.hpp"

using orvath::core::append_double;
using orvath::core::format_double;
using orvath::core::FLOAT_TEXT_MAX;

namespace {

std::string text(double v) {
    // Guard bytes after the output catch writes past the returned length.
    char buf[FLOAT_TEXT_MAX + 8];
    std::memset(buf, '#', sizeof buf);
    const std::size_t n = format_double(v, buf);
    EXPECT_LE(n, FLOAT_TEXT_MAX);
    EXPECT_EQ(buf[n], '#');
    return std::string(buf, n);
}

}  // namespace

TEST(FloatText, SpecialValues) {
    EXPECT_EQ(text(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(text(std::bit_cast<double>(0xFFF8000000000000ULL)), "NaN");
    EXPECT_EQ(text(std::bit_cast<double>(0xFFF0000000000001ULL)), "NaN");
    EXPECT_EQ(text(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(text(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(text(0.0), "0");
    EXPECT_EQ(text(-0.0), "-0");
}

TEST(FloatText, PositionalLayout) {
    const struct {
        double v;
        const char* want;
    } cases[] = {
        {1.0, "1"},
        {-1.0, "-1"},
        {1e20, "100000000000000000000"},
        {1e16, "10000000000000000"},
        {1e-7, "0.0000001"},
        {0.1, "0.1"},
        {0.001, "0.001"},
        {0.1 + 0.2, "0.30000000000000004"},
        {123.456, "123.456"},
        {2.5, "2.5"},
        {-45.5, "-45.5"},
        {90.0, "90"},
        {3.141592653589793, "3.141592653589793"},
        {1.0 / 3.0, "0.3333333333333333"},
        {9007199254740993.0, "9007199254740992"},
        {1.2345678901234568e17, "123456789012345680"},
        {1.23456789e-15, "0.00000000000000123456789"},
        {59.99999999999999, "59.99999999999999"},
        {-12.566370614359172, "-12.566370614359172"},
    };
    for (const auto& c : cases) EXPECT_EQ(text(c.v), c.want) << c.want;
}

TEST(FloatText, ExtremeMagnitudes) {
    EXPECT_EQ(text(std::numeric_limits<double>::max()),
              "17976931348623157" + std::string(292, '0'));
    EXPECT_EQ(text(-std::numeric_limits<double>::max()),
              "-17976931348623157" + std::string(292, '0'));
    EXPECT_EQ(text(std::numeric_limits<double>::denorm_min()), "0." + std::string(323, '0') + "5");
    EXPECT_EQ(text(-3 * std::numeric_limits<double>::denorm_min()),
              "-0." + std::string(322, '0') + "15");
    EXPECT_EQ(text(std::numeric_limits<double>::min()),
              "0." + std::string(307, '0') + "22250738585072014");
}

TEST(FloatText, RandomBitPatternsRoundTripInShortForm) {
    std::mt19937_64 rng(12345);
    for (int n = 0; n < 20000; ++n) {
        const double v = std::bit_cast<double>(rng());
        if (!std::isfinite(v) || v == 0.0) continue;
        const std::string s = text(v);
        ASSERT_EQ(s.find_first_of("eE+"), std::string::npos) << s;
        if (s.find('.') != std::string::npos) {
            ASSERT_NE(s.back(), '0') << s;  // never "x.0" or "x.50"
        }
        ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(s.c_str(), nullptr)),
                  std::bit_cast<std::uint64_t>(v))
            << s;
        // Shortest: one significant digit fewer no longer reads back as v.
        std::string sig;
        for (char ch : s)
            if (ch >= '0' && ch <= '9' && !(sig.empty() && ch == '0')) sig += ch;
        while (sig.back() == '0') sig.pop_back();
        ASSERT_LE(sig.size(), 17u) << s;
        if (sig.size() > 1) {
            char shorter[64];
            std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(sig.size()) - 2, v);
            ASSERT_NE(std::strtod(shorter, nullptr), v) << s << " vs " << shorter;
        }
    }
}

TEST(FloatText, AppendKeepsExistingText) {
    std::string s = "x=";
    append_double(s, 0.5);
    s += ", y=";
    append_double(s, -0.0);
    EXPECT_EQ(s, "x=0.5, y=-0");
}
