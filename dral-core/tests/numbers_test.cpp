// The number readers and their twins: the varint reader's short paths against its general loop,
// the word-at-a-time digit reader against a digit loop, the sixteen-digit writer's vector and word
// forms against printf, the integer writers against the standard library, the
// exact one-operation float reader against the full one and both against the standard library,
// and the text notation's fast integer reader against its slow one at the digit counts where the
// one hands over to the other.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "dral_core/encoding/decimal_digits.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/text/text.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {
namespace {

std::optional<double> standard_double(const std::string& text) {
    double value;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

TEST(DecimalDigits, WordsAgreeWithADigitLoopAtEveryLengthAndStop) {
    std::mt19937 random(11);
    for (std::size_t length = 0; length <= 40; ++length) {
        for (char stop : {'.', 'e', '/', ':', ' ', 'x', '\0'}) {
            for (std::size_t tail : {0, 1, 8}) {
                std::string text;
                for (std::size_t i = 0; i < length; ++i) text += char('0' + random() % 10);
                if (stop != '\0') text += stop;
                text.append(tail, '7');
                std::uint64_t expected = 3;  // digits append to what the caller has
                std::size_t count = 0;
                while (count < text.size() && text[count] >= '0' && text[count] <= '9')
                    expected = expected * 10 + static_cast<unsigned>(text[count++] - '0');
                // With the leading digits read byte by byte, and with none.
                std::uint64_t value = 3, fraction_value = 3;
                const char* end =
                    read_decimal_digits(text.data(), text.data() + text.size(), value);
                const char* fraction_end =
                    read_decimal_digits<0>(text.data(), text.data() + text.size(), fraction_value);
                ASSERT_EQ(end - text.data(), static_cast<std::ptrdiff_t>(count)) << text;
                ASSERT_EQ(value, expected) << text;  // wrapping past 64 bits as the loop does
                ASSERT_EQ(fraction_end, end) << text;
                ASSERT_EQ(fraction_value, expected) << text;
            }
        }
    }
}

// A form of the sixteen digits gives the digits printf gives and places the point after any of
// its first fifteen digits, or before them all; the count of the zeros that end them is printf's.
template <class Digits>
void check_sixteen_digits(std::uint64_t n) {
    char expected[17];
    std::snprintf(expected, sizeof expected, "%016llu", static_cast<unsigned long long>(n));
    int trailing = 0;
    while (trailing < 16 && expected[15 - trailing] == '0') ++trailing;
    ASSERT_EQ(trailing_zeros_of_sixteen(n / 100'000'000, n % 100'000'000), trailing) << n;
    const Digits digits(n);
    char out[17];
    digits.store(out);
    ASSERT_EQ(std::string(out, 16), expected);
    for (std::size_t whole = 0; whole < 16; ++whole) {
        digits.store_with_point(out, whole);
        ASSERT_EQ(std::string(out, 17),
                  std::string(expected, whole) + "." + std::string(expected + whole))
            << whole;
    }
}

// On numbers of every length whose digits are often zero, in words and, where there are
// vectors, in vectors.
TEST(DecimalDigits, SixteenDigitsTheirZerosAndAPoint) {
    std::mt19937_64 random(12);
    for (int i = 0; i < 100'000; ++i) {
        std::uint64_t n = 0;
        const int length = 1 + static_cast<int>(random() % 16);
        for (int d = 0; d < length; ++d) n = n * 10 + (random() % 3 == 0 ? 0 : random() % 10);
        check_sixteen_digits<decimal_digits_detail::SixteenDigitWords>(n);
        check_sixteen_digits<SixteenDigits>(n);
    }
    // Every count of ending zeros, each after digits that are not.
    std::uint64_t power = 1;
    for (int zeros = 0; zeros < 16; ++zeros, power *= 10)
        for (std::uint64_t digits : {1, 5, 9, 37})
            if (digits * power < 10'000'000'000'000'000)
                check_sixteen_digits<SixteenDigits>(digits * power);
}

// The integer writers give the standard library's digits, and store no byte past their room:
// every value below 10^5, each side of every power of ten, and random values of every length.
TEST(DecimalDigits, IntegersAsTheStandardLibraryWritesThem) {
    auto check = [](auto n) {
        char expected[24];
        const auto end = std::to_chars(expected, expected + sizeof expected, n).ptr;
        char out[1 + kMaxDecimalDigits + 1];
        std::memset(out, 'x', sizeof out);
        constexpr bool kSigned = std::is_signed_v<decltype(n)>;
        const std::size_t length = kSigned ? write_signed_decimal(out, n) : write_decimal(out, n);
        ASSERT_EQ(std::string(out, length), std::string(expected, end)) << n;
        ASSERT_EQ(out[kSigned ? 1 + kMaxDecimalDigits : kMaxDecimalDigits], 'x') << n;
    };
    for (std::uint64_t n = 0; n < 100'000; ++n) check(n);
    std::vector<std::uint64_t> edges = {std::numeric_limits<std::uint64_t>::max()};
    for (std::uint64_t power = 1; power <= std::numeric_limits<std::uint64_t>::max() / 10;
         power *= 10)
        for (std::uint64_t n : {power - 1, power, power + 1, power * 10 - 1}) edges.push_back(n);
    std::mt19937_64 random(7);
    for (int i = 0; i < 200'000; ++i) edges.push_back(random() >> (random() % 64));
    for (std::uint64_t n : edges) {
        check(n);
        check(static_cast<std::int64_t>(n));
        check(-static_cast<std::int64_t>(n >> 1));
    }
    check(std::numeric_limits<std::int64_t>::min());
}

using Bytes = std::vector<std::uint8_t>;

// The one- and two-byte paths of the varint reader and its general loop read every input alike,
// at every offset up to the end, where a cut varint must fail the same way in both.
void varint_readers_agree(const Bytes& bytes) {
    for (std::size_t offset = 0; offset <= bytes.size(); ++offset) {
        const auto fast = decode_varint(bytes, offset);
        const auto general = decode_varint_slow(bytes, offset);
        ASSERT_EQ(fast.has_value(), general.has_value()) << testing::PrintToString(bytes);
        if (fast) {
            ASSERT_EQ(fast->value, general->value) << testing::PrintToString(bytes);
            ASSERT_EQ(fast->length, general->length) << testing::PrintToString(bytes);
        } else {
            ASSERT_EQ(fast.error().message(), general.error().message());
        }
    }
}

TEST(Varints, ShortPathsAgreeWithTheGeneralReaderOnEveryShortInput) {
    for (unsigned a = 0; a < 256; ++a) {
        varint_readers_agree({std::uint8_t(a)});
        for (unsigned b = 0; b < 256; ++b) {
            varint_readers_agree({std::uint8_t(a), std::uint8_t(b)});
            varint_readers_agree({std::uint8_t(a), std::uint8_t(b), 0x01});
        }
    }
}

TEST(Varints, EveryLengthTheWriterMakesReadsBack) {
    std::vector<std::uint64_t> values = {0, ~0ull};
    for (int bit = 1; bit < 64; ++bit)
        for (std::uint64_t near : {(1ull << bit) - 1, 1ull << bit, (1ull << bit) + 1})
            values.push_back(near);
    for (std::uint64_t value : values) {
        Bytes bytes(kMaxVarintBytes);
        bytes.resize(write_varint(bytes.data(), value));
        ASSERT_EQ(bytes.size(), varint_size(value)) << value;
        varint_readers_agree(bytes);
        const auto read = decode_varint(bytes, 0);
        ASSERT_TRUE(read) << value;
        ASSERT_EQ(read->value, value);
        ASSERT_EQ(read->length, bytes.size());
        ASSERT_EQ(zigzag_decode(zigzag_encode(std::int64_t(value))), std::int64_t(value));
    }
    // A tenth byte may hold bit 63 alone.
    Bytes too_long(kMaxVarintBytes, 0xFF);
    too_long.back() = 0x02;
    EXPECT_FALSE(decode_varint(too_long, 0));
}

struct FloatCase {
    const char* text;
    bool exact;  // whether the one-operation reader takes it
};
void PrintTo(const FloatCase& c, std::ostream* out) { *out << c.text; }

class FloatText : public testing::TestWithParam<FloatCase> {};

TEST_P(FloatText, ExactAndFullReadersAgreeWithTheStandardLibrary) {
    const std::string text = GetParam().text;
    const auto full = parse_float(text);
    ASSERT_TRUE(full) << text;
    const auto standard = standard_double(text[0] == '+' ? text.substr(1) : text);
    if (standard) {
        EXPECT_EQ(bits(*full), bits(*standard)) << text;
    }
    const auto exact = parse_float_exact(text);
    EXPECT_EQ(exact.has_value(), GetParam().exact) << text;
    if (exact) {
        EXPECT_EQ(bits(*exact), bits(*full)) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FloatText,
    testing::Values(FloatCase{"0", true}, FloatCase{"1", true}, FloatCase{"1.", true},
                    FloatCase{".5", true}, FloatCase{"2E-3", true}, FloatCase{"1e+7", true},
                    FloatCase{"0.1", true}, FloatCase{"9007199254740992", true},
                    FloatCase{"9007199254740993", false}, FloatCase{"1e22", true},
                    FloatCase{"1e23", false}, FloatCase{"1e-22", true}, FloatCase{"1e-23", false},
                    FloatCase{"123456789012345678", false}, FloatCase{"4.9e-324", false},
                    FloatCase{"2.2250738585072014e-308", false},
                    FloatCase{"1.7976931348623157e308", false}, FloatCase{"-2.5", false},
                    FloatCase{"-.5e1", false}));

TEST(FloatText, OutOfRangeMagnitudesKeepTheirSign) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {{"1e309", HUGE_VAL},
                 {"-1e309", -HUGE_VAL},
                 {"1e-400", 0.0},
                 {"-1e-400", -0.0},
                 {"1e99999999999", HUGE_VAL}};
    for (const auto& [text, value] : cases) {
        const auto read = parse_float(text);
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(bits(*read), bits(value)) << text;
    }
}

TEST(FloatText, RefusesWhatIsNoNumber) {
    for (const char* text : {"", "-", ".", "e5", "1e", "1e+", "1.2.3", "1x", " 1", "0x10", "nan"})
        EXPECT_FALSE(parse_float(text)) << text;
}

TEST(FloatText, RandomDecimalsReadAsTheStandardLibraryReadsThem) {
    std::mt19937_64 random(12);
    for (int i = 0; i < 50'000; ++i) {
        const std::string digits = std::to_string(random() % 100'000'000'000ull);
        const std::size_t point = random() % 2 ? digits.size() - random() % digits.size() : 0;
        std::string text = point ? digits.substr(0, point) + "." + digits.substr(point) : digits;
        if (random() % 2) text.append("e").append(std::to_string(int(random() % 700) - 350));
        const auto full = parse_float(text);
        const auto standard = standard_double(text);
        ASSERT_TRUE(full) << text;
        if (standard) {
            ASSERT_EQ(bits(*full), bits(*standard)) << text;
        }
        if (const auto exact = parse_float_exact(text)) {
            ASSERT_EQ(bits(*exact), bits(*full)) << text;
        }
    }
}

// The text notation reads up to 19 digits into a word at once and longer numbers slowly; both
// readers of the notation (checked and trusted UTF-8) must give the same value.
struct TextNumberCase {
    const char* text;
    Value expected;
};
void PrintTo(const TextNumberCase& c, std::ostream* out) { *out << c.text; }

class TextNumbers : public testing::TestWithParam<TextNumberCase> {};

TEST_P(TextNumbers, FastAndSlowReadersGiveTheValue) {
    const std::string text = GetParam().text;
    const Value& expected = GetParam().expected;
    for (const auto& read : {parse(text), parse_valid(text, true)}) {
        ASSERT_TRUE(read) << text << ": " << read.error().message();
        ASSERT_EQ(read->kind(), expected.kind()) << text;
        switch (expected.kind()) {
            case Kind::UInt:
                EXPECT_EQ(read->as_uint(), expected.as_uint()) << text;
                break;
            case Kind::Int:
                EXPECT_EQ(read->as_int(), expected.as_int()) << text;
                break;
            default:
                EXPECT_EQ(bits(read->as_float()), bits(expected.as_float())) << text;
        }
    }
}

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Numbers, TextNumbers,
    testing::Values(TextNumberCase{"0", Value::uint(0)}, TextNumberCase{"-1", Value::integer(-1)},
                    TextNumberCase{"9999999999999999999", Value::uint(9999999999999999999ull)},
                    TextNumberCase{"10000000000000000000", Value::uint(10000000000000000000ull)},
                    TextNumberCase{"18446744073709551615", Value::uint(kMaxU64)},
                    TextNumberCase{"-9223372036854775808", Value::integer(kMinI64)},
                    TextNumberCase{"-922337203685477580", Value::integer(-922337203685477580)},
                    TextNumberCase{"1.5", Value::floating(1.5)},
                    TextNumberCase{"-0.25", Value::floating(-0.25)},
                    TextNumberCase{"1e23", Value::floating(1e23)},
                    TextNumberCase{"12345678901234567890.5",
                                   Value::floating(12345678901234567890.5)},
                    TextNumberCase{"4.9e-324", Value::floating(4.9e-324)}));

}  // namespace
}  // namespace dral_core
