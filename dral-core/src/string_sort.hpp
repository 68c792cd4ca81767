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

// Sorts in place. Multikey quicksort: strings with long shared prefixes (URLs, paths) do not
// have those prefixes compared over and over as a comparison sort would.
void sort_strings(std::vector<SortedString>& strings);

}  // namespace dral_core
