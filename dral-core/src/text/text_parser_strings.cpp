// Quoted strings and object keys.
#include <cstring>
#include <string>

#include "encoding/unicode.hpp"
#include "text/text_parser.hpp"

namespace dral_core {
namespace {

// Where the plain run of a string body that starts at `from` ends: at the first double quote or
// backslash, or at the end of `text`. `quote` caches the next double quote at or after `from`
// (npos: search again), so a body with many escapes is still scanned for quotes only once.
std::size_t plain_run_end(std::string_view text, std::size_t from, std::size_t& quote) {
    if (quote == std::string_view::npos || quote < from) {
        const void* found = std::memchr(text.data() + from, '"', text.size() - from);
        quote = found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                      : text.size();
    }
    const void* backslash = std::memchr(text.data() + from, '\\', quote - from);
    return backslash ? static_cast<std::size_t>(static_cast<const char*>(backslash) - text.data())
                     : quote;
}

}  // namespace

Result<std::string_view> Parser::parse_quoted_string() {
    DRAL_TRY(expect('"'));
    // Most bodies have no escape: they are read in place, without a copy.
    std::size_t quote = std::string_view::npos;
    const std::size_t start = pos_;
    const std::size_t run_end = plain_run_end(input_, start, quote);
    if (run_end < input_.size() && input_[run_end] == '"') [[likely]] {
        consume_bytes(run_end + 1 - start);
        return input_.substr(start, run_end - start);
    }
    return parse_escaped_string(quote);
}

Result<std::string_view> Parser::parse_escaped_string(std::size_t quote) {
    std::string& text = scratch_;
    text.clear();
    for (;;) {
        // Copy plain runs whole; only the quote and the backslash need a look. memchr scans beat
        // find_first_of, which tests every byte against the set one by one.
        const std::size_t run_end = plain_run_end(input_, pos_, quote);
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
        consume_bytes(1);
        while (!at_end() && is_ascii_name_char(static_cast<unsigned char>(input_[pos_]))) ++pos_;
        if (!at_end() && static_cast<unsigned char>(input_[pos_]) >= 0x80) skip_name_chars();
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
