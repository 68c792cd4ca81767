#include "encoding/unicode.hpp"

#include <algorithm>
#include <span>

#include "encoding/unicode_tables.hpp"

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

std::optional<Utf8Char> decode_utf8(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return Utf8Char{lead, 1};

    std::size_t length;
    char32_t code_point;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;  // continuation byte, or a lead that can only start an overlong form
    }
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!is_utf8_continuation(byte)) return std::nullopt;
        code_point = (code_point << 6) | (byte & 0x3F);
    }
    if (code_point < minimum || code_point > 0x10FFFF) return std::nullopt;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) return std::nullopt;
    return Utf8Char{code_point, length};
}

std::size_t valid_utf8_prefix(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        auto decoded = decode_utf8(text.substr(pos));
        if (!decoded) break;
        pos += decoded->length;
    }
    return pos;
}

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
