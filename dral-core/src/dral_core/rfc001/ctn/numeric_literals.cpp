// Numbers: suffix, gate, then special values, decimal tags, floats or integers.
#include <array>
#include <bit>
#include <cstdint>
#include <limits>

#include "dral_core/encoding/float_text.hpp"
#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"

namespace dral_core::rfc001::ctn {
namespace {

enum class SuffixKind : std::uint8_t {
    None,
    Decimal,
    F32,
    F64,
    Signed,
    VarSigned,
    Unsigned,
    VarUnsigned,
};

struct Suffix {
    std::string_view text;
    SuffixKind kind;
};

// Tried in this order; the first that ends the literal wins, so longer suffixes come before the
// shorter ones they end with.
constexpr std::array<Suffix, 22> kSuffixes{{
    {"dec128", SuffixKind::Decimal},   {"dec64", SuffixKind::Decimal},
    {"dec32", SuffixKind::Decimal},    {"bf16", SuffixKind::F32},
    {"f128", SuffixKind::F64},         {"f64", SuffixKind::F64},
    {"f32", SuffixKind::F32},          {"f16", SuffixKind::F32},
    {"vi64", SuffixKind::VarSigned},   {"vi32", SuffixKind::VarSigned},
    {"vu64", SuffixKind::VarUnsigned}, {"vu32", SuffixKind::VarUnsigned},
    {"i128", SuffixKind::Signed},      {"i64", SuffixKind::Signed},
    {"i32", SuffixKind::Signed},       {"i16", SuffixKind::Signed},
    {"i8", SuffixKind::Signed},        {"u128", SuffixKind::Unsigned},
    {"u64", SuffixKind::Unsigned},     {"u32", SuffixKind::Unsigned},
    {"u16", SuffixKind::Unsigned},     {"u8", SuffixKind::Unsigned},
}};

// The number of digits that end each suffix.
constexpr auto kSuffixDigits = [] {
    std::array<std::size_t, kSuffixes.size()> counts{};
    for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
        const std::string_view text = kSuffixes[i].text;
        while (counts[i] < text.size() && text[text.size() - 1 - counts[i]] >= '0' &&
               text[text.size() - 1 - counts[i]] <= '9')
            ++counts[i];
    }
    return counts;
}();

Suffix find_suffix(std::string_view text) {
    // Every suffix is letters then digits: a text that does not end that way has none.
    std::size_t digits = text.size();
    while (digits > 0 && is_ascii_digit(text[digits - 1])) --digits;
    if (digits == text.size() || digits == 0 || !is_ascii_letter(text[digits - 1])) return {};
    // A suffix that ends the text has the text's last letter before it, so its digits are all of
    // the text's final digits: a count that rules out most entries before any comparison.
    const std::size_t digit_count = text.size() - digits;
    const char last_letter = text[digits - 1];
    for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
        const std::string_view suffix = kSuffixes[i].text;
        if (kSuffixDigits[i] == digit_count &&
            suffix[suffix.size() - 1 - digit_count] == last_letter && text.ends_with(suffix))
            return kSuffixes[i];
    }
    return {};
}

bool has_radix_prefix(std::string_view body) {
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
    return body.starts_with("0x") || body.starts_with("0b") || body.starts_with("0o");
}

bool is_number_char(char c) {
    return is_ascii_digit(c) || c == '+' || c == '-' || c == '.' || c == '_' || c == 'e' ||
           c == 'E';
}

bool looks_decimal(std::string_view body) {
    if (!is_ascii_digit(body[0]) && body[0] != '+' && body[0] != '-' && body[0] != '.')
        return false;
    for (char c : body)
        if (!is_number_char(c)) return false;
    return true;
}

// Whether `body` holds a fraction mark or an exponent. A loop rather than find_first_of, which
// makes a call per byte.
bool has_float_mark(std::string_view body) {
    for (char c : body)
        if (c == '.' || c == 'e' || c == 'E') return true;
    return false;
}

Scalar special_value(std::string_view body, std::string_view suffix) {
    const bool f32 = suffix == "f32";
    if (body == "NaN")
        return f32 ? Scalar::f32(std::bit_cast<float>(std::uint32_t{0x7FC00000}))
                   : Scalar::f64(std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}));
    const bool negative = body[0] == '-';
    const double infinity = negative ? -std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::infinity();
    return f32 ? Scalar::f32(static_cast<float>(infinity)) : Scalar::f64(infinity);
}

constexpr Int128 kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr Int128 kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr Int128 kU64Max = std::numeric_limits<std::uint64_t>::max();

Result<Scalar> integer_scalar(Int128 v, SuffixKind kind, std::string_view text) {
    switch (kind) {
        case SuffixKind::Unsigned:
        case SuffixKind::VarUnsigned: {
            if (v < 0) return fail(data_error("unsigned literal cannot be negative: ", text, ""));
            if (v > kU64Max) return fail(data_error("unsigned literal out of range: ", text, ""));
            const auto u = static_cast<std::uint64_t>(v);
            return kind == SuffixKind::Unsigned ? Scalar::u64(u) : Scalar::vu64(u);
        }
        default: {
            if (v < kI64Min || v > kI64Max)
                return fail(data_error("signed literal out of range: ", text, ""));
            const auto i = static_cast<std::int64_t>(v);
            return kind == SuffixKind::Signed ? Scalar::i64(i) : Scalar::vi64(i);
        }
    }
}

