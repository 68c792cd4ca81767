#include "dral_core/encoding/utf8_fault.hpp"

#include "dral_core/encoding/utf8_char.hpp"

namespace dral_core {

std::string describe_utf8_fault(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length;) {
        const auto character = decode_utf8_char(data + i, length - i);
        if (character) {
            i += character->length;
            continue;
        }
        if (character.error().truncated)
            return "incomplete utf-8 byte sequence from index " + std::to_string(i);
        return "invalid utf-8 sequence of " + std::to_string(character.error().length) +
               " bytes from index " + std::to_string(i);
    }
    return {};
}

std::size_t valid_utf8_prefix(std::string_view text) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto character = decode_utf8_char(data + pos, text.size() - pos);
        if (!character) break;
        pos += character->length;
    }
    return pos;
}

}  // namespace dral_core
