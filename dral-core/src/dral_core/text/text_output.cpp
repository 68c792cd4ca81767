#include "dral_core/text/text_output.hpp"

#include <cmath>

#include "dral_core/encoding/base64.hpp"
#include "dral_core/encoding/unicode.hpp"
#include "dral_core/encoding/utf8_char.hpp"

namespace dral_core {
namespace {

bool is_bare_key(std::string_view key, TextEncoding encoding) {
    if (encoding == TextEncoding::Latin1) {
        for (std::size_t i = 0; i < key.size(); ++i)
            if (!is_bare_key_char(static_cast<unsigned char>(key[i]), i == 0)) return false;
        return !key.empty();
    }
    bool first = true;
    while (!key.empty()) {
        auto decoded = decode_utf8_char(key);
        if (!decoded || !is_bare_key_char(decoded->code_point, first)) return false;
        key.remove_prefix(decoded->length);
        first = false;
    }
    return !first;
}

}  // namespace

bool is_bare_key_char(char32_t c, bool first) {
    return c == '_' || unicode::is_alphabetic(c) || (!first && unicode::is_numeric(c));
}

void TextOutput::integer(std::int64_t i) {
    if (i >= 0) return i == 0 ? literal("-0") : uint(static_cast<std::uint64_t>(i));
    char* out = reinterpret_cast<char*>(out_.prepare(1 + kMaxDecimalDigits));
    out_.advance(write_signed_decimal(out, i));
}

void TextOutput::non_finite(double d) {
    if (std::isnan(d)) return literal("NaN");
    d < 0 ? literal("-inf") : literal("inf");
}

void TextOutput::bytes(std::span<const std::uint8_t> bytes) {
    const std::size_t n = 4 + base64::encoded_size(bytes.size());
    char* out = reinterpret_cast<char*>(out_.prepare(n));
    std::memcpy(out, "b64#", 4);
    base64::encode_into(out + 4, bytes);
    out_.advance(n);
}

void TextOutput::other_key(std::string_view text, bool ascii) {
    if (!ascii && is_bare_key(text, encoding_)) {
        char* const out = chars(text.size() + 2);
        out[text.size()] = ':';
        out[text.size() + 1] = ' ';
        out_.advance(text.size() + 2);
        return;
    }
    quoted(text);  // over the copy
    key_separator();
}

}  // namespace dral_core
