// The pieces of the indented text notation, shared by every writer of it: the writer of Value
// trees (text_writer.cpp) and the Python binding's writer of objects. Each piece writes exactly
// what the layout rules ask for; the writers decide only which piece comes next.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/copy_bytes.hpp"
#include "dral_core/encoding/decimal_digits.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/text/escaped_text.hpp"
#include "dral_core/text/text_scan.hpp"

namespace dral_core {

// Arrays of at most this many items, all of them null, booleans, numbers or strings, are written
// on one line.
inline constexpr std::size_t kMaxInlineItems = 8;

// How the text, and every string and key handed to the writer, is encoded. Latin-1 lets a writer
// fill a one-byte-per-character buffer that becomes the result as it is.
enum class TextEncoding : bool { Utf8, Latin1 };

// The parser's rule for the characters of bare keys: a letter or '_' first, then letters, digits
// and '_'; beyond ASCII, alphabetic and numeric characters.
bool is_bare_key_char(char32_t c, bool first);

class TextOutput {
public:
    explicit TextOutput(std::size_t indent, ByteBuffer buffer = {},
                        TextEncoding encoding = TextEncoding::Utf8)
        : out_(std::move(buffer)), indent_(indent), encoding_(encoding) {}

    // The text written so far.
    std::string_view text() const {
        return {reinterpret_cast<const char*>(out_.data()), out_.size()};
    }
    TextEncoding encoding() const { return encoding_; }
    ByteBuffer& buffer() { return out_; }
    // Goes on in `buffer`, which holds the text written so far in `encoding`.
    void continue_in(ByteBuffer buffer, TextEncoding encoding) {
        out_ = std::move(buffer);
        encoding_ = encoding;
    }

    void null() { literal("null"); }
    void boolean(bool b) { b ? literal("true") : literal("false"); }
    void uint(std::uint64_t u) { out_.advance(write_decimal(chars(kMaxDecimalDigits), u)); }
    // A zero gets a sign, so that it reads back as an Int rather than a UInt.
    void integer(std::int64_t i);
    void floating(double d) {
        if (!std::isfinite(d)) [[unlikely]]
            return non_finite(d);
        // Integral values keep a fraction mark, so that they read back as floats.
        out_.advance(format_float_with_fraction(chars(kMaxPositionalFloat + 2), d));
    }
    // Items of an array over lines, floats all, between_items(depth) between them; or two items
    // of an array on one line, with inline_separator() between them. Texts of floats are made
    // two at a time, each apart, before either is placed: the second's digits then need not wait
    // for the first's length, which ends a chain as long as all the rest of writing a float
    // (measured: a list of floats 22% faster).
    void float_items(std::span<const double> values, std::size_t depth) {
        const std::size_t n = depth * indent_;
        for (std::size_t i = 0; i < values.size(); i += 2) {
            if (i > 0) between_items(depth);
            if (i + 1 == values.size()) return floating(values[i]);
            float_pair(values[i], values[i + 1], 2 + n + text_scan::kFillPast,
                       [n](char* line) { return put_between_items(line, n); });
        }
    }
    // Items of an array over lines, integers all, between_items(depth) between them; the
    // non-negative ones as a UInt's text.
    void integer_items(std::span<const std::int64_t> values, std::size_t depth) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) between_items(depth);
            values[i] < 0 ? integer(values[i]) : uint(static_cast<std::uint64_t>(values[i]));
        }
    }
    void inline_float_pair(double first, double second) {
        float_pair(first, second, 2, [](char* between) {
            between[0] = ',';
            between[1] = ' ';
            return std::size_t{2};
        });
    }
    // `text` is in the output's encoding.
    void str(std::string_view text) { quoted(text); }
    void bytes(std::span<const std::uint8_t> bytes);

    void empty_array() { literal("[]"); }
    void empty_object() { literal("{}"); }
    // An array on one line: '[', items separated by ", ", ']'.
    void inline_open() { literal("["); }
    void inline_separator() { literal(", "); }
    void inline_close() { literal("]"); }

    // A container over several lines: the opening bracket ends its line; each item starts with
    // pad(its depth) and each entry with key(its depth, ...), and they end with end_item or
    // end_entry; close pads the bracket.
    void open(bool array) { array ? literal("[\n") : literal("{\n"); }
    void pad(std::size_t depth) {
        const std::size_t n = depth * indent_;
        text_scan::fill_spaces(chars(n + text_scan::kFillPast), n);
        out_.advance(n);
    }
    // An entry's start: pad(depth), the key, bare when it reads back as itself, and the ": "
    // after it, in the room of one check; with `after_entry`, the end_entry of the entry before
    // comes first. `ascii` tells that the key is all ASCII.
    void key(std::size_t depth, std::string_view text, bool ascii, bool after_entry = false) {
        const std::size_t lead = after_entry ? 2 : 0;
        const std::size_t padding = depth * indent_, n = text.size();
        char* const start = chars(2 + padding + n + text_scan::kFillPast);
        // Without an entry before, the line and the key cover these two, or they lie past it.
        start[0] = ';';
        start[1] = '\n';
        char* const line = start + lead;
        text_scan::fill_spaces(line, padding);
        char* const out = line + padding;
        copy_bytes(reinterpret_cast<std::uint8_t*>(out), text.data(), n);
        if (!ascii || !text_scan::is_bare_ascii_key(text.data(), n)) [[unlikely]] {
            out_.advance(lead + padding);
            return other_key(text, ascii);
        }
        out[n] = ':';
        out[n + 1] = ' ';
        out_.advance(lead + padding + n + 2);
    }
    // The ": " after a key.
    void key_separator() { literal(": "); }
    void end_item(bool last) { last ? literal("\n") : literal(",\n"); }
    // end_item(false) and the next item's pad(depth), in the room of one check.
    void between_items(std::size_t depth) {
        const std::size_t n = depth * indent_;
        out_.advance(put_between_items(chars(2 + n + text_scan::kFillPast), n));
    }
    void end_entry() { literal(";\n"); }
    void close(bool array, std::size_t depth) {
        pad(depth);
        array ? literal("]") : literal("}");
    }

