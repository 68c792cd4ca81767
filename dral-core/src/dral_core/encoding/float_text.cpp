#include "dral_core/encoding/float_text.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

#include "dral_core/encoding/decimal_digits.hpp"
#include "dral_core/encoding/shortest_decimal.hpp"

namespace dral_core {
namespace {

// Adds ".0" after the `length` bytes of an integral value's text at `out`.
std::size_t mark_integral(char* out, std::size_t length) {
    out[length] = '.';
    out[length + 1] = '0';
    return length + 2;
}

constexpr std::uint64_t kPowersOfTen[] = {1,
                                          10,
                                          100,
                                          1000,
                                          10000,
                                          100000,
                                          1000000,
                                          10000000,
                                          100000000,
                                          1000000000,
                                          10000000000,
                                          100000000000,
                                          1000000000000,
                                          10000000000000,
                                          100000000000000,
                                          1000000000000000,
                                          10000000000000000};

// The digit count of `n`, which is below 10^16.
int decimal_length(std::uint64_t n) {
    // bit_width × log10(2) is the count or one less.
    const int guess = (std::bit_width(n) * 1233) >> 12;
    return guess + (n >= kPowersOfTen[guess]);
}

// Writes `decimal` in positional notation at `out`, which has room for kMaxPositionalFloat bytes
// (and two more with kMarkIntegral, for the ".0" after an integral value), and returns the length.
// Digits are stored in blocks of sixteen past their ends, which that room holds: the widest reach
// is the smallest subnormal's, 2 + 323 zeros + 16, below 352 with a sign.
template <bool kMarkIntegral>
std::size_t write_positional(char* out, Decimal decimal) {
    std::uint64_t significand = decimal.significand;
    int exponent = decimal.exponent;
    // Shortest significands have 16 or 17 digits, but those of integers and subnormals. Those are
    // scaled to 16, so that the first digit's place never depends on the count.
    constexpr std::uint64_t kFifteenDigits = 1'000'000'000'000'000;
    if (significand < kFifteenDigits) [[unlikely]] {
        const int scale = 16 - decimal_length(significand);
        significand *= kPowersOfTen[scale];
        exponent -= scale;
    }
    // The first digit and both halves of the sixteen after it are each a product away from the
    // significand, not one after another: the digits' chain is what a float's text waits for.
    constexpr std::uint64_t kEightDigits = 100'000'000,
                            kSixteenDigits = kEightDigits * kEightDigits;
    const std::uint64_t first_value = significand / kSixteenDigits;
    const std::uint64_t leading = significand / kEightDigits;
    const auto first = static_cast<char>('0' + first_value);
    const bool seventeen = first != '0';
    const std::uint64_t high = leading - first_value * kEightDigits;
    const std::uint64_t low = significand - leading * kEightDigits;
    const SixteenDigits rest(high, low);
    std::size_t count = seventeen ? 17 : 16;
    // Zeros after the point are not shortest digits.
    if (exponent < 0) {
        const int trailing = std::min(trailing_zeros_of_sixteen(high, low), -exponent);
        count -= static_cast<std::size_t>(trailing);
        exponent += trailing;
    }
    if (exponent >= 0) {
        *out = first;
        rest.store(out + seventeen);
        if (exponent > 0) std::memset(out + count, '0', static_cast<std::size_t>(exponent));
        const std::size_t length = count + static_cast<std::size_t>(exponent);
        return kMarkIntegral ? mark_integral(out, length) : length;
    }
    const auto fraction = static_cast<std::size_t>(-exponent);
    if (count > fraction) {
        const std::size_t whole = count - fraction;
        *out = first;
        rest.store_with_point(out + seventeen, whole - seventeen);
        return count + 1;
    }
    const std::size_t zeros = fraction - count;
    std::memcpy(out, "0.00000000000000", 16);
    if (zeros > 14) std::memset(out + 16, '0', zeros - 14);
    char* const digits = out + 2 + zeros;
    *digits = first;
    rest.store(digits + seventeen);
    return 2 + fraction;
}

template <bool kMarkIntegral = false, class Float>
std::size_t format_positional(char* out, Float value) {
    const std::size_t sign = std::signbit(value) ? 1 : 0;
    *out = '-';
    const Float magnitude = std::fabs(value);
    if (magnitude == 0) {
        out[sign] = '0';
        return kMarkIntegral ? mark_integral(out, sign + 1) : sign + 1;
    }
    return sign + write_positional<kMarkIntegral>(out + sign, shortest_decimal(magnitude));
}

// Saturates instead of overflowing: only the sign of the result matters to the caller.
int clamp_add(long long a, long long b) {
    const long long limit = 1'000'000'000;
    long long sum = a + b;
    return static_cast<int>(sum > limit ? limit : sum < -limit ? -limit : sum);
}

// Decimal exponent of the leading non-zero digit of a text that from_chars found out of range:
// positive means the value overflowed, negative that it underflowed.
int leading_exponent(std::string_view text) {
    std::size_t e = text.find_first_of("eE");
    std::string_view mantissa = text.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = text.substr(e + 1);
        bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
        for (char c : digits) {
            exponent = exponent * 10 + (c - '0');
            if (exponent > 1'000'000'000) break;
        }
        if (negative) exponent = -exponent;
    }
    std::size_t dot = mantissa.find('.');
    if (dot == std::string_view::npos) dot = mantissa.size();
    std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return 0;
    long long position = first < dot ? static_cast<long long>(dot - first) - 1
                                     : -static_cast<long long>(first - dot);
    return clamp_add(position, exponent);
}

}  // namespace

std::size_t format_float_positional(char* out, double value) {
    return format_positional(out, value);
}

std::size_t format_float_positional(char* out, float value) {
    return format_positional(out, value);
}

std::size_t format_float_with_fraction(char* out, double value) {
    return format_positional<true>(out, value);
}

void append_float_positional(std::string& output, double value) {
    char text[kMaxPositionalFloat];
    output.append(text, format_positional(text, value));
}

void append_float_debug(std::string& output, double value) {
    if (std::isnan(value)) {
        output += "NaN";
        return;
    }
    if (std::isinf(value)) {
        output += value < 0 ? "-inf" : "inf";
        return;
    }
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        char text[kMaxPositionalFloat + 2];
        output.append(text, format_positional<true>(text, value));
        return;
    }
    const Decimal decimal = shortest_decimal(magnitude);
    char digits[kMaxDecimalDigits];
    const std::size_t all = write_decimal(digits, decimal.significand);
    std::size_t count = all;
    while (digits[count - 1] == '0') --count;
    if (value < 0) output += '-';
    output += digits[0];
    if (count > 1) {
        output += '.';
        output.append(digits + 1, count - 1);
    }
    output += 'e';
    output += std::to_string(decimal.exponent + static_cast<int>(all) - 1);
}

