// Whole texts of UTF-8: validation with an ASCII fast path (callers learn whether the text was
// pure ASCII), measuring and decoding, all on the one character reader of utf8_char.hpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "dral_core/encoding/utf8_char.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dral_core {

enum class Utf8Class : std::uint8_t { Invalid, Ascii, NonAscii };

Utf8Class classify_utf8_slow(const std::uint8_t* data, std::size_t length, std::size_t start);

// Whether the eight bytes at `data` are all ASCII.
inline bool is_ascii_word(const std::uint8_t* data) {
    std::uint64_t chunk;
    std::memcpy(&chunk, data, 8);
    return (chunk & 0x8080808080808080ull) == 0;
}

// Writes the eight ASCII characters at `data` to `out`, widened to `Char`. Compilers turn the
// plain loop into a byte at a time, or worse; SSE2 widens them in two or three instructions.
template <class Char>
void widen_ascii_word(const std::uint8_t* data, Char* out) {
    if constexpr (sizeof(Char) == 1) {
        std::memcpy(out, data, 8);
    } else {
#if defined(__SSE2__)
        __m128i zero = _mm_setzero_si128();
        __m128i words =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data)), zero);
        auto* to = reinterpret_cast<__m128i*>(out);
        if constexpr (sizeof(Char) == 2) {
            _mm_storeu_si128(to, words);
        } else {
            _mm_storeu_si128(to, _mm_unpacklo_epi16(words, zero));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(words, zero));
        }
#else
        for (int k = 0; k < 8; ++k) out[k] = data[k];
#endif
    }
}

// Writes the `16` bytes at `data`, widened to `Char`, to `out` and returns true, when they are all
// ASCII; otherwise writes nothing and returns false. Long runs of ASCII (indentation, text in
// Latin script) go through this sixteen bytes at a time.
template <class Char>
bool widen_ascii_16(const std::uint8_t* data, Char* out) {
#if defined(__SSE2__)
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    if (_mm_movemask_epi8(bytes) != 0) return false;
    auto* to = reinterpret_cast<__m128i*>(out);
    if constexpr (sizeof(Char) == 1) {
        _mm_storeu_si128(to, bytes);
    } else {
        __m128i zero = _mm_setzero_si128();
        __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
        if constexpr (sizeof(Char) == 2) {
            _mm_storeu_si128(to, low);
            _mm_storeu_si128(to + 1, high);
        } else {
            _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
            _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
            _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
        }
    }
    return true;
#else
    if (!is_ascii_word(data) || !is_ascii_word(data + 8)) return false;
    widen_ascii_word(data, out);
    widen_ascii_word(data + 8, out + 8);
    return true;
#endif
}

inline Utf8Class classify_utf8(const std::uint8_t* data, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8)
        if (!is_ascii_word(data + i)) return classify_utf8_slow(data, length, i);
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

// What a reader must know to allocate decoded text once: its length in code points and how wide
// they are.
struct Utf8Measure {
    std::size_t code_points;
    // The least of 0x7F, 0xFF, 0xFFFF and 0x10FFFF that no code point of the text exceeds.
    std::uint32_t widest;
};

// The measure of `data`, or nothing when it is not valid UTF-8.
std::optional<Utf8Measure> measure_utf8(const std::uint8_t* data, std::size_t length);

// Validates, measures and decodes `data` in one pass, writing its code points to `out`, which has
// room for `length` of them; nothing when it is not valid UTF-8.
std::optional<Utf8Measure> decode_and_measure_utf8(const std::uint8_t* data, std::size_t length,
                                                   char32_t* out);

// The least of 0x7F, 0xFF, 0xFFFF and 0x10FFFF that holds the character a UTF-8 lead byte starts.
inline std::uint32_t widest_of_lead(std::uint32_t lead) {
    return lead < 0x80 ? 0x7F : lead < 0xC4 ? 0xFF : lead < 0xF0 ? 0xFFFF : 0x10FFFF;
}

// Writes the code points of `data`, which measure_utf8 accepted, to `out`; `Char` must hold the
// largest of them. Input that was not accepted may be read past its end. Returns the largest lead
// byte met (0 for pure ASCII): widest_of_lead of it is the text's widest.
template <class Char>
std::uint32_t decode_measured_utf8(const std::uint8_t* data, std::size_t length, Char* out) {
    const std::uint8_t* end = data + length;
    std::uint32_t largest_lead = 0;
    while (data != end) {
        std::uint32_t lead = data[0];
        if (lead < 0x80) {
            if (end - data >= 16 && widen_ascii_16(data, out)) {
                out += 16;
                data += 16;
            } else if (end - data >= 8 && is_ascii_word(data)) {
                widen_ascii_word(data, out);
                out += 8;
                data += 8;
            } else {
                *out++ = static_cast<Char>(lead);
                data += 1;
            }
            continue;
        }
        largest_lead = lead > largest_lead ? lead : largest_lead;
        if (lead < 0xE0) {
            *out++ = static_cast<Char>((lead & 0x1F) << 6 | (data[1] & 0x3F));
            data += 2;
        } else if (lead < 0xF0) {
            *out++ =
                static_cast<Char>((lead & 0x0F) << 12 | (data[1] & 0x3F) << 6 | (data[2] & 0x3F));
            data += 3;
        } else {
            *out++ = static_cast<Char>((lead & 0x07) << 18 | (data[1] & 0x3F) << 12 |
                                       (data[2] & 0x3F) << 6 | (data[3] & 0x3F));
            data += 4;
        }
    }
    return largest_lead;
}

// Largest prefix length not above `length` that ends on a character boundary of `text`.
inline std::size_t utf8_floor_boundary(const std::uint8_t* text, std::size_t text_length,
                                       std::size_t length) {
    if (length >= text_length) return text_length;
    while (length > 0 && (text[length] & 0xC0) == 0x80) --length;
    return length;
}

}  // namespace dral_core
