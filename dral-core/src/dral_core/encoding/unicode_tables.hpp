// Sorted range tables of Unicode properties, generated into unicode_tables.cpp.
#pragma once

#include <span>

namespace dral_core::unicode {

struct CodePointRange {
    char32_t first;
    char32_t last;  // inclusive
};

// Non-ASCII code points only, sorted and disjoint, so a binary search finds membership.
extern const std::span<const CodePointRange> kAlphabeticRanges;
extern const std::span<const CodePointRange> kNumericRanges;

}  // namespace dral_core::unicode
