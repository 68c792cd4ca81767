// The few Unicode classifications the text readers and writers need, and UTF-8 writing.
#pragma once

#include <string>

namespace dral_core::unicode {

// Appends the UTF-8 form of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

// The White_Space property.
bool is_white_space(char32_t c);

// The derived property Alphabetic.
bool is_alphabetic(char32_t c);

// General categories Nd, Nl and No.
bool is_numeric(char32_t c);

inline bool is_alphanumeric(char32_t c) { return is_alphabetic(c) || is_numeric(c); }

}  // namespace dral_core::unicode
