// UTF-8 decoding and the few Unicode classifications the text readers and writers need.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dral_core::unicode {

struct Utf8Char {
    char32_t code_point;
    std::size_t length;  // bytes, 1 to 4
};

// Decodes the character at the start of `text`. Strict: overlong forms, surrogates, values past
// U+10FFFF and truncated sequences give nothing.
std::optional<Utf8Char> decode_utf8(std::string_view text);

// Appends the UTF-8 form of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

// Length of the longest prefix of `text` that is well-formed UTF-8.
std::size_t valid_utf8_prefix(std::string_view text);

inline bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The White_Space property.
bool is_white_space(char32_t c);

// The derived property Alphabetic.
bool is_alphabetic(char32_t c);

// General categories Nd, Nl and No.
bool is_numeric(char32_t c);

inline bool is_alphanumeric(char32_t c) { return is_alphabetic(c) || is_numeric(c); }

}  // namespace dral_core::unicode