std::optional<double> parse_float_exact(std::string_view text) {
    constexpr int kMaxDigits = 19;  // no run of this many digits overflows 64 bits
    const char* p = text.data();
    const char* const end = p + text.size();
    std::uint64_t mantissa = 0;
    const char* const digits_start = p;
    p = read_decimal_digits(p, end, mantissa);
    int digits = static_cast<int>(p - digits_start);
    int fraction = 0;
    if (p < end && *p == '.') {
        const char* fraction_start = ++p;
        p = read_decimal_digits<0>(p, end, mantissa);
        fraction = static_cast<int>(p - fraction_start);
        digits += fraction;
    }
    if (digits == 0 || digits > kMaxDigits) return std::nullopt;
    int exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        const char* exponent_start = p;
        auto digit = [&] { return p < end && *p >= '0' && *p <= '9'; };
        while (digit() && p - exponent_start < 4) exponent = exponent * 10 + (*p++ - '0');
        if (p == exponent_start || digit()) return std::nullopt;
        if (negative) exponent = -exponent;
    }
    double value;
    if (p != end || !exact_decimal(mantissa, exponent - fraction, value)) return std::nullopt;
    return value;
}

std::optional<double> parse_float(std::string_view text) {
    // from_chars would also take "inf", "nan" and friends; only the decimal form is wanted here.
    // A loop rather than find_first_not_of, which makes a call per byte.
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
            return std::nullopt;
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    // from_chars takes no '+' and its own '-' only once; the sign was stripped above.
    if (body.empty() || body[0] == '+' || body[0] == '-') return std::nullopt;
    if (auto exact = parse_float_exact(body)) return negative ? -*exact : *exact;

    double value = 0.0;
    const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
    if (result.ptr != body.data() + body.size()) return std::nullopt;
    if (result.ec == std::errc::result_out_of_range) {
        value = leading_exponent(body) > 0 ? HUGE_VAL : 0.0;
    } else if (result.ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace dral_core
