// The string dictionary block: the block's distinct string values sorted by their bytes, each
// stored as a prefix shared with its predecessor plus a suffix.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/base/string_sort.hpp"
#include "dral_core/binary/string_index.hpp"

namespace dral_core {

// The memory build_string_dict works in. Kept between dictionaries, it spares them allocating
// again.
struct StringDictMemory {
    std::vector<SortedString> strings;
    StringSortMemory sort;
    ByteBuffer payload;
    std::size_t capacity_bytes() const {
        return strings.capacity() * sizeof(SortedString) + sort.capacity_bytes() +
               payload.capacity();
    }
};

// Builds, in `memory`, the payload for the strings of `index`, whose bytes live in `block`.
std::span<const std::uint8_t> build_string_dict(const StringIndex& index, const ByteBuffer& block,
                                                StringDictMemory& memory);

// The strings of a dictionary payload, placed at their indices. Every entry is charged to
// `memory` before it is built: an entry may repeat most of the one before it, so a small payload
// can describe far more text than it holds. Error offsets count from the payload's first byte.
struct StringDict {
    ByteBuffer storage;  // moving it keeps the bytes where the views point
    std::vector<std::string_view> strings;
};
Result<StringDict> parse_string_dict(std::span<const std::uint8_t> payload, std::uint64_t max_items,
                                     MemoryMeter& memory);

}  // namespace dral_core
