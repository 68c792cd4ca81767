// UTF-8 validation with an ASCII fast path; callers learn whether the text was pure ASCII.
#pragma once

#include <cstdint>
#include <cstring>

namespace dral_core {

enum class Utf8Class : std::uint8_t { Invalid, Ascii, NonAscii };

Utf8Class classify_utf8_slow(const std::uint8_t* data, std::size_t length, std::size_t start);

inline Utf8Class classify_utf8(const std::uint8_t* data, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, data + i, 8);
        if (chunk & 0x8080808080808080ull) return classify_utf8_slow(data, length, i);
    }
    for (; i < length; ++i)
        if (data[i] & 0x80) return classify_utf8_slow(data, length, i);
    return Utf8Class::Ascii;
}

inline bool is_ascii(const std::uint8_t* data, std::size_t length) {
    std::size_t i = 0;
    std::uint64_t any = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, data + i, 8);
        any |= chunk;
    }
    for (; i < length; ++i) any |= data[i];
    return (any & 0x8080808080808080ull) == 0;
}

inline bool is_valid_utf8(const std::uint8_t* data, std::size_t length) {
    return classify_utf8(data, length) != Utf8Class::Invalid;
}

// Largest prefix length not above `length` that ends on a character boundary of `text`.
inline std::size_t utf8_floor_boundary(const std::uint8_t* text, std::size_t text_length,
                                       std::size_t length) {
    if (length >= text_length) return text_length;
    while (length > 0 && (text[length] & 0xC0) == 0x80) --length;
    return length;
}

}  // namespace dral_core
