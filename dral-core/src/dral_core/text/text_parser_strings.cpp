// Quoted strings and object keys.
#include <bit>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dral_core/encoding/unicode.hpp"
#include "dral_core/text/text_parser.hpp"

namespace dral_core {

// Sixteen bytes at a time: most bodies are short, and two memchr calls cost more than the scan.
// The bytes' high bits ride along, so that a body needs no second pass to tell ASCII apart.
PlainRun plain_run(std::string_view text, std::size_t from) {
    const char* const data = text.data();
    std::size_t i = from;
    unsigned char high = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    __m128i seen = _mm_setzero_si128();
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash))));
        if (hits != 0) {
            const unsigned before_hit = (hits & (0u - hits)) - 1;
            const unsigned wide = (static_cast<unsigned>(_mm_movemask_epi8(bytes)) & before_hit) |
                                  static_cast<unsigned>(_mm_movemask_epi8(seen));
            return {i + static_cast<std::size_t>(std::countr_zero(hits)), wide == 0};
        }
        seen = _mm_or_si128(seen, bytes);
    }
    if (_mm_movemask_epi8(seen) != 0) high = 0x80;
#endif
    for (; i < text.size(); ++i) {
        if (data[i] == '"' || data[i] == '\\') break;
        high |= static_cast<unsigned char>(data[i]);
    }
    return {i, (high & 0x80) == 0};
}

Result<std::string_view> Parser::parse_quoted_string() {
    std::string_view body;
    if (bool ascii; read_plain_string(body, ascii)) [[likely]]
        return body;
    return parse_escaped_string();
}

Result<std::string_view> Parser::parse_escaped_string() {
    consume_bytes(1);  // the opening quote
    std::string& text = scratch_;
    text.clear();
    for (;;) {
        // Copy plain runs whole; only the quote and the backslash need a look.
        const std::size_t run_end = plain_run(input_, pos_).end;
        text.append(input_.substr(pos_, run_end - pos_));
        consume_bytes(run_end - pos_);
        if (at_end()) return fail(error_here("unterminated string"));

        const char special = input_[pos_];
        consume_bytes(1);
        if (special == '"') return std::string_view(text);

        const std::size_t escaped_at = pos_;
        auto escaped = advance();
        if (!escaped) return fail(error_here("unterminated string escape"));
        switch (*escaped) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            default:  // unknown escapes stay as written, backslash included
                text += '\\';
                text.append(input_.substr(escaped_at, pos_ - escaped_at));
        }
    }
}

Result<std::string_view> Parser::parse_key() {
    const std::size_t start = pos_;
    const auto first = static_cast<unsigned char>(next_byte());
    if (first == '"') {
        DRAL_ASSIGN_OR_RETURN(std::string_view key, parse_quoted_string());
        DRAL_TRY(expect(':'));
        return key;
    }
    if (!at_end() && first < 0x80) {
        // ASCII names are the common case; the Unicode tables are only needed past them.
        if (!is_ascii_name_start(first)) return fail(error_here("expected identifier"));
        const char* const end = input_.data() + input_.size();
        const char* const p = ascii_name_end(input_.data() + pos_ + 1, end);
        pos_ = static_cast<std::size_t>(p - input_.data());
        if (p < end && static_cast<unsigned char>(*p) >= 0x80) skip_name_chars();
    } else {
        auto c = peek();
        if (!c || (*c != '_' && !unicode::is_alphabetic(*c)))
            return fail(error_here("expected identifier"));
        skip_name_chars();
    }
    const std::string_view key = input_.substr(start, pos_ - start);
    DRAL_TRY(expect(':'));
    return key;
}

}  // namespace dral_core
