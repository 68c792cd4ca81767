// Sorting strings by their bytes (a string that is a prefix of another first).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_order.hpp"

namespace dral_core {

// Eight bytes of `text` from `depth` on as a big-endian number, zero-padded past its end: such
// numbers order as the bytes do, and equal ones leave only the rest of the strings to compare.
inline std::uint64_t sort_prefix(std::string_view text, std::size_t depth = 0) {
    const char* p = text.data() + depth;
    std::size_t n = text.size() - depth;
    if (n >= 8) return load_u64_be(p);
    // Short tails are read with whole loads that overlap, each byte landing where it belongs:
    // copying them into a zeroed word would stall the load of that word.
    if (n >= 4)
        return std::uint64_t{load_u32_be(p)} << 32 | std::uint64_t{load_u32_be(p + n - 4)}
                                                         << (64 - 8 * n);
    if (n == 0) return 0;
    auto byte = [&](std::size_t i) {
        return std::uint64_t{static_cast<unsigned char>(p[i])} << (56 - 8 * i);
    };
    return byte(0) | byte(n / 2) | byte(n - 1);
}

struct SortedString {
    std::string_view text;
    std::uint32_t index;
};

// Eight bytes of a string from some depth on, cached so that most steps never touch the text.
struct SortKey {
    std::uint64_t key;   // sort_prefix of the string at that depth
    std::uint32_t left;  // bytes left from that depth: 0..8, or 9 for more than 8
    std::uint32_t position;
};

// The memory sort_strings works in. Kept between sorts, it spares them allocating again.
struct StringSortMemory {
    std::vector<SortKey> keys;
    std::vector<SortKey> spare_keys;
    std::vector<SortedString> sorted;
    std::size_t capacity_bytes() const {
        return (keys.capacity() + spare_keys.capacity()) * sizeof(SortKey) +
               sorted.capacity() * sizeof(SortedString);
    }
};

// Sorts in place. A most-significant-byte radix sort over cached 8-byte keys: most steps read
// no string bytes, and shared prefixes (URLs, paths) are skipped rather than compared again and
// again as a comparison sort would.
void sort_strings(std::vector<SortedString>& strings, StringSortMemory& memory);

}  // namespace dral_core
