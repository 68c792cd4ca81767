// Sorting strings by their bytes (a string that is a prefix of another first).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace dral_core {

struct SortedString {
    std::string_view text;
    std::uint32_t index;
};

// Sorts in place. A most-significant-byte radix sort over cached 8-byte keys: most steps read
// no string bytes, and shared prefixes (URLs, paths) are skipped rather than compared again and
// again as a comparison sort would.
void sort_strings(std::vector<SortedString>& strings);

}  // namespace dral_core
