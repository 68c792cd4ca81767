#include "dral_core/base/key_index.hpp"

#include <algorithm>

namespace dral_core {

void KeyIndex::build(std::vector<SortedString> keys) {
    StringSortMemory memory;
    sort_strings(keys, memory);
    // Of the entries that share a key, only the first is kept: the one a lookup must find.
    positions_.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size();) {
        std::uint32_t first = keys[i].index;
        std::size_t j = i + 1;
        for (; j < keys.size() && keys[j].text == keys[i].text; ++j)
            first = std::min(first, keys[j].index);
        positions_.push_back(first);
        i = j;
    }
    positions_.shrink_to_fit();
}

}  // namespace dral_core
