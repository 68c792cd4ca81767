// The token-level reader of the text notation. Values are built over it by parse_document in
// text_parser_tree.hpp; `parse` in text.hpp is the entry point for Value trees.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/text/text_scan.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

// A number as written, before a sink turns it into a value.
struct TextNumber {
    enum class Kind : std::uint8_t { UInt, Int, Float };
    Kind kind;
    std::uint64_t uint = 0;
    std::int64_t integer = 0;
    double floating = 0.0;
};

constexpr bool is_ascii_name_start(unsigned char byte) {
    return byte == '_' || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z');
}
// Bytes too few for a step of sixteen: one load per byte beats the three range checks.
inline constexpr std::array<bool, 256> kAsciiNameChars = [] {
    std::array<bool, 256> table{};
    for (int byte = 0; byte < 0x80; ++byte)
        table[byte] =
            is_ascii_name_start(static_cast<unsigned char>(byte)) || (byte >= '0' && byte <= '9');
    return table;
}();
inline bool is_ascii_name_char(unsigned char byte) { return kAsciiNameChars[byte]; }
// Where the ASCII name characters from `p` on end: sixteen bytes a step, so that a name's end
// is found without a branch per byte.
inline const char* ascii_name_end(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16)
        if (const unsigned stops = text_scan::non_key_bytes_in(text_scan::load_16(p)); stops != 0)
            return p + std::countr_zero(stops);
#endif
    while (p < end && is_ascii_name_char(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// The plain run of a string body that starts at `from`: where it ends (at the first double quote
// or backslash, or at the end of `text`) and whether its bytes are all ASCII.
struct PlainRun {
    std::size_t end;
    bool ascii;
};
PlainRun plain_run(std::string_view text, std::size_t from);

// The error for input that is not UTF-8, at the first bad byte.
[[gnu::cold]] DralError invalid_utf8_error(std::string_view text);

class Parser {
public:
    // `input` is borrowed and should be valid UTF-8, all ASCII when `ascii` (parse_document
    // checks; parse_valid_document trusts its caller); a stray byte is still read safely.
    Parser(std::string_view input, bool ascii) : input_(input), ascii_input_(ascii) {}

    // The body of the quoted string that starts here, at its '"', escapes resolved. The view
    // points into the input when the body has no escape, else into a buffer of the reader that
    // the next string read reuses.
    Result<std::string_view> parse_quoted_string();
    // The same for a body that read_plain_string refused (an escape, or no closing quote), read
    // into the scratch buffer.
    Result<std::string_view> parse_escaped_string();
    // The same, inline and without a Result, for a body without escape, which most are, with
    // whether the body is all ASCII; for any other returns false and consumes nothing.
    [[gnu::always_inline]] bool read_plain_string(std::string_view& body, bool& ascii) {
        const std::size_t start = pos_ + 1;
        const PlainRun run = plain_run(input_, start);
        if (run.end >= input_.size() || input_[run.end] != '"') return false;
        body = std::string_view(input_.data() + start, run.end - start);
        ascii = run.ascii;
        pos_ = run.end + 1;
        return true;
    }
    // An object key, quoted or bare, and the ':' after it; the view lives as long as a string's.
    Result<std::string_view> parse_key();
    // The same, inline and without a Result, for a bare ASCII key with the ':' right after it,
    // which the writer's keys mostly are, and the one space the writer puts after the ':'; for
    // any other key returns false and consumes nothing.
    [[gnu::always_inline]] bool read_usual_key(std::string_view& key) {
        const char* const begin = input_.data() + pos_;
        const char* const end = input_.data() + input_.size();
        if (begin == end || !is_ascii_name_start(static_cast<unsigned char>(*begin))) return false;
        const char* const name_end = ascii_name_end(begin + 1, end);
        if (name_end == end || *name_end != ':') return false;
        key = std::string_view(begin, static_cast<std::size_t>(name_end - begin));
        const char* next = name_end + 1;
        if (next < end && *next == ' ') ++next;
        pos_ = static_cast<std::size_t>(next - input_.data());
        return true;
    }
    // An integer or a float, however unusual, with any type annotation after it.
    Result<TextNumber> parse_number();
    // The usual forms of a number, inline and without a Result: digits, a fraction, an exponent
    // of up to four digits, at most 19 digits in all, a value in range. Consumes the number and
    // any type annotation after it and hands the value to `visit` as a std::uint64_t, an
    // std::int64_t or a double, with no TextNumber to store and switch on; for any other text
    // returns false and consumes nothing, and parse_number reads it.
    template <class Visit>
    bool read_usual_number(Visit&& visit);
    // A `b64#` byte string.
    Result<Bytes> parse_bytes();
    // Consumes a keyword of `length` bytes that starts here, and any type annotation after it.
    [[gnu::always_inline]] void finish_keyword(std::size_t length) {
        consume_bytes(length);
        skip_type_annotation();
    }
    // Consumes a `::name` that starts exactly here; the name is thrown away. Inline: it follows
    // every scalar, and is almost never there.
    [[gnu::always_inline]] void skip_type_annotation() {
        if (starts_with("::")) [[unlikely]] {
            consume_bytes(2);
            skip_name_chars();
        }
    }

    void skip_whitespace_and_comments() {
        // Indentation is ASCII blanks; other characters and comments take the full path.
        while (pos_ < input_.size()) {
            const char byte = input_[pos_];
            if (byte == ' ') {
                skip_spaces();
                continue;
            }
            if (is_ascii_blank(byte)) {
                ++pos_;
                continue;
            }
            if (byte == '/' || static_cast<unsigned char>(byte) >= 0x80) skip_unusual_blanks();
            return;
        }
    }
    // Consumes `separator`, a line break and the next line's indentation, the writer's own
    // layout between items, all at once; anything else is left for the general path.
    // `indent` is the indentation last read at the same depth, which the writer gives every item
    // there. A guess confirmed by one comparison of sixteen bytes with the layout it implies
    // moves the reader by a known width, so that its position does not wait for a load of the
    // indentation; a wrong guess is replaced.
    bool skip_separator_and_line_break(char separator, std::uint32_t& indent) {
        const std::size_t left = input_.size() - pos_;
#if defined(__SSE2__)
        if (indent < kIndentGuessBytes && left >= 16) {
            // The separator, the line feed, then spaces: the guess holds when the bytes match
            // up to the indentation's end and the one after it is no space.
            const int line_start = static_cast<unsigned char>(separator) | ('\n' << 8);
            const __m128i layout = _mm_insert_epi16(_mm_set1_epi8(' '), line_start, 0);
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(input_.data() + pos_));
            const unsigned same =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, layout)));
            const unsigned laid_out = (4u << indent) - 1;  // separator, line feed, indentation
            if ((same & (laid_out * 2 + 1)) == laid_out) {
                pos_ += indent + 2;
                return true;
            }
        }
