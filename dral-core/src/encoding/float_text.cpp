#include "encoding/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

namespace dral_core {
namespace {

// value = 0.digits × 10^point (so `point` digits stand before the decimal point).
struct ShortestDecimal {
    bool negative = false;
    char digits[24] = {};
    int count = 0;
    int point = 0;
};

// The standard library's shortest scientific form gives the digits; its fixed form would print
// the exact binary value of large numbers instead of the shortest digits.
template <class Float>
ShortestDecimal shortest_decimal(Float value) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    ShortestDecimal decimal;
    const char* p = text;
    if (*p == '-') decimal.negative = true, ++p;
    for (; p < result.ptr && *p != 'e'; ++p)
        if (*p != '.') decimal.digits[decimal.count++] = *p;
    int exponent = 0;
    if (p < result.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), result.ptr, exponent);
    decimal.point = exponent + 1;
    return decimal;
}

std::size_t write_positional(char* out, const ShortestDecimal& d) {
    char* p = out;
    if (d.negative) *p++ = '-';
    auto digits = [&](const char* from, int count) {
        std::memcpy(p, from, static_cast<std::size_t>(count));
        p += count;
    };
    auto zeros = [&](int count) {
        std::memset(p, '0', static_cast<std::size_t>(count));
        p += count;
    };
    if (d.point <= 0) {
        *p++ = '0';
        *p++ = '.';
        zeros(-d.point);
        digits(d.digits, d.count);
    } else if (d.point >= d.count) {
        digits(d.digits, d.count);
        zeros(d.point - d.count);
    } else {
        digits(d.digits, d.point);
        *p++ = '.';
        digits(d.digits + d.point, d.count - d.point);
    }
    return static_cast<std::size_t>(p - out);
}

void append_positional(std::string& output, const ShortestDecimal& d) {
    char text[kMaxPositionalFloat];
    output.append(text, write_positional(text, d));
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
    // The standard library's shortest form is already the positional one when it has no exponent
    // and the value lies below 2^53 (an integer there has all its digits as shortest digits;
    // larger integers it prints exactly, not with their shortest digits). Its exponent has two or
    // three digits and a sign.
    const auto result = std::to_chars(out, out + 32, value);
    const auto length = static_cast<std::size_t>(result.ptr - out);
    const bool exponent =
        (length >= 4 && out[length - 4] == 'e') || (length >= 5 && out[length - 5] == 'e');
    if (!exponent && std::fabs(value) < 0x1p53) return length;
    return write_positional(out, shortest_decimal(value));
}

void append_float_positional(std::string& output, double value) {
    char text[kMaxPositionalFloat];
    output.append(text, format_float_positional(text, value));
}

void append_float_positional(std::string& output, float value) {
    append_positional(output, shortest_decimal(value));
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
    const ShortestDecimal d = shortest_decimal(value);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        append_positional(output, d);
        if (d.point >= d.count) output += ".0";
        return;
    }
    if (d.negative) output += '-';
    output += d.digits[0];
    if (d.count > 1) {
        output += '.';
        output.append(d.digits + 1, static_cast<std::size_t>(d.count - 1));
    }
    output += 'e';
    output += std::to_string(d.point - 1);
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
        p = read_decimal_digits(p, end, mantissa);
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
    if (text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return std::nullopt;
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
