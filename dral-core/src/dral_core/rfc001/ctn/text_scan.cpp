#include "dral_core/rfc001/ctn/text_scan.hpp"

#include "dral_core/encoding/unicode.hpp"
#include "dral_core/encoding/utf8_char.hpp"

namespace dral_core::rfc001::ctn {

std::size_t non_ascii_space_prefix(std::string_view text) {
    auto decoded = decode_utf8_char(text);
    return decoded && unicode::is_white_space(decoded->code_point) ? decoded->length : 0;
}

std::size_t non_ascii_space_suffix(std::string_view text) {
    // Back over at most three continuation bytes to the lead byte of the last character.
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           is_utf8_continuation(static_cast<unsigned char>(text[start])))
        --start;
    auto decoded = decode_utf8_char(text.substr(start));
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
    for (char c : text) count += !is_utf8_continuation(static_cast<unsigned char>(c));
    return count;
}

std::size_t char_length(std::string_view text) {
    auto decoded = decode_utf8_char(text);
    return decoded ? decoded->length : 1;
}

std::string concat(std::string_view a, std::string_view b, std::string_view c) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

}  // namespace dral_core::rfc001::ctn
