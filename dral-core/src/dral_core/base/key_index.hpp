// Lookups by key in long sequences of entries that may repeat keys, where the first entry with a
// key wins: the objects of a value tree, the fields and pairs of a document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dral_core/base/string_sort.hpp"

namespace dral_core {

// The entries in the order of their keys, one per distinct key: a lookup is a binary search. A
// sorted index rather than a hash table, because no choice of keys can make it slower than its
// average, while an unseeded hash can be flooded with colliding keys.
class KeyIndex {
public:
    // Entry positions are stored in 32 bits.
    static constexpr std::size_t kMaxEntries = std::numeric_limits<std::uint32_t>::max();

    // The index of the `count` (at most kMaxEntries) keys that `key_at(i)` gives.
    template <class KeyAt>
    KeyIndex(std::size_t count, KeyAt key_at) {
        std::vector<SortedString> keys;
        keys.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            keys.push_back({key_at(i), static_cast<std::uint32_t>(i)});
        build(std::move(keys));
    }

    // The position of the first entry whose key is `key`; `key_at` is the one the index was
    // built with.
    template <class KeyAt>
    std::optional<std::size_t> find(std::string_view key, KeyAt key_at) const {
        std::size_t low = 0, high = positions_.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (std::string_view(key_at(positions_[middle])) < key)
                low = middle + 1;
            else
                high = middle;
        }
        if (low < positions_.size() && std::string_view(key_at(positions_[low])) == key)
            return positions_[low];
        return std::nullopt;
    }

private:
    void build(std::vector<SortedString> keys);

    std::vector<std::uint32_t> positions_;
};

// Key lookups in the containers of one tree that never changes, each found by its address.
// A short container is scanned. So is a long one at first: it gets its index once its scans have
// compared as many keys as sorting them would, so that a single lookup costs no sort, and many
// cost a scan each only until the index pays.
class KeyLookup {
public:
    // Containers of up to this many entries are always scanned.
    static constexpr std::size_t kScanned = 16;

    // The position of the first of the `count` entries of `container` whose key, as `key_at`
    // gives it, is `key`.
    template <class KeyAt>
    std::optional<std::size_t> find(const void* container, std::size_t count, std::string_view key,
                                    KeyAt key_at) {
        if (count <= kScanned || count > KeyIndex::kMaxEntries) return scan(count, key, key_at);
        Seen& seen = seen_[container];
        if (seen.index) return seen.index->find(key, key_at);
        std::optional<std::size_t> found = scan(count, key, key_at);
        seen.compared += found ? *found + 1 : count;
        if (seen.compared >= sort_cost(count)) seen.index.emplace(count, key_at);
        return found;
    }

private:
    struct Seen {
        std::size_t compared = 0;  // keys compared by the scans so far
        std::optional<KeyIndex> index;
    };

    template <class KeyAt>
    static std::optional<std::size_t> scan(std::size_t count, std::string_view key, KeyAt key_at) {
        for (std::size_t i = 0; i < count; ++i)
            if (std::string_view(key_at(i)) == key) return i;
        return std::nullopt;
    }

    // About the key comparisons that sorting `count` keys takes: count times log2(count).
    static std::size_t sort_cost(std::size_t count) {
        std::size_t log2 = 0;
        while ((std::size_t{1} << log2) < count) ++log2;
        return count * log2;
    }

    // Keyed by address: nothing a caller's data chooses.
    std::unordered_map<const void*, Seen> seen_;
};

}  // namespace dral_core
