#include "dral_core/encoding/unicode.hpp"

#include <algorithm>
#include <span>

#include "dral_core/encoding/unicode_tables.hpp"

namespace dral_core::unicode {
namespace {

bool in_ranges(std::span<const CodePointRange> ranges, char32_t c) {
    // First range whose end is not below c; c is in the table only if that range starts by c.
    auto it =
        std::lower_bound(ranges.begin(), ranges.end(), c,
                         [](const CodePointRange& range, char32_t x) { return range.last < x; });
    return it != ranges.end() && it->first <= c;
}

}  // namespace

bool is_white_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return in_ranges(kAlphabeticRanges, c);
}

bool is_numeric(char32_t c) {
    if (c < 0x80) return c >= '0' && c <= '9';
    return in_ranges(kNumericRanges, c);
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace dral_core::unicode
