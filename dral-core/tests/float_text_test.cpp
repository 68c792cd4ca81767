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

// The positional text of `value` laid out from the standard library's shortest digits, which it
// gives in scientific notation.
template <class Float>
std::string reference_positional(Float value) {
    char scientific[64];
    const auto end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                   std::chars_format::scientific);
    std::string text(scientific, end.ptr);
    const std::string sign = text[0] == '-' ? "-" : "";
    const std::size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    std::string digits;
    for (char c : text.substr(sign.size(), e - sign.size()))
        if (c != '.') digits += c;
    digits.erase(digits.find_last_not_of('0') + 1);
    if (digits.empty()) return sign + "0";
    const int count = static_cast<int>(digits.size());
    if (exponent >= count - 1) return sign + digits + std::string(exponent - count + 1, '0');
    if (exponent >= 0)
        return sign + digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
    return sign + "0." + std::string(-exponent - 1, '0') + digits;
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
    // Decimals of every digit count from 1 to 17 at every place of the point near it.
    for (int digits = 1; digits <= 17; ++digits) {
        for (int exponent = -24; exponent <= 24; ++exponent) {
            const std::uint64_t significand =
                random() % static_cast<std::uint64_t>(std::pow(10.0, digits));
            values.push_back(
                std::stod(std::to_string(significand) + "e" + std::to_string(exponent)));
        }
    }
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
        ASSERT_EQ(text, reference_positional(value));

        double standard;
        const auto read = std::from_chars(text.data(), text.data() + text.size(), standard);
        ASSERT_EQ(read.ec, std::errc()) << text;
        ASSERT_EQ(read.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(standard), std::bit_cast<std::uint64_t>(value))
            << text;
        const auto ours = parse_float(text);
        ASSERT_TRUE(ours) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*ours), std::bit_cast<std::uint64_t>(value)) << text;

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
        char out[kMaxPositionalFloat];
        const std::string text(out, format_float_positional(out, value));
        float back;
        const auto read = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(read.ec, std::errc()) << text;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
        ASSERT_EQ(text, reference_positional(value));
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
