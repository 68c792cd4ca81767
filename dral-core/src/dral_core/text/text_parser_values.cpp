// Reading of numbers and byte strings.
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "dral_core/encoding/base64.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/text/text_parser.hpp"

namespace dral_core {
namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_base64_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_ascii_digit(c) || c == '+' ||
           c == '/' || c == '=';
}

template <class Int>
std::optional<Int> parse_integer(std::string_view digits) {
    Int value{};
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

}  // namespace

Result<TextNumber> Parser::parse_float_text(std::size_t start, std::size_t digits_start,
                                            std::size_t end, bool negative) {
    // The scan let through only digits, '.', exponent marks and signs, so from_chars cannot
    // meet words such as "inf"; anything it does not take whole gets the full treatment.
    const char* body = input_.data() + digits_start;
    const char* body_end = input_.data() + end;
    double value = 0.0;
    const auto result = std::from_chars(body, body_end, value);
    if (result.ec == std::errc() && result.ptr == body_end)
        return TextNumber{TextNumber::Kind::Float, 0, 0, negative ? -value : value};
    return parse_number_slow(start, end, true);
}

Result<TextNumber> Parser::parse_number() {
    const std::size_t start = pos_;
    std::size_t end = start;
    const bool negative = input_[end] == '-';
    if (negative || input_[end] == '+') ++end;
    const std::size_t digits_start = end;
    std::uint64_t magnitude = 0;
    for (; end < input_.size() && is_ascii_digit(input_[end]); ++end)
        magnitude = magnitude * 10 + static_cast<unsigned>(input_[end] - '0');
    const std::size_t digit_count = end - digits_start;
    bool is_float = false;
    while (end < input_.size()) {
        const char c = input_[end];
        if (is_ascii_digit(c)) {
            ++end;
        } else if (c == '.') {
            ++end, is_float = true;
        } else if (c == 'e' || c == 'E') {
            ++end, is_float = true;
            if (end < input_.size() && (input_[end] == '+' || input_[end] == '-')) ++end;
        } else {
            break;
        }
    }
    consume_bytes(end - start);
    skip_type_annotation();

    // Without a fraction or exponent the scan stopped right after the digits.
    if (!is_float && digit_count > 0 && digit_count <= kSafeDigits) {
        if (!negative) return TextNumber{TextNumber::Kind::UInt, magnitude};
        if (magnitude <= kInt64MinMagnitude)
            return TextNumber{TextNumber::Kind::Int, 0, static_cast<std::int64_t>(0 - magnitude)};
    }
    if (is_float) return parse_float_text(start, digits_start, end, negative);
    return parse_number_slow(start, end, is_float);
}

Result<TextNumber> Parser::parse_number_slow(std::size_t start, std::size_t end, bool is_float) {
    const std::string_view text = input_.substr(start, end - start);
    if (is_float) {
        if (auto value = parse_float(text))
            return TextNumber{TextNumber::Kind::Float, 0, 0, *value};
        return fail(error_here("invalid float: " + std::string(text)));
    }
    if (text[0] == '-') {
        if (auto value = parse_integer<std::int64_t>(text))
            return TextNumber{TextNumber::Kind::Int, 0, *value};
    } else {
        // from_chars takes no '+'; an empty remainder fails below.
        const std::string_view digits = text[0] == '+' ? text.substr(1) : text;
        if (auto value = parse_integer<std::uint64_t>(digits))
            return TextNumber{TextNumber::Kind::UInt, *value};
    }
    return fail(error_here("invalid integer: " + std::string(text)));
}

Result<Bytes> Parser::parse_bytes() {
    consume_bytes(4);
    std::size_t end = pos_;
    while (end < input_.size() && is_base64_char(input_[end])) ++end;
    const std::string_view payload = input_.substr(pos_, end - pos_);
    consume_bytes(payload.size());
    // An empty payload is the empty byte string: that is how the writer spells it.
    auto decoded = base64::decode(payload);
    if (!decoded) return fail(error_here("invalid base64: " + decoded.error()));
    return std::move(*decoded);
}

}  // namespace dral_core
