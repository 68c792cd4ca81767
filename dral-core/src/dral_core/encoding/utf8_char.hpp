// The one strict reader of a UTF-8 character. Every validator, decoder and fault message of the
// library is built on it, so that they all agree on what UTF-8 is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

namespace dral_core {

struct Utf8Char {
    char32_t code_point;
    std::size_t length;  // bytes, 1 to 4
};

// Why no character starts where one was read. `length` bytes there fit the start of a character
// (1 when the first byte starts none): the longest such prefix, which a message quotes.
struct Utf8Fault {
    std::size_t length;
    bool truncated;  // the text ended after those bytes; otherwise the next byte does not fit
};

inline bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The character at `data`, of which `available` bytes (at least one) may be read. Overlong forms,
// surrogates, values past U+10FFFF and sequences cut short are faults. The second byte's range
// depends on the lead (0xE0, 0xED, 0xF0 and 0xF4 narrow it): checking it there rules those out
// before anything is decoded, and says exactly how many bytes fit.
inline std::expected<Utf8Char, Utf8Fault> decode_utf8_char(const std::uint8_t* data,
                                                           std::size_t available) {
    const std::uint32_t lead = data[0];
    if (lead < 0x80) return Utf8Char{lead, 1};
    if (lead < 0xC2 || lead > 0xF4) return std::unexpected(Utf8Fault{1, false});
    std::size_t width;
    char32_t code_point;
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead < 0xE0) {
        width = 2, code_point = lead & 0x1F;
    } else if (lead < 0xF0) {
        width = 3, code_point = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // below: overlong
        high = lead == 0xED ? 0x9F : 0xBF;  // above: surrogates
    } else {
        width = 4, code_point = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;   // below: overlong
        high = lead == 0xF4 ? 0x8F : 0xBF;  // above: past U+10FFFF
    }
    for (std::size_t k = 1; k < width; ++k) {
        if (k == available) return std::unexpected(Utf8Fault{k, true});
        const std::uint8_t byte = data[k];
        if (byte < low || byte > high) return std::unexpected(Utf8Fault{k, false});
        low = 0x80, high = 0xBF;
        code_point = code_point << 6 | (byte & 0x3F);
    }
    return Utf8Char{code_point, width};
}

// The character at the start of `text`; empty text holds none.
inline std::expected<Utf8Char, Utf8Fault> decode_utf8_char(std::string_view text) {
    if (text.empty()) return std::unexpected(Utf8Fault{0, true});
    return decode_utf8_char(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace dral_core
