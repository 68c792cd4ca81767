// Character-level reading: positions and errors, whitespace, comments, annotation names.
#include "dral_core/text/text_parser.hpp"

#include <string>

#include "dral_core/encoding/unicode.hpp"
#include "dral_core/encoding/utf8_char.hpp"
#include "dral_core/encoding/utf8_fault.hpp"

namespace dral_core {
namespace {

// A parse error at a byte offset: the line (1-based, counting line feeds) and the column
// (1-based, in characters since the last line feed).
DralError error_at(std::string_view text, std::size_t offset, std::string message) {
    std::size_t line = 1, col = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            ++line, col = 1;
        } else if (!is_utf8_continuation(byte)) {
            ++col;
        }
    }
    return DralError::text_parse(std::move(message), line, col);
}

}  // namespace

DralError invalid_utf8_error(std::string_view text) {
    return error_at(text, valid_utf8_prefix(text), "invalid UTF-8");
}

DralError Parser::error_here(std::string message) const {
    return error_at(input_, pos_, std::move(message));
}

DralError Parser::unexpected_character() const {
    return error_here("unexpected character: '" + std::string(next_char_text()) + "'");
}

std::optional<char32_t> Parser::peek() const {
    if (at_end()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(input_[pos_]);
    if (lead < 0x80) return lead;
    auto decoded = decode_utf8_char(input_.substr(pos_));
    return decoded ? decoded->code_point : U'\uFFFD';
}

std::string_view Parser::next_char_text() const {
    if (at_end()) return {};
    auto decoded = decode_utf8_char(input_.substr(pos_));
    return input_.substr(pos_, decoded ? decoded->length : 1);
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

void Parser::skip_unusual_blanks() {
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
            if (!is_ascii_name_char(byte)) return;
            ++pos_;
            continue;
        }
        auto decoded = decode_utf8_char(input_.substr(pos_));
        if (!decoded || !unicode::is_alphanumeric(decoded->code_point)) return;
        pos_ += decoded->length;
    }
}

Status Parser::expect_failed(char expected) {
    const std::size_t start = pos_;
    if (!advance()) return fail(error_here(std::string("expected '") + expected + "', got EOF"));
    const std::string_view got = input_.substr(start, pos_ - start);
    return fail(
        error_here(std::string("expected '") + expected + "', got '" + std::string(got) + "'"));
}

Status Parser::finish_document() {
    skip_whitespace_and_comments();
    if (consume_if(';')) skip_whitespace_and_comments();
    if (!at_end()) return fail(error_here("unexpected trailing content"));
    return {};
}

}  // namespace dral_core
