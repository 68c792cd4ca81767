// The string dictionary block: the block's distinct string values sorted by their bytes, each
// stored as a prefix shared with its predecessor plus a suffix.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byte_buffer.hpp"
#include "error.hpp"
#include "string_index.hpp"

namespace dral_core {

// Builds the payload for the strings of `index`, whose bytes live in `block`.
ByteBuffer build_string_dict(const StringIndex& index, const ByteBuffer& block);

// The strings of a dictionary payload, placed at their indices. Error offsets count from the
// payload's first byte.
struct StringDict {
    std::vector<char> storage;  // a vector: moving it keeps the bytes where the views point
    std::vector<std::string_view> strings;
};
Result<StringDict> parse_string_dict(std::span<const std::uint8_t> payload,
                                     std::uint64_t max_items);

}  // namespace dral_core
