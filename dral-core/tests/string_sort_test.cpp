// The radix sort of strings against the standard library's comparison sort, over the shapes that
// take its different steps: short tails read with overlapping loads, long shared prefixes,
// duplicates, bytes past 0x7F (which order as unsigned), and sizes around the insertion sort.
#include "dral_core/base/string_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace dral_core {
namespace {

struct Shape {
    const char* name;
    std::string alphabet;
    std::string prefix;
    std::size_t longest;
};
void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

std::vector<std::string> strings_of(const Shape& shape, std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> strings;
    for (std::size_t i = 0; i < count; ++i) {
        std::string s = random() % 3 ? shape.prefix : "";
        const std::size_t length = random() % (shape.longest + 1);
        for (std::size_t k = 0; k < length; ++k)
            s += shape.alphabet[random() % shape.alphabet.size()];
        strings.push_back(s);
        if (random() % 5 == 0) strings.push_back(s);  // duplicates
    }
    return strings;
}

class StringSort : public testing::TestWithParam<Shape> {};

TEST_P(StringSort, OrdersAsTheBytesDo) {
    StringSortMemory memory;  // kept between sorts, as its users keep it
    for (std::size_t count : {0, 1, 2, 3, 31, 32, 33, 64, 65, 200, 5000}) {
        const std::vector<std::string> strings = strings_of(GetParam(), count, unsigned(count));
        std::vector<SortedString> sorted;
        for (std::size_t i = 0; i < strings.size(); ++i)
            sorted.push_back({strings[i], static_cast<std::uint32_t>(i)});
        sort_strings(sorted, memory);

        std::vector<std::string> expected = strings;
        std::sort(expected.begin(), expected.end());  // std::string compares as unsigned bytes
        ASSERT_EQ(sorted.size(), expected.size());
        std::vector<bool> seen(strings.size());
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            ASSERT_EQ(sorted[i].text, expected[i]) << count << " strings, at " << i;
            ASSERT_EQ(strings[sorted[i].index], sorted[i].text);  // each entry keeps its index
            ASSERT_FALSE(seen[sorted[i].index]);
            seen[sorted[i].index] = true;
        }
    }
}

TEST(StringSortPrefix, OrdersAsTheBytesDoAtEveryDepth) {
    const std::vector<std::string> texts = {"",
                                            "a",
                                            "ab",
                                            "abc",
                                            "abcd",
                                            "abcdefgh",
                                            "abcdefghi",
                                            "\x7f",
                                            "\x80",
                                            "\xff\xff",
                                            std::string(1, '\0'),
                                            std::string("a\0b", 3)};
    for (const auto& a : texts)
        for (const auto& b : texts) {
            // Eight bytes, zero-padded: what the prefix must order as.
            const std::string padded_a = (a + std::string(8, '\0')).substr(0, 8);
            const std::string padded_b = (b + std::string(8, '\0')).substr(0, 8);
            EXPECT_EQ(sort_prefix(a) < sort_prefix(b), padded_a < padded_b)
                << testing::PrintToString(a) << " " << testing::PrintToString(b);
            EXPECT_EQ(sort_prefix(a) == sort_prefix(b), padded_a == padded_b);
        }
}

INSTANTIATE_TEST_SUITE_P(
    Strings, StringSort,
    testing::Values(Shape{"short_ascii", "ab", "", 6}, Shape{"words", "etaoinshr", "", 14},
                    Shape{"urls", "abc/", "https://example.org/", 30},
                    Shape{"high_bytes", std::string("\x01\x7f\x80\xff", 4), "", 12},
                    Shape{"with_nul", std::string("\0a", 2), "k", 10}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dral_core
