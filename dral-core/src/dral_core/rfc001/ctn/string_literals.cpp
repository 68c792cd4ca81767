// Quoted, triple-quoted and tagged strings, the three byte string forms, symbols, and paths.
#include <cstdint>

#include "dral_core/encoding/base64.hpp"
#include "dral_core/encoding/unicode.hpp"
#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"

namespace dral_core::rfc001::ctn {
namespace {

// Reads the digits of `\u{...}` as an unsigned 32-bit hexadecimal number, one leading '+' allowed.
std::optional<std::uint32_t> unicode_escape_value(std::string_view digits) {
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        const unsigned digit = hex_digit_value(c);
        if (digit >= 16) return std::nullopt;
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// Resolves the escapes of `body`, which holds one at `first_escape`.
Result<std::string> unescape(std::string_view body, std::size_t first_escape) {
    std::string out;
    out.reserve(body.size());
    std::size_t i = first_escape;
    out.append(body.substr(0, i));
    while (i < body.size()) {
        if (body[i] != '\\') {
            const std::size_t next = std::min(body.find('\\', i), body.size());
            out.append(body.substr(i, next - i));
            i = next;
            continue;
        }
        if (i + 1 >= body.size()) return fail(data_error("unterminated escape sequence"));
        const char c = body[i + 1];
        i += 2;
        switch (c) {
            case '"':
            case '\\':
                out += c;
                continue;
            case 'n':
                out += '\n';
                continue;
            case 'r':
                out += '\r';
                continue;
            case 't':
                out += '\t';
                continue;
            case 'b':
                out += '\b';
                continue;
            case 'f':
                out += '\f';
                continue;
            case 'u':
                break;
            default: {
                const std::string_view escaped =
                    body.substr(i - 1, char_length(body.substr(i - 1)));
                return fail(data_error("unsupported escape sequence \\", escaped, ""));
            }
        }
        if (i >= body.size() || body[i] != '{')
            return fail(data_error("expected '{' in unicode escape"));
        const std::size_t close = std::min(body.find('}', i + 1), body.size());
        const auto value = unicode_escape_value(body.substr(i + 1, close - i - 1));
        if (!value) return fail(data_error("invalid unicode escape"));
        if (*value > 0x10FFFF || (*value >= 0xD800 && *value <= 0xDFFF))
            return fail(data_error("invalid unicode scalar value"));
        unicode::append_utf8(out, static_cast<char32_t>(*value));
        i = close + 1;
    }
    return out;
}

// Characters (not bytes) of a compact hex body other than '_': the even-length rule counts them.
std::size_t hex_chars(std::string_view body) {
    std::size_t count = 0;
    for (char c : body) count += c != '_' && (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

}  // namespace

bool is_identifier_path(std::string_view s) {
    while (true) {
        const std::size_t separator = s.find("::");
        if (!is_identifier(s.substr(0, separator))) return false;
        if (separator == std::string_view::npos) return true;
        s.remove_prefix(separator + 2);
    }
}

Result<std::string> parse_quoted_string(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return fail(data_error("invalid quoted string literal"));
    const std::string_view body = text.substr(1, text.size() - 2);
    const std::size_t escape = body.find('\\');
    if (escape == std::string_view::npos) return std::string(body);
    return unescape(body, escape);
}

Result<std::string> parse_triple_quoted(std::string_view text) {
    if (text.size() < 6 || !text.ends_with(R"(""")"))
        return fail(data_error("invalid triple-quoted string literal"));
    return std::string(text.substr(3, text.size() - 6));
}

Result<std::optional<TaggedText>> parse_prefixed_quoted(std::string_view text) {
    const std::size_t quote = text.find('"');
    if (quote == std::string_view::npos || quote == 0 || text.back() != '"') return std::nullopt;
    const std::string_view tag = trim(text.substr(0, quote));
    if (!is_identifier(tag)) return std::nullopt;
    DRAL_ASSIGN_OR_RETURN(std::string value, parse_quoted_string(text.substr(quote)));
    return TaggedText{std::string(tag), std::move(value)};
}

Result<Bytes> parse_hex_compact(std::string_view body) {
    if (hex_chars(body) % 2 != 0)
        return fail(data_error("hex bytes literal must have even length"));
    Bytes bytes;
    bytes.reserve(body.size() / 2);
    unsigned high = 16;
    for (char c : body) {
        if (c == '_') continue;
        const unsigned digit = hex_digit_value(c);
        if (digit >= 16) return fail(data_error("invalid hex bytes literal"));
        if (high == 16) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = 16;
        }
    }
    return bytes;
}

Result<Bytes> parse_hex_spaced(std::string_view body) {
    Bytes bytes;
    bytes.reserve(body.size() / 3 + 1);
    while (!(body = trim_start(body)).empty()) {
        const std::size_t end = find_space(body);
        const std::string_view piece = body.substr(0, end);
        body.remove_prefix(end);
        if (count_chars(piece) != 2)
            return fail(data_error("space-separated hex bytes must be two hex digits each"));
        const unsigned high = hex_digit_value(piece[0]);
        const unsigned low = hex_digit_value(piece[piece.size() - 1]);
        if (piece.size() != 2 || high >= 16 || low >= 16)
            return fail(data_error("invalid hex byte in literal"));
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

Result<Bytes> parse_hex_literal(std::string_view text) {
    // The opening quote does not close the literal: `b"` alone is unterminated.
    if (text.size() < 3 || text.back() != '"')
        return fail(data_error("unterminated hex bytes literal"));
    return parse_hex_compact(text.substr(2, text.size() - 3));
}

Result<Bytes> parse_base64_literal(std::string_view text) {
    if (text.size() < 5 || text.back() != '"')
        return fail(data_error("unterminated base64 bytes literal"));
    auto decoded = base64::decode(text.substr(4, text.size() - 5));
    if (!decoded) return fail(DralError::invalid_base64(std::move(decoded.error())));
    return std::move(*decoded);
}

Result<std::string> parse_symbol(std::string_view text) {
    const std::string_view name = text.substr(1);
    if (!is_identifier(name)) return fail(data_error("invalid symbol '", name, "'"));
    return std::string(name);
}

}  // namespace dral_core::rfc001::ctn