Scalar float_scalar(double value, SuffixKind kind) {
    return kind == SuffixKind::F32 ? Scalar::f32(static_cast<float>(value)) : Scalar::f64(value);
}

// The digits of `digits` ('_' skipped, one leading sign allowed) in `radix`, as a magnitude and
// sign; nothing for a bad digit, no digit at all, or a magnitude past 2^127.
struct Magnitude {
    unsigned __int128 value;
    bool negative;
};

std::optional<Magnitude> read_digits(std::string_view digits, unsigned radix) {
    constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 127;
    Magnitude result{0, false};
    bool seen_char = false;
    bool seen_digit = false;
    for (char c : digits) {
        if (c == '_') continue;
        if (!seen_char && (c == '+' || c == '-')) {
            seen_char = true;
            result.negative = c == '-';
            continue;
        }
        seen_char = true;
        const unsigned digit = hex_digit_value(c);
        if (digit >= radix) return std::nullopt;
        // Overflow tests, not a division by the radix, which on 128 bits is a call per digit.
        unsigned __int128 next;
        if (__builtin_mul_overflow(result.value, radix, &next) ||
            __builtin_add_overflow(next, digit, &next) || next > kLimit)
            return std::nullopt;
        result.value = next;
        seen_digit = true;
    }
    // A positive magnitude stops one short of 2^127.
    if (!seen_digit || (!result.negative && result.value == kLimit)) return std::nullopt;
    return result;
}

}  // namespace

Result<Int128> parse_integer_text(std::string_view text) {
    std::string_view rest = trim(text);
    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    unsigned radix = 10;
    if (rest.size() >= 2 && rest[0] == '0') {
        if (rest[1] == 'x') radix = 16;
        if (rest[1] == 'b') radix = 2;
        if (rest[1] == 'o') radix = 8;
        if (radix != 10) rest.remove_prefix(2);
    }
    auto magnitude = read_digits(rest, radix);
    // The inner sign reads up to -2^127; the outer one may then turn it positive and out of range.
    constexpr unsigned __int128 kPositiveLimit = (static_cast<unsigned __int128>(1) << 127) - 1;
    if (magnitude) {
        negative = negative != magnitude->negative;
        // Modular conversion: the negation of 2^127 is the least Int128.
        if (negative) return static_cast<Int128>(0 - magnitude->value);
        if (magnitude->value <= kPositiveLimit) return static_cast<Int128>(magnitude->value);
    }
    return fail(data_error("invalid integer literal '", text, "'"));
}

Result<double> parse_float_text(std::string_view text) {
    std::optional<double> value;
    if (contains(text, '_')) {
        std::string digits;
        digits.reserve(text.size());
        for (char c : text)
            if (c != '_') digits += c;
        value = parse_float(digits);
    } else {
        value = parse_float(text);
    }
    if (!value) return fail(data_error("invalid float literal '", text, "'"));
    return *value;
}

Scalar parse_short_decimal(std::string_view text) {
    const bool negative = text[0] == '-';
    std::int64_t value = 0;
    for (char c : text.substr(text[0] == '-' || text[0] == '+')) value = value * 10 + (c - '0');
    return Scalar::vi64(negative ? -value : value);
}

Result<std::optional<Scalar>> parse_numeric_literal(std::string_view text) {
    const Suffix suffix = find_suffix(text);
    const std::string_view body = trim(text.substr(0, text.size() - suffix.text.size()));
    if (body.empty()) return std::nullopt;

    if (body == "NaN" || body == "Inf" || body == "+Inf" || body == "-Inf")
        return special_value(body, suffix.text);
    const bool radix = has_radix_prefix(body);
    if (!radix && !looks_decimal(body)) return std::nullopt;

    if (suffix.kind == SuffixKind::Decimal)
        return Scalar::tagged(std::string(suffix.text), std::string(body));

    const bool float_suffix = suffix.kind == SuffixKind::F32 || suffix.kind == SuffixKind::F64;
    if (!radix && has_float_mark(body)) {
        DRAL_ASSIGN_OR_RETURN(const double value, parse_float_text(body));
        if (float_suffix || suffix.kind == SuffixKind::None)
            return float_scalar(value, suffix.kind);
        return Scalar::tagged(std::string(suffix.text), std::string(body));
    }
    if (float_suffix) {
        DRAL_ASSIGN_OR_RETURN(const double value, parse_float_text(body));
        return float_scalar(value, suffix.kind);
    }
    DRAL_ASSIGN_OR_RETURN(const Int128 value, parse_integer_text(body));
    return integer_scalar(value, suffix.kind, text);
}

}  // namespace dral_core::rfc001::ctn
