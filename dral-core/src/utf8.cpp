#include "utf8.hpp"

namespace dral_core {

Utf8Class classify_utf8_slow(const std::uint8_t* data, std::size_t length, std::size_t i) {
    while (i < length) {
        std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
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
            return Utf8Class::Invalid;
        }
        if (length - i <= extra) return Utf8Class::Invalid;
        for (std::size_t k = 1; k <= extra; ++k) {
            std::uint8_t next = data[i + k];
            if ((next & 0xC0) != 0x80) return Utf8Class::Invalid;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return Utf8Class::Invalid;
        i += extra + 1;
    }
    return Utf8Class::NonAscii;
}

}  // namespace dral_core
