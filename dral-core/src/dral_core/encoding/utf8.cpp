#include "dral_core/encoding/utf8.hpp"

#include <algorithm>
#include <cstring>

namespace dral_core {

namespace {

bool ascii_word_at(const std::uint8_t* data, std::size_t length, std::size_t i) {
    return length - i >= 8 && is_ascii_word(data + i);
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
        auto character = decode_utf8_char(data + i, length - i);
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
        auto character = decode_utf8_char(data + i, length - i);
        if (!character) return std::nullopt;
        i += character->length;
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

std::optional<Utf8Measure> decode_and_measure_utf8(const std::uint8_t* data, std::size_t length,
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
        auto character = decode_utf8_char(data + i, length - i);
        if (!character) return std::nullopt;
        i += character->length;
        *out++ = character->code_point;
        largest_non_ascii = std::max(largest_non_ascii, character->code_point);
    }
    return Utf8Measure{static_cast<std::size_t>(out - start), widest_for(largest_non_ascii)};
}

}  // namespace dral_core
