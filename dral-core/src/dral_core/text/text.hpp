// The human-readable text notation of a Value: reader and writer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "dral_core/base/error.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

// Reads one whole document (a value, optionally one ';', then nothing but blanks and comments).
// Fails with a TextParse error that carries the 1-based line and column, in characters.
Result<Value> parse(std::string_view text);

// The same for text known to be valid UTF-8 (all ASCII when `ascii`), which is not checked again.
Result<Value> parse_valid(std::string_view text, bool ascii);

// The indented multi-line notation of `value`, `indent` spaces per level; never fails and never
// ends with a line feed.
std::string pretty_print(const Value& value, std::size_t indent);

class TextOutput;

// Writes the notation of `value` at the top level of `out`.
void write_text(TextOutput& out, const Value& value);

}  // namespace dral_core
