// The reading state of the text notation parser; `parse` in text.hpp is the entry point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"
#include "value.hpp"

namespace dral_core {

class Parser {
public:
    // `input` is borrowed and should be valid UTF-8 (`parse` checks it); a stray byte is still
    // read safely, as one character.
    explicit Parser(std::string_view input) : input_(input) {}

    // One value, after any whitespace and comments. Containers nest at most kMaxNestingDepth deep;
    // deeper input fails at the opening bracket that goes too deep.
    Result<Value> parse_value();
    Result<std::string> parse_quoted_string();
    // Consumes a `::name` that starts exactly here; the name is thrown away.
    void skip_type_annotation();
    void skip_whitespace_and_comments();
    // Consumes one character; at end of input returns nothing and changes nothing.
    std::optional<char32_t> advance();

    // Consumes the next character if it is the ASCII character `expected`.
    bool consume_if(char expected);
    bool at_end() const { return pos_ >= input_.size(); }
    [[gnu::cold]] DralError error_here(std::string message) const;

private:
    // Any value but an array or an object.
    Result<Value> parse_scalar();
    Result<Value> parse_number();
    Result<Value> parse_bytes();
    // An object key and the ':' after it.
    Result<std::string> parse_key();
    // Skips blanks, consumes one character and fails unless it is `expected`.
    Status expect(char expected);

    bool starts_with(std::string_view prefix) const {
        return input_.substr(pos_).starts_with(prefix);
    }
    // The next character without consuming it; nothing at end of input.
    std::optional<char32_t> peek() const;
    // The bytes of the next character, for messages that quote it.
    std::string_view next_char_text() const;
    // Moves over `count` bytes that end on a character boundary. Lines and columns are not
    // counted on the way: only an error needs them, and it derives them from the byte offset.
    void consume_bytes(std::size_t count) { pos_ += count; }
    Value finish_keyword(std::size_t length, Value value);
    void skip_block_comment();
    // Consumes characters that are '_' or alphanumeric: the body of a bare key or annotation name.
    void skip_name_chars();

    std::string_view input_;
    std::size_t pos_ = 0;
};

}  // namespace dral_core
