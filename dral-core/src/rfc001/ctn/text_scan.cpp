#include "rfc001/ctn/text_scan.hpp"

#include "encoding/unicode.hpp"

namespace dral_core::rfc001::ctn {

std::size_t non_ascii_space_prefix(std::string_view text) {
    auto decoded = unicode::decode_utf8(text);
    return decoded && unicode::is_white_space(decoded->code_point) ? decoded->length : 0;
}

std::size_t non_ascii_space_suffix(std::string_view text) {
    // Back over at most three continuation bytes to the lead byte of the last character.
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           unicode::is_utf8_continuation(static_cast<unsigned char>(text[start])))
        --start;
    auto decoded = unicode::decode_utf8(text.substr(start));
    if (!decoded || start + decoded->length != text.size()) return 0;
    return unicode::is_white_space(decoded->code_point) ? decoded->length : 0;
}

std::size_t find_space(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_ascii_space(text[i])) return i;
        if (is_non_ascii(text[i]) && non_ascii_space_prefix(text.substr(i)) != 0) return i;
    }
    return text.size();
}

std::size_t count_chars(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += !unicode::is_utf8_continuation(static_cast<unsigned char>(c));
    return count;
}

std::size_t char_length(std::string_view text) {
    auto decoded = unicode::decode_utf8(text);
    return decoded ? decoded->length : 1;
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

std::string concat(std::string_view a, std::string_view b, std::string_view c) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

}  // namespace dral_core::rfc001::ctn
