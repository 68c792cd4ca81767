// Float text round trips: the shortest positional digits of every kind of binary64 and binary32
// value read back to the same bits, through the standard library and through the core's reader.
#include "dral_core/encoding/float_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace dral_core {
namespace {

// The significant digits of a number's text: no sign, point, exponent, nor leading or trailing
// zeros.
std::string significant_digits(std::string text) {
    if (auto e = text.find_first_of("eE"); e != std::string::npos) text.resize(e);
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits += c;
    digits.erase(0, digits.find_first_not_of('0'));
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

std::vector<double> doubles() {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  0.1,
                                  1e-7,
                                  1e20,
                                  9007199254740993.0,
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(),
                                  -std::numeric_limits<double>::max(),
                                  5e-324,
                                  2.2250738585072009e-308};
    std::mt19937_64 random(21);
    while (values.size() < 20'000) {
        const double d = std::bit_cast<double>(random());
        if (std::isfinite(d)) values.push_back(d);
    }
    for (int exponent = -30; exponent <= 30; ++exponent) values.push_back(std::pow(10.0, exponent));
    // Short decimals, whose shortest digits end in a varying run of zeros.
    for (int n = 1; n < 3000; n += 7) {
        values.push_back(n / 8.0);
        values.push_back(n / 1000.0);
        values.push_back(n * 1e-9);
    }
    return values;
}

TEST(FloatTextRoundTrip, ShortestPositionalDigitsReadBackToTheSameDouble) {
    for (double value : doubles()) {
        char out[kMaxPositionalFloat];
        const std::size_t length = format_float_positional(out, value);
        ASSERT_LE(length, kMaxPositionalFloat);
        const std::string text(out, length);
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        if (text.find('.') != std::string::npos) {
            ASSERT_NE(text.back(), '0') << text;
        }

        double standard;
        const auto read = std::from_chars(text.data(), text.data() + text.size(), standard);
        ASSERT_EQ(read.ec, std::errc()) << text;
        ASSERT_EQ(read.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(standard), std::bit_cast<std::uint64_t>(value))
            << text;
        const auto ours = parse_float(text);
        ASSERT_TRUE(ours) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*ours), std::bit_cast<std::uint64_t>(value)) << text;

        char shortest[64];
        const auto end = std::to_chars(shortest, shortest + sizeof shortest, value,
                                       std::chars_format::scientific);
        ASSERT_EQ(significant_digits(text), significant_digits(std::string(shortest, end.ptr)))
            << text;
        std::string appended = "x";
        append_float_positional(appended, value);
        ASSERT_EQ(appended, "x" + text);

        // The fraction mark goes exactly on the integral values.
        char marked[kMaxPositionalFloat + 2];
        const std::string with_fraction(marked, format_float_with_fraction(marked, value));
        ASSERT_EQ(with_fraction, value == std::trunc(value) ? text + ".0" : text);
    }
}

TEST(FloatTextRoundTrip, ShortestDigitsOfAFloatReadBackToTheSameFloat) {
    std::mt19937 random(22);
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 0.1f,
                                 1.0f / 3,
                                 std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min()};
    while (values.size() < 20'000) {
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(f)) values.push_back(f);
    }
    for (float value : values) {
        std::string text;
        append_float_positional(text, value);
        float back;
        const auto read = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(read.ec, std::errc()) << text;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
        char shortest[64];
        const auto end = std::to_chars(shortest, shortest + sizeof shortest, value,
                                       std::chars_format::scientific);
        ASSERT_EQ(significant_digits(text), significant_digits(std::string(shortest, end.ptr)))
            << text;
    }
}

TEST(FloatTextDebug, FormsOfTheDebuggingText) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {{1.0, "1.0"},
                 {0.25, "0.25"},
                 {0.0, "0.0"},
                 {1e-4, "0.0001"},
                 {9999999999999998.0, "9999999999999998.0"},
                 {1e16, "1e16"},
                 {1.5e-7, "1.5e-7"},
                 {-2.5e300, "-2.5e300"},
                 {std::numeric_limits<double>::quiet_NaN(), "NaN"},
                 {HUGE_VAL, "inf"},
                 {-HUGE_VAL, "-inf"}};
    for (const auto& [value, text] : cases) {
        std::string out;
        append_float_debug(out, value);
        EXPECT_EQ(out, text);
    }
}

}  // namespace
}  // namespace dral_core
