// Character-level reading: positions, whitespace, comments, strings, annotations, the entry point.
#include "text_parser.hpp"

#include <cstdint>
#include <cstring>
#include <string>

#include "text.hpp"
#include "unicode.hpp"
#include "utf8.hpp"

namespace dral_core {
namespace {

bool is_ascii_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where the plain run of a string body that starts at `from` ends: at the first double quote or
// backslash, or at the end of `text`. `quote` caches the next double quote at or after `from`
// (npos: search again), so a body with many escapes is still scanned for quotes only once.
std::size_t plain_run_end(std::string_view text, std::size_t from, std::size_t& quote) {
    if (quote == std::string_view::npos || quote < from) {
        const void* found = std::memchr(text.data() + from, '"', text.size() - from);
        quote = found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                      : text.size();
    }
    const void* backslash = std::memchr(text.data() + from, '\\', quote - from);
    return backslash ? static_cast<std::size_t>(static_cast<const char*>(backslash) - text.data())
                     : quote;
}

// A parse error at a byte offset: the line (1-based, counting line feeds) and the column
// (1-based, in characters since the last line feed).
DralError error_at(std::string_view text, std::size_t offset, std::string message) {
    std::size_t line = 1, col = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            ++line, col = 1;
        } else if (!unicode::is_utf8_continuation(byte)) {
            ++col;
        }
    }
    return DralError::text_parse(std::move(message), line, col);
}

}  // namespace

DralError Parser::error_here(std::string message) const {
    return error_at(input_, pos_, std::move(message));
}

std::optional<char32_t> Parser::peek() const {
    if (at_end()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(input_[pos_]);
    if (lead < 0x80) return lead;
    auto decoded = unicode::decode_utf8(input_.substr(pos_));
    return decoded ? decoded->code_point : U'\uFFFD';
}

std::string_view Parser::next_char_text() const {
    if (at_end()) return {};
    auto decoded = unicode::decode_utf8(input_.substr(pos_));
    return input_.substr(pos_, decoded ? decoded->length : 1);
}

bool Parser::consume_if(char expected) {
    if (at_end() || input_[pos_] != expected) return false;
    consume_bytes(1);
    return true;
}

std::optional<char32_t> Parser::advance() {
    if (at_end()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(input_[pos_]);
    if (lead < 0x80) {
        consume_bytes(1);
        return lead;
    }
    auto c = peek();
    consume_bytes(next_char_text().size());
    return c;
}

void Parser::skip_whitespace_and_comments() {
    for (;;) {
        while (!at_end()) {
            const char byte = input_[pos_];
            if (is_ascii_blank(byte)) {
                ++pos_;
                continue;
            }
            if (static_cast<unsigned char>(byte) < 0x80 || !unicode::is_white_space(*peek())) break;
            consume_bytes(next_char_text().size());
        }
        if (starts_with("//")) {
            const std::size_t newline = input_.find('\n', pos_);
            consume_bytes(newline == std::string_view::npos ? input_.size() - pos_
                                                            : newline + 1 - pos_);
        } else if (starts_with("/*")) {
            skip_block_comment();
        } else {
            return;
        }
    }
}

void Parser::skip_block_comment() {
    consume_bytes(2);
    std::size_t depth = 1;
    // Only '/' and '*' matter, and neither can hide inside a multi-byte character.
    while (depth > 0 && !at_end()) {
        const std::size_t mark = input_.find_first_of("/*", pos_);
        if (mark == std::string_view::npos) {
            consume_bytes(input_.size() - pos_);  // unterminated: the rest is comment
            return;
        }
        consume_bytes(mark + 1 - pos_);
        const char consumed = input_[mark];
        const char wanted = consumed == '/' ? '*' : '/';
        if (!at_end() && input_[pos_] == wanted) {
            consume_bytes(1);
            depth = consumed == '/' ? depth + 1 : depth - 1;
        }
    }
}

void Parser::skip_name_chars() {
    while (!at_end()) {
        const auto byte = static_cast<unsigned char>(input_[pos_]);
        if (byte < 0x80) {
            if (byte != '_' && !unicode::is_alphanumeric(byte)) return;
            ++pos_;
            continue;
        }
        auto decoded = unicode::decode_utf8(input_.substr(pos_));
        if (!decoded || !unicode::is_alphanumeric(decoded->code_point)) return;
        pos_ += decoded->length;
    }
}

void Parser::skip_type_annotation() {
    if (!starts_with("::")) return;
    consume_bytes(2);
    skip_name_chars();
}

Status Parser::expect(char expected) {
    skip_whitespace_and_comments();
    const std::size_t start = pos_;
    if (!advance()) return fail(error_here(std::string("expected '") + expected + "', got EOF"));
    const std::string_view got = input_.substr(start, pos_ - start);
    if (got.size() != 1 || got[0] != expected)
        return fail(
            error_here(std::string("expected '") + expected + "', got '" + std::string(got) + "'"));
    return {};
}

Result<std::string> Parser::parse_quoted_string() {
    DRAL_TRY(expect('"'));
    std::string text;
    std::size_t quote = std::string_view::npos;
    for (;;) {
        // Copy plain runs whole; only the quote and the backslash need a look. memchr scans beat
        // find_first_of, which tests every byte against the set one by one.
        const std::size_t run_end = plain_run_end(input_, pos_, quote);
        text.append(input_.substr(pos_, run_end - pos_));
        consume_bytes(run_end - pos_);
        if (at_end()) return fail(error_here("unterminated string"));

        const char special = input_[pos_];
        consume_bytes(1);
        if (special == '"') return text;

        const std::size_t escaped_at = pos_;
        auto escaped = advance();
        if (!escaped) return fail(error_here("unterminated string escape"));
        switch (*escaped) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            default:  // unknown escapes stay as written, backslash included
                text += '\\';
                text.append(input_.substr(escaped_at, pos_ - escaped_at));
        }
    }
}

Result<Value> parse(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (!is_valid_utf8(bytes, text.size()))
        return fail(error_at(text, unicode::valid_utf8_prefix(text), "invalid UTF-8"));

    Parser parser(text);
    DRAL_ASSIGN_OR_RETURN(Value value, parser.parse_value());
    parser.skip_whitespace_and_comments();
    if (parser.consume_if(';')) parser.skip_whitespace_and_comments();
    if (!parser.at_end()) return fail(parser.error_here("unexpected trailing content"));
    return value;
}

}  // namespace dral_core
