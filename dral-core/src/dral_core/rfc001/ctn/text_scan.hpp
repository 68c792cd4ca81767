// Character classes and trimming for CTN text. White space is Unicode's (the White_Space
// property); names and numbers are ASCII. Every helper has an inline ASCII path and leaves other
// characters to an out-of-line one, since CTN is almost always ASCII.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dral_core::rfc001::ctn {

inline bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

inline bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

inline bool is_identifier_start(char c) { return is_ascii_letter(c) || c == '_'; }

inline bool is_identifier_char(char c) { return is_identifier_start(c) || is_ascii_digit(c); }

// The value of a hexadecimal digit of either case, or 16.
inline unsigned hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 16;
}

inline bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool is_non_ascii(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// Bytes of the white space character that starts (or ends) `text` at a non-ASCII byte; 0 when
// that character is not white space.
std::size_t non_ascii_space_prefix(std::string_view text);
std::size_t non_ascii_space_suffix(std::string_view text);

// Bytes of the white space character at the start of `text`, 0 when there is none.
inline std::size_t space_prefix(std::string_view text) {
    if (text.empty()) return 0;
    if (is_ascii_space(text.front())) return 1;
    return is_non_ascii(text.front()) ? non_ascii_space_prefix(text) : 0;
}

inline std::string_view trim_start(std::string_view text) {
    while (std::size_t n = space_prefix(text)) text.remove_prefix(n);
    return text;
}

inline std::string_view trim_end(std::string_view text) {
    while (!text.empty()) {
        const char last = text.back();
        if (is_ascii_space(last)) {
            text.remove_suffix(1);
        } else if (std::size_t n = is_non_ascii(last) ? non_ascii_space_suffix(text) : 0) {
            text.remove_suffix(n);
        } else {
            break;
        }
    }
    return text;
}

inline std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

// Position of the first white space character, or the size of `text`.
std::size_t find_space(std::string_view text);

inline bool contains(std::string_view text, char c) {
    return text.find(c) != std::string_view::npos;
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Number of characters (code points) in UTF-8 `text`.
std::size_t count_chars(std::string_view text);

// Bytes of the UTF-8 character starting `text` (1 for a stray byte); `text` is not empty.
std::size_t char_length(std::string_view text);

// `a`, then `b`, then `c`, for the messages that quote a piece of the input.
std::string concat(std::string_view a, std::string_view b, std::string_view c = {});

}  // namespace dral_core::rfc001::ctn