private:
    template <std::size_t N>
    void literal(const char (&text)[N]) {
        std::memcpy(out_.prepare(N - 1), text, N - 1);
        out_.advance(N - 1);
    }
    char* chars(std::size_t n) { return reinterpret_cast<char*>(out_.prepare(n)); }
    // between_items at `line`, with `padding` spaces, in 2 + padding + kFillPast bytes.
    static std::size_t put_between_items(char* line, std::size_t padding) {
        line[0] = ',';
        line[1] = '\n';
        text_scan::fill_spaces(line + 2, padding);
        return 2 + padding;
    }
    // `separate` writes what goes between the floats, in `room` bytes, and returns its length.
    template <class Separate>
    void float_pair(double first, double second, std::size_t room, Separate separate) {
        if (!std::isfinite(first) || !std::isfinite(second)) [[unlikely]] {
            floating(first);
            out_.advance(separate(chars(room)));
            return floating(second);
        }
        char texts[2][kMaxPositionalFloat + 2];
        const std::size_t first_length = format_float_with_fraction(texts[0], first);
        const std::size_t second_length = format_float_with_fraction(texts[1], second);
        char* const out = chars(first_length + room + second_length);
        copy_bytes(reinterpret_cast<std::uint8_t*>(out), texts[0], first_length);
        const std::size_t between = separate(out + first_length);
        copy_bytes(reinterpret_cast<std::uint8_t*>(out + first_length + between), texts[1],
                   second_length);
        out_.advance(first_length + between + second_length);
    }
    // Most strings need no escape: copied whole.
    void quoted(std::string_view text) {
        char* const start = chars(2 + escaped_room(text.size()));
        *start = '"';
        char* const end = write_escaped_at(start + 1, text);
        *end = '"';
        out_.advance(static_cast<std::size_t>(end + 1 - start));
    }
    void non_finite(double d);
    // A key that is not ASCII, or not bare; its bytes are in place.
    void other_key(std::string_view text, bool ascii);

    ByteBuffer out_;
    std::size_t indent_;
    TextEncoding encoding_;
};

}  // namespace dral_core