#endif
        if (left < 2 || input_[pos_] != separator || input_[pos_ + 1] != '\n') return false;
        pos_ += 2;
        const std::size_t start = pos_;
        skip_spaces();
        indent = static_cast<std::uint32_t>(std::min<std::size_t>(pos_ - start, kIndentGuessBytes));
        return true;
    }
    // After the top-level value: one optional ';', then nothing but blanks and comments.
    Status finish_document();
    // Skips blanks, consumes one character and fails unless it is `expected`.
    Status expect(char expected) {
        skip_whitespace_and_comments();
        if (!at_end() && input_[pos_] == expected) [[likely]] {
            consume_bytes(1);
            return {};
        }
        return expect_failed(expected);
    }
    // Consumes the next character if it is the ASCII character `expected`.
    bool consume_if(char expected) {
        if (at_end() || input_[pos_] != expected) return false;
        consume_bytes(1);
        return true;
    }
    bool at_end() const { return pos_ >= input_.size(); }
    // The next byte, or NUL at end of input.
    char next_byte() const { return at_end() ? '\0' : input_[pos_]; }
    // Inline, so that the comparison with a literal becomes one load and compare.
    [[gnu::always_inline]] bool starts_with(std::string_view prefix) const {
        // The reader never passes the end, so no bounds check (nor its throw path) is needed.
        return input_.size() - pos_ >= prefix.size() &&
               std::memcmp(input_.data() + pos_, prefix.data(), prefix.size()) == 0;
    }
    // Moves over `count` bytes that end on a character boundary. Lines and columns are not
    // counted on the way: only an error needs them, and it derives them from the byte offset.
    void consume_bytes(std::size_t count) { pos_ += count; }
    // Whether `text` (read from this input) is ASCII; a wholly ASCII input needs no scan.
    bool is_ascii_text(std::string_view text) const {
        return ascii_input_ ||
               is_ascii(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    [[gnu::cold]] DralError error_here(std::string message) const;
    [[gnu::cold]] DralError unexpected_character() const;

private:
    // An indentation is guessed within one 16-byte comparison, which holds the separator, the
    // line feed and the byte after the indentation too: up to 13 spaces; wider ones are always
    // measured.
    static constexpr std::size_t kIndentGuessBytes = 14;
    // No number of this many decimal digits overflows 64 bits.
    static constexpr std::size_t kSafeDigits = 19;
    static constexpr std::uint64_t kInt64MinMagnitude = std::uint64_t{1} << 63;

    static bool is_ascii_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    // Deeply indented text is mostly spaces: skip them eight bytes at a time.
    void skip_spaces() {
        constexpr std::uint64_t kSpaces = 0x2020202020202020ull;
        while (pos_ + 8 <= input_.size()) {
            std::uint64_t word;
            std::memcpy(&word, input_.data() + pos_, sizeof word);
            word ^= kSpaces;
            if (word != 0) {
                pos_ += first_nonzero_byte(word);  // the first byte that is no space
                return;
            }
            pos_ += 8;
        }
        while (pos_ < input_.size() && input_[pos_] == ' ') ++pos_;
    }

    // The general path of skip_whitespace_and_comments, taken at a '/' or a non-ASCII byte.
    void skip_unusual_blanks();
    // Consumes one character; at end of input returns nothing and changes nothing.
    std::optional<char32_t> advance();
    [[gnu::cold]] Status expect_failed(char expected);
    // A float whose sign ends at `digits_start`; the number's text ends at `end`.
    Result<TextNumber> parse_float_text(std::size_t start, std::size_t digits_start,
                                        std::size_t end, bool negative);
    Result<TextNumber> parse_number_slow(std::size_t start, std::size_t end, bool is_float);
    // The next character without consuming it; nothing at end of input.
    std::optional<char32_t> peek() const;
    // The bytes of the next character, for messages that quote it.
    std::string_view next_char_text() const;
    void skip_block_comment();
    // Consumes characters that are '_' or alphanumeric: the body of a bare key or annotation name.
    void skip_name_chars();

    std::string_view input_;
    std::size_t pos_ = 0;
    bool ascii_input_;
    std::string scratch_;  // the text of the last string read that had escapes
};

template <class Visit>
[[gnu::always_inline]] inline bool Parser::read_usual_number(Visit&& visit) {
    const char* const text = input_.data();
    const char* const end = text + input_.size();
    const char* p = text + pos_;
    const bool negative = *p == '-';
    if (negative || *p == '+') ++p;
    const char* const digits_start = p;
    std::uint64_t mantissa = 0;
    p = read_decimal_digits(p, end, mantissa);
    std::size_t digits = static_cast<std::size_t>(p - digits_start);
    bool is_float = false;
    int fraction = 0;
    double value = 0.0;
    if (p < end && *p == '.') {
        is_float = true;
        const char* fraction_start = ++p;
        p = read_decimal_digits<0>(p, end, mantissa);
        fraction = static_cast<int>(p - fraction_start);
    }
    // What the scan of any number would still take makes the text unusual. The digit runs stop
    // only at other bytes, so before an exponent only a second '.' can be left.
    int exponent = 0;
    if (p < end && (*p | 0x20) == 'e') {  // 'e' or 'E'
        is_float = true;
        ++p;
        const bool negative_exponent = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        const char* exponent_start = p;
        while (p < end && *p >= '0' && *p <= '9' && p - exponent_start < 4)
            exponent = exponent * 10 + (*p++ - '0');
        if (p == exponent_start) return false;
        if (negative_exponent) exponent = -exponent;
        if (p < end && ((*p >= '0' && *p <= '9') || *p == '.' || (*p | 0x20) == 'e')) return false;
    } else if (is_float && p < end && *p == '.') {
        return false;
    }
    digits += static_cast<std::size_t>(fraction);
    if (digits == 0 || digits > kSafeDigits) return false;
    if (!is_float) {
        if (negative && mantissa > kInt64MinMagnitude) return false;
    } else if (!exact_decimal(mantissa, exponent - fraction, value)) {
        return false;
    }
    consume_bytes(static_cast<std::size_t>(p - (text + pos_)));
    skip_type_annotation();
    if (is_float)
        visit(negative ? -value : value);
    else if (negative)
        visit(static_cast<std::int64_t>(0 - mantissa));
    else
        visit(mantissa);
    return true;
}

}  // namespace dral_core
