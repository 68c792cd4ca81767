#include "text/text_output.hpp"

#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "encoding/base64.hpp"
#include "encoding/decimal_digits.hpp"
#include "encoding/float_text.hpp"
#include "encoding/unicode.hpp"

namespace dral_core {
namespace {

// The escape of a byte in a quoted string, or 0 for a byte copied as it is.
constexpr char escape_of(unsigned char c) {
    switch (c) {
        case '\n':
            return 'n';
        case '\r':
            return 'r';
        case '\t':
            return 't';
        case '"':
            return '"';
        case '\\':
            return '\\';
        default:
            return 0;
    }
}

// Where the first byte that needs an escape lies among the 16 at `p`, or 16 when none does.
#if defined(__SSE2__)
int first_escape_in_16(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    return mask == 0 ? 16 : std::countr_zero(mask);
}
#else
int first_escape_in_16(const char* p) {
    for (int i = 0; i < 16; ++i)
        if (escape_of(static_cast<unsigned char>(p[i])) != 0) return i;
    return 16;
}
#endif

// The parser's rule for bare keys, so that a bare key always reads back as itself: a letter or
// '_', then letters, digits and '_'; beyond ASCII, alphabetic and numeric characters.
bool is_bare_ascii_key(std::string_view key) {
    auto letter = [](unsigned char c) {
        return c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
    };
    if (key.empty() || !letter(static_cast<unsigned char>(key[0]))) return false;
    for (const char c : key.substr(1))
        if (!letter(static_cast<unsigned char>(c)) && !(c >= '0' && c <= '9')) return false;
    return true;
}

bool is_bare_key_char(char32_t c, bool first) {
    return c == '_' || unicode::is_alphabetic(c) || (!first && unicode::is_numeric(c));
}

bool is_bare_key(std::string_view key, TextEncoding encoding) {
    if (encoding == TextEncoding::Latin1) {
        for (std::size_t i = 0; i < key.size(); ++i)
            if (!is_bare_key_char(static_cast<unsigned char>(key[i]), i == 0)) return false;
        return !key.empty();
    }
    bool first = true;
    while (!key.empty()) {
        auto decoded = unicode::decode_utf8(key);
        if (!decoded || !is_bare_key_char(decoded->code_point, first)) return false;
        key.remove_prefix(decoded->length);
        first = false;
    }
    return !first;
}

}  // namespace

void TextOutput::uint(std::uint64_t u) {
    char* out = reinterpret_cast<char*>(out_.prepare(kMaxDecimalDigits));
    out_.advance(write_decimal(out, u));
}

void TextOutput::integer(std::int64_t i) {
    if (i >= 0) return i == 0 ? literal("-0") : uint(static_cast<std::uint64_t>(i));
    char* out = reinterpret_cast<char*>(out_.prepare(1 + kMaxDecimalDigits));
    *out = '-';
    // The magnitude in unsigned arithmetic, where the least value has one.
    out_.advance(1 + write_decimal(out + 1, 0 - static_cast<std::uint64_t>(i)));
}

void TextOutput::floating(double d) {
    if (std::isnan(d)) return literal("NaN");
    if (std::isinf(d)) return d < 0 ? literal("-inf") : literal("inf");
    char* out = reinterpret_cast<char*>(out_.prepare(kMaxPositionalFloat + 2));
    std::size_t n = format_float_positional(out, d);
    // Integral values, the ones written without a fraction, keep a fraction mark, so that they
    // read back as floats.
    if (d == std::trunc(d)) {
        out[n++] = '.';
        out[n++] = '0';
    }
    out_.advance(n);
}

void TextOutput::quoted(std::string_view text) {
    // Every byte escaped at worst, and a block of 16 stored whole past the last one.
    char* const start = reinterpret_cast<char*>(out_.prepare(2 + 2 * text.size() + 16));
    char* out = start;
    *out++ = '"';
    const char* in = text.data();
    const char* const end = in + text.size();
    while (true) {
        // Runs free of escapes are copied 16 bytes at a time.
        while (end - in >= 16) {
            std::memcpy(out, in, 16);
            const int run = first_escape_in_16(in);
            in += run;
            out += run;
            if (run < 16) break;
        }
        if (in == end) break;
        const char c = *in++;
        if (const char escape = escape_of(static_cast<unsigned char>(c)); escape != 0) {
            *out++ = '\\';
            *out++ = escape;
        } else {
            *out++ = c;
        }
    }
    *out++ = '"';
    out_.advance(static_cast<std::size_t>(out - start));
}

void TextOutput::bytes(std::span<const std::uint8_t> bytes) {
    const std::size_t n = 4 + base64::encoded_size(bytes.size());
    char* out = reinterpret_cast<char*>(out_.prepare(n));
    std::memcpy(out, "b64#", 4);
    base64::encode_into(out + 4, bytes);
    out_.advance(n);
}

void TextOutput::key(std::string_view text, bool ascii) {
    if (ascii ? is_bare_ascii_key(text) : is_bare_key(text, encoding_)) {
        std::memcpy(out_.prepare(text.size() + 2), text.data(), text.size());
        out_.advance(text.size());
    } else {
        quoted(text);
    }
    literal(": ");
}

}  // namespace dral_core
