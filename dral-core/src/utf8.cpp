#include "utf8.hpp"

#include <algorithm>

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
    if (length - i < 8) return false;
    std::uint64_t chunk;
    std::memcpy(&chunk, data + i, 8);
    return (chunk & 0x8080808080808080ull) == 0;
}

}  // namespace

Utf8Class classify_utf8_slow(const std::uint8_t* data, std::size_t length, std::size_t i) {
    while (i < length) {
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        auto character = read_character(data, length, i);
        if (!character) return Utf8Class::Invalid;
        i += character->length;
    }
    return Utf8Class::NonAscii;
}

std::optional<Utf8Measure> measure_utf8(const std::uint8_t* data, std::size_t length) {
    Utf8Measure measure{0, 0};
    std::size_t i = 0;
    while (i < length) {
        if (ascii_word_at(data, length, i)) {
            measure.code_points += 8;
            i += 8;
        } else if (data[i] < 0x80) {
            measure.code_points += 1;
            i += 1;
        } else {
            auto character = read_character(data, length, i);
            if (!character) return std::nullopt;
            measure.code_points += 1;
            measure.largest_non_ascii = std::max(measure.largest_non_ascii, character->code);
            i += character->length;
        }
    }
    return measure;
}

}  // namespace dral_core
