#include "encoding/utf8.hpp"

#include <algorithm>
#include <cstring>

namespace dral_core {

namespace {

// The code point of the multi-byte character at data[i], and its length, or nothing when it is
// not one.
struct Character {
    std::uint32_t code;
    std::size_t length;
};

std::optional<Character> read_character(const std::uint8_t* data, std::size_t length,
                                        std::size_t i) {
    std::uint8_t lead = data[i];
    std::size_t extra;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        code = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (length - i <= extra) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
        std::uint8_t next = data[i + k];
        if ((next & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
        return std::nullopt;
    return Character{code, extra + 1};
}

bool ascii_word_at(const std::uint8_t* data, std::size_t length, std::size_t i) {
    return length - i >= 8 && is_ascii_word(data + i);
}

// Two-byte characters (Latin, Greek, Cyrillic, Arabic, Hebrew...) need only this check.
bool two_byte_character_at(const std::uint8_t* data, std::size_t length, std::size_t i) {
    return data[i] >= 0xC2 && data[i] <= 0xDF && length - i >= 2 && (data[i + 1] & 0xC0) == 0x80;
}

// Three-byte characters (most of CJK): both continuation bytes, and a second byte that rules out
// the overlong forms (after E0) and the surrogates (after ED).
bool three_byte_character_at(const std::uint8_t* data, std::size_t length, std::size_t i) {
    const std::uint8_t lead = data[i];
    if ((lead & 0xF0) != 0xE0 || length - i < 3) return false;
    const std::uint8_t second = data[i + 1];
    if ((second & 0xC0) != 0x80 || (data[i + 2] & 0xC0) != 0x80) return false;
    return lead == 0xE0 ? second >= 0xA0 : lead != 0xED || second < 0xA0;
}

// Whether the 32 bytes at data[i] are there and all ASCII: long runs of it go a step each.
bool ascii_block_at(const std::uint8_t* data, std::size_t length, std::size_t i) {
    if (length - i < 32) return false;
    std::uint64_t words[4];
    std::memcpy(words, data + i, 32);
    return ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) == 0;
}

// Utf8Measure::widest for text whose largest non-ASCII code point is `largest` (0 for none).
std::uint32_t widest_for(char32_t largest) {
    return largest > 0xFFFF ? 0x10FFFF : largest > 0xFF ? 0xFFFF : largest != 0 ? 0xFF : 0x7F;
}

}  // namespace

Utf8Class classify_utf8_slow(const std::uint8_t* data, std::size_t length, std::size_t i) {
    while (i < length) {
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        if (three_byte_character_at(data, length, i)) {
            i += 3;
            continue;
        }
        auto character = read_character(data, length, i);
        if (!character) return Utf8Class::Invalid;
        i += character->length;
    }
    return Utf8Class::NonAscii;
}

std::optional<Utf8Measure> measure_utf8(const std::uint8_t* data, std::size_t length) {
    std::size_t code_points = 0;
    std::uint8_t largest_lead = 0;  // decides the width: no need to decode the characters
    std::size_t i = 0;
    while (i < length) {
        if (ascii_block_at(data, length, i)) {
            code_points += 32;
            i += 32;
            continue;
        }
        if (ascii_word_at(data, length, i)) {
            code_points += 8;
            i += 8;
            continue;
        }
        std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++code_points;
            ++i;
            continue;
        }
        if (two_byte_character_at(data, length, i)) {
            i += 2;
        } else if (three_byte_character_at(data, length, i)) {
            i += 3;
        } else {
            auto character = read_character(data, length, i);
            if (!character) return std::nullopt;
            i += character->length;
        }
        ++code_points;
        largest_lead = std::max(largest_lead, lead);
    }
    // The smallest code point the largest lead byte can start stands for the width it needs.
    char32_t smallest_of_lead = largest_lead >= 0xF0   ? 0x10000
                                : largest_lead >= 0xC4 ? 0x100
                                : largest_lead != 0    ? 0x80
                                                       : 0;
    return Utf8Measure{code_points, widest_for(smallest_of_lead)};
}

std::optional<Utf8Measure> decode_utf8(const std::uint8_t* data, std::size_t length,
                                       char32_t* out) {
    char32_t* start = out;
    char32_t largest_non_ascii = 0;
    std::size_t i = 0;
    while (i < length) {
        std::uint8_t lead = data[i];
        if (lead < 0x80) {
            if (ascii_word_at(data, length, i)) {
                widen_ascii_word(data + i, out);
                out += 8;
                i += 8;
            } else {
                *out++ = lead;
                i += 1;
            }
            continue;
        }
        char32_t code;
        if (two_byte_character_at(data, length, i)) {
            code = (lead & 0x1Fu) << 6 | (data[i + 1] & 0x3Fu);
            i += 2;
        } else if (three_byte_character_at(data, length, i)) {
            code = (lead & 0x0Fu) << 12 | (data[i + 1] & 0x3Fu) << 6 | (data[i + 2] & 0x3Fu);
            i += 3;
        } else {
            auto character = read_character(data, length, i);
            if (!character) return std::nullopt;
            code = character->code;
            i += character->length;
        }
        *out++ = code;
        largest_non_ascii = std::max(largest_non_ascii, code);
    }
    return Utf8Measure{static_cast<std::size_t>(out - start), widest_for(largest_non_ascii)};
}

}  // namespace dral_core
