#include "string_sort.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace dral_core {
namespace {

constexpr std::size_t kInsertionSortLimit = 16;

// The byte at `depth`, or -1 past the end so that shorter strings sort first.
int byte_at(const SortedString& s, std::size_t depth) {
    return depth < s.text.size() ? static_cast<unsigned char>(s.text[depth]) : -1;
}

bool less_from(const SortedString& a, const SortedString& b, std::size_t depth) {
    return a.text.substr(std::min(depth, a.text.size())) <
           b.text.substr(std::min(depth, b.text.size()));
}

void insertion_sort(SortedString* first, std::size_t count, std::size_t depth) {
    for (std::size_t i = 1; i < count; ++i)
        for (std::size_t j = i; j > 0 && less_from(first[j], first[j - 1], depth); --j)
            std::swap(first[j], first[j - 1]);
}

int median_of_three(int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Length of the prefix that every string of the range shares from `depth` on.
std::size_t common_prefix(const SortedString* s, std::size_t n, std::size_t depth) {
    std::string_view first = s[0].text.substr(depth);
    std::size_t common = first.size();
    for (std::size_t i = 1; i < n && common > 0; ++i) {
        std::string_view other = s[i].text.substr(depth);
        std::size_t limit = std::min(common, other.size()), k = 0;
        while (k + 8 <= limit && std::memcmp(first.data() + k, other.data() + k, 8) == 0) k += 8;
        while (k < limit && first[k] == other[k]) ++k;
        common = k;
    }
    return common;
}

struct Range {
    std::size_t first;
    std::size_t count;
    std::size_t depth;
};

}  // namespace

void sort_strings(std::vector<SortedString>& strings) {
    // An explicit stack: the depth of the work follows the strings' length, not the call stack.
    std::vector<Range> pending{{0, strings.size(), 0}};
    while (!pending.empty()) {
        Range range = pending.back();
        pending.pop_back();
        SortedString* s = strings.data() + range.first;
        std::size_t n = range.count, depth = range.depth;
        if (n < kInsertionSortLimit) {
            insertion_sort(s, n, depth);
            continue;
        }
        int pivot = median_of_three(byte_at(s[0], depth), byte_at(s[n / 2], depth),
                                    byte_at(s[n - 1], depth));
        // Three-way partition: [0, lt) below the pivot byte, [lt, gt) equal, [gt, n) above.
        std::size_t lt = 0, i = 0, gt = n;
        while (i < gt) {
            int c = byte_at(s[i], depth);
            if (c < pivot)
                std::swap(s[lt++], s[i++]);
            else if (c > pivot)
                std::swap(s[i], s[--gt]);
            else
                ++i;
        }
        if (lt == 0 && gt == n && pivot >= 0) {
            // All share this byte: skip their whole common prefix at once rather than byte by
            // byte, which matters for the long shared prefixes of URLs and paths.
            pending.push_back({range.first, n, depth + common_prefix(s, n, depth)});
            continue;
        }
        if (lt > 1) pending.push_back({range.first, lt, depth});
        if (n - gt > 1) pending.push_back({range.first + gt, n - gt, depth});
        // Strings equal through the pivot byte continue at the next byte, unless they ended.
        if (pivot >= 0 && gt - lt > 1) pending.push_back({range.first + lt, gt - lt, depth + 1});
    }
}

}  // namespace dral_core
