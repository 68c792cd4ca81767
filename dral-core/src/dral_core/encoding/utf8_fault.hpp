// Where and why bytes are not UTF-8, for messages that quote the fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dral_core {

// For bytes that fail validation: "invalid utf-8 sequence of {n} bytes from index {i}" when the
// n bytes at index i cannot start any character, or "incomplete utf-8 byte sequence from index
// {i}" when the text ends inside a character begun at i. Valid text gives an empty string.
std::string describe_utf8_fault(const std::uint8_t* data, std::size_t length);

// Length of the longest prefix of `text` that is well-formed UTF-8.
std::size_t valid_utf8_prefix(std::string_view text);

}  // namespace dral_core
