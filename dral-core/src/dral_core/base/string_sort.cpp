#include "dral_core/base/string_sort.hpp"

#include <algorithm>
#include <array>

namespace dral_core {
namespace {

// Ranges this short are finished by insertion sort: cheaper than 257 buckets.
constexpr std::size_t kInsertionSortLimit = 32;
constexpr unsigned kKeyBytes = 8;

void load_key(SortKey& item, std::string_view text, std::size_t depth) {
    item.key = sort_prefix(text, depth);
    item.left =
        static_cast<std::uint32_t>(std::min<std::size_t>(text.size() - depth, kKeyBytes + 1));
}

// Padding makes a key tie with a longer string's zero bytes; the shorter one then sorts first.
bool less_from(const std::vector<SortedString>& strings, const SortKey& a, const SortKey& b,
               std::size_t depth) {
    if (a.key != b.key) return a.key < b.key;
    if (a.left != b.left || a.left <= kKeyBytes) return a.left < b.left;
    return strings[a.position].text.substr(depth + kKeyBytes) <
           strings[b.position].text.substr(depth + kKeyBytes);
}

void insertion_sort(const std::vector<SortedString>& strings, SortKey* s, std::size_t count,
                    std::size_t depth) {
    for (std::size_t i = 1; i < count; ++i) {
        SortKey item = s[i];
        std::size_t j = i;
        for (; j > 0 && less_from(strings, item, s[j - 1], depth); --j) s[j] = s[j - 1];
        s[j] = item;
    }
}

struct Range {
    std::size_t first;
    std::size_t count;
    std::size_t depth;  // of the cached keys
    unsigned byte;      // of the key that splits the range; the ones before it are shared
};

class RadixSorter {
public:
    RadixSorter(const std::vector<SortedString>& strings, StringSortMemory& memory)
        : strings_(strings), items_(memory.keys), scratch_(memory.spare_keys) {
        items_.resize(strings.size());
        scratch_.resize(strings.size());
        for (std::uint32_t i = 0; i < items_.size(); ++i) {
            items_[i].position = i;
            load_key(items_[i], strings[i].text, 0);
        }
    }

    // The strings in order, in `sorted`.
    void sort(std::vector<SortedString>& sorted) {
        // An explicit stack: the depth of the work follows the strings' length, not the call
        // stack.
        std::vector<Range> pending{{0, items_.size(), 0, 0}};
        while (!pending.empty()) {
            Range range = pending.back();
            pending.pop_back();
            if (range.count < kInsertionSortLimit) {
                // Past the bytes they all share, the cached keys settle most comparisons.
                skip_shared_bytes(range);
                insertion_sort(strings_, items_.data() + range.first, range.count, range.depth);
            } else {
                split(range, pending);
            }
        }
        sorted.clear();
        for (const SortKey& item : items_) sorted.push_back(strings_[item.position]);
    }

private:
    void reload(const Range& range) {
        for (std::size_t i = range.first; i < range.first + range.count; ++i)
            load_key(items_[i], strings_[items_[i].position].text, range.depth);
    }

    // Skips the bytes the whole range shares at once, reloading keys past each full key: long
    // shared prefixes (URLs, paths) are not split over and over byte by byte.
    void skip_shared_bytes(Range& range) {
        const SortKey* s = items_.data() + range.first;
        for (;;) {
            std::uint64_t differing = 0;
            std::uint32_t shortest = kKeyBytes + 1;
            for (std::size_t i = 0; i < range.count; ++i) {
                differing |= s[i].key ^ s[0].key;
                shortest = std::min(shortest, s[i].left);
            }
            unsigned shared = differing ? __builtin_clzll(differing) / 8 : kKeyBytes;
            shared = std::min<unsigned>(shared, shortest);
            if (shared < kKeyBytes) {
                range.byte = std::max(range.byte, shared);
                return;
            }
            range.depth += kKeyBytes;
            range.byte = 0;
            reload(range);
        }
    }

    // Distributes the range by one byte (bucket 0: strings that end before it) and queues the
    // buckets that still need sorting.
    void split(Range range, std::vector<Range>& pending) {
        skip_shared_bytes(range);
        SortKey* s = items_.data() + range.first;
        unsigned shift = 56 - 8 * range.byte;
        auto bucket = [&](const SortKey& item) -> unsigned {
            return item.left > range.byte ? ((item.key >> shift) & 0xff) + 1 : 0;
        };
        std::array<std::size_t, 257> start{};
        // Only the buckets between the lowest and highest used are walked: text uses few bytes.
        unsigned lowest = 256, highest = 0;
        for (std::size_t i = 0; i < range.count; ++i) {
            unsigned b = bucket(s[i]);
            ++start[b];
            lowest = std::min(lowest, b);
            highest = std::max(highest, b);
        }
        std::size_t total = 0;
        for (unsigned b = lowest; b <= highest; ++b) {
            std::size_t count = start[b];
            // Strings of bucket 0 are equal; the others continue at the next byte.
            if (b != 0 && count > 1)
                pending.push_back({range.first + total, count, range.depth, range.byte + 1});
            start[b] = total;
            total += count;
        }
        for (std::size_t i = 0; i < range.count; ++i) scratch_[start[bucket(s[i])]++] = s[i];
        std::copy_n(scratch_.begin(), range.count, s);
    }

    const std::vector<SortedString>& strings_;
    std::vector<SortKey>& items_;
    std::vector<SortKey>& scratch_;
};

}  // namespace

void sort_strings(std::vector<SortedString>& strings, StringSortMemory& memory) {
    if (strings.size() >= kInsertionSortLimit) {
        RadixSorter(strings, memory).sort(memory.sorted);
        strings.swap(memory.sorted);  // the memory keeps the unsorted vector's room
        return;
    }
    // A few strings: their keys fit on the stack, and insertion sort needs no buckets.
    SortKey items[kInsertionSortLimit];
    for (std::uint32_t i = 0; i < strings.size(); ++i) {
        items[i].position = i;
        load_key(items[i], strings[i].text, 0);
    }
    insertion_sort(strings, items, strings.size(), 0);
    SortedString sorted[kInsertionSortLimit];
    for (std::size_t i = 0; i < strings.size(); ++i) sorted[i] = strings[items[i].position];
    std::copy_n(sorted, strings.size(), strings.begin());
}

}  // namespace dral_core
