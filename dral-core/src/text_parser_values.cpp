// Reading of the values that are not containers: strings, keywords, numbers and byte strings.
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "base64.hpp"
#include "float_text.hpp"
#include "text_parser.hpp"

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

Value Parser::finish_keyword(std::size_t length, Value value) {
    consume_bytes(length);
    skip_type_annotation();
    return value;
}

Result<Value> Parser::parse_scalar() {
    if (at_end()) return fail(error_here("unexpected end of input"));
    const char next = input_[pos_];
    if (next == '+' || is_ascii_digit(next)) return parse_number();
    switch (next) {
        case '"': {
            DRAL_ASSIGN_OR_RETURN(std::string text, parse_quoted_string());
            skip_type_annotation();
            return Value::str(std::move(text));
        }
        case 'n':
            if (starts_with("null")) return finish_keyword(4, Value::null());
            break;
        case 't':
            if (starts_with("true")) return finish_keyword(4, Value::boolean(true));
            break;
        case 'f':
            if (starts_with("false")) return finish_keyword(5, Value::boolean(false));
            break;
        case 'N':
            if (starts_with("NaN"))
                return finish_keyword(3, Value::floating(std::numeric_limits<double>::quiet_NaN()));
            break;
        case 'i':
            if (starts_with("inf"))
                return finish_keyword(3, Value::floating(std::numeric_limits<double>::infinity()));
            break;
        case '-':
            if (starts_with("-inf"))
                return finish_keyword(4, Value::floating(-std::numeric_limits<double>::infinity()));
            return parse_number();
        case 'b':
            if (starts_with("b64#")) return parse_bytes();
            break;
        default:
            break;
    }
    return fail(error_here("unexpected character: '" + std::string(next_char_text()) + "'"));
}

Result<Value> Parser::parse_number() {
    const std::size_t start = pos_;
    bool is_float = false;
    std::size_t end = pos_;
    if (input_[end] == '+' || input_[end] == '-') ++end;
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
    const std::string_view text = input_.substr(start, end - start);
    consume_bytes(end - start);
    skip_type_annotation();

    if (is_float) {
        if (auto value = parse_float(text)) return Value::floating(*value);
        return fail(error_here("invalid float: " + std::string(text)));
    }
    if (text[0] == '-') {
        if (auto value = parse_integer<std::int64_t>(text)) return Value::integer(*value);
    } else {
        // from_chars takes no '+'; an empty remainder fails below.
        const std::string_view digits = text[0] == '+' ? text.substr(1) : text;
        if (auto value = parse_integer<std::uint64_t>(digits)) return Value::uint(*value);
    }
    return fail(error_here("invalid integer: " + std::string(text)));
}

Result<Value> Parser::parse_bytes() {
    consume_bytes(4);
    std::size_t end = pos_;
    while (end < input_.size() && is_base64_char(input_[end])) ++end;
    const std::string_view payload = input_.substr(pos_, end - pos_);
    consume_bytes(payload.size());
    // An empty payload is the empty byte string: that is how the writer spells it.
    auto decoded = base64::decode(payload);
    if (!decoded) return fail(error_here("invalid base64: " + decoded.error()));
    return Value::bytes(std::move(*decoded));
}

}  // namespace dral_core
