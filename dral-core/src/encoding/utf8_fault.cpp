#include "encoding/utf8_fault.hpp"

namespace dral_core {
namespace {

// The bytes a character led by `lead` takes, 0 when no character starts with it.
std::size_t width_of(std::uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Whether `byte` may follow `lead` as the character's second byte: the narrower ranges exclude
// overlong forms, surrogates and code points past U+10FFFF.
bool fits_second(std::uint8_t lead, std::uint8_t byte) {
    switch (lead) {
        case 0xE0:
            return byte >= 0xA0 && byte <= 0xBF;
        case 0xED:
            return byte >= 0x80 && byte <= 0x9F;
        case 0xF0:
            return byte >= 0x90 && byte <= 0xBF;
        case 0xF4:
            return byte >= 0x80 && byte <= 0x8F;
        default:
            return (byte & 0xC0) == 0x80;
    }
}

}  // namespace

std::string describe_utf8_fault(const std::uint8_t* data, std::size_t length) {
    std::size_t i = 0;
    while (i < length) {
        const std::size_t width = width_of(data[i]);
        std::size_t good = 1;  // bytes of the character at i that fit so far
        if (width == 0) {
            return "invalid utf-8 sequence of 1 bytes from index " + std::to_string(i);
        }
        while (good < width && i + good < length) {
            const std::uint8_t byte = data[i + good];
            const bool fits = good == 1 ? fits_second(data[i], byte) : (byte & 0xC0) == 0x80;
            if (!fits) break;
            ++good;
        }
        if (good == width) {
            i += width;
            continue;
        }
        if (i + good == length)
            return "incomplete utf-8 byte sequence from index " + std::to_string(i);
        return "invalid utf-8 sequence of " + std::to_string(good) + " bytes from index " +
               std::to_string(i);
    }
    return {};
}

}  // namespace dral_core
