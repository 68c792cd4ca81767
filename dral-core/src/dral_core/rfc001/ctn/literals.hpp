// CTN literals: the pieces of text that stand for one scalar (keywords aside), and the name rules.
// Pure functions of their text; they never see the surrounding line. Every failure is an
// InvalidData error, except a Base64 body that does not decode (InvalidBase64).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dral_core/base/bytes.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/ctn/text_scan.hpp"

namespace dral_core::rfc001::ctn {

__extension__ typedef __int128 Int128;

// ---------------------------------------------------------------------------------------------
// Names

// An ASCII letter or '_', then ASCII letters, digits and '_'.
inline bool is_identifier(std::string_view s) {
    if (s.empty() || !is_identifier_start(s[0])) return false;
    for (char c : s.substr(1))
        if (!is_identifier_char(c)) return false;
    return true;
}

// Identifiers joined by "::", as in `A::b_2::C`.
bool is_identifier_path(std::string_view s);

// "struct", or a path naming a type.
inline bool is_type_header(std::string_view s) { return s == "struct" || is_identifier_path(s); }

// ---------------------------------------------------------------------------------------------
// Numbers

// A number with an optional type suffix. Nothing when the text is not a number at all (the
// caller then tries other forms); an error when it looks like one but is not valid.
Result<std::optional<Scalar>> parse_numeric_literal(std::string_view text);

// An integer with optional sign, radix prefix ("0x", "0b", "0o") and '_' separators.
Result<Int128> parse_integer_text(std::string_view text);

// A decimal float with optional '_' separators, rounded to the nearest f64.
Result<double> parse_float_text(std::string_view text);

// The common case of parse_numeric_literal: `text` is an optional sign and 1 to 18 digits, which
// always gives VI64.
Scalar parse_short_decimal(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Strings, bytes, symbols

// `text` includes its double quotes; escapes are resolved.
Result<std::string> parse_quoted_string(std::string_view text);

// `text` begins with three double quotes; the inside is taken verbatim.
Result<std::string> parse_triple_quoted(std::string_view text);

// A string with an identifier in front, as in `date"2024-01-01"`; nothing when `text` does not
// have that form.
Result<std::optional<TaggedText>> parse_prefixed_quoted(std::string_view text);

// The body of `b"..."`: hex digit pairs, '_' ignored.
Result<Bytes> parse_hex_compact(std::string_view body);

// The body of `<...>`: two-digit hex bytes separated by white space.
Result<Bytes> parse_hex_spaced(std::string_view body);

// Whole literals `b"..."` and `b64"..."`, closing quote checked.
Result<Bytes> parse_hex_literal(std::string_view text);
Result<Bytes> parse_base64_literal(std::string_view text);

// `'name`: the name of a symbol.
Result<std::string> parse_symbol(std::string_view text);

}  // namespace dral_core::rfc001::ctn
