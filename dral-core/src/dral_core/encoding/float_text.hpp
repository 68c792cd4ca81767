// Decimal text of binary64 values: shortest round-trip output and correctly rounded input.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "dral_core/base/byte_order.hpp"

namespace dral_core {

// Room format_float_positional may need: a sign, "0." and 323 zeros before the shortest digits
// of the smallest subnormal, or the 309 digits of the largest value.
inline constexpr std::size_t kMaxPositionalFloat = 352;

// Writes the shortest digits that read back to `value`, in positional notation without an
// exponent (1e20 gives "100000000000000000000", 1e-7 "0.0000001", -0.0 "-0"), at `out`, which has
// room for kMaxPositionalFloat bytes; returns the length. `value` must be finite. No fraction mark
// is added to integral values.
std::size_t format_float_positional(char* out, double value);
// The same with the shortest digits that read back to the binary32 `value`.
std::size_t format_float_positional(char* out, float value);
// The same with ".0" after an integral value ("1.0", "-0.0", "1e20" as "100000000000000000000.0"),
// so that the text reads back as a float; `out` has room for kMaxPositionalFloat + 2 bytes.
std::size_t format_float_with_fraction(char* out, double value);

// The same, appended to `output`.
void append_float_positional(std::string& output, double value);

// Appends the debugging form: magnitudes 0 and [1e-4, 1e16) positional with at least one
// fractional digit ("1.0", "0.25"), others as shortest digits with an exponent that has neither
// a '+' nor leading zeros ("1e16", "1.5e-7"); "NaN", "inf", "-inf".
void append_float_debug(std::string& output, double value);

namespace float_text_detail {

// The value of eight digit values, one per byte, the first (lowest) byte the highest digit.
inline std::uint64_t combine_eight(std::uint64_t digits) {
    digits = (digits * 10 + (digits >> 8)) & 0x00FF00FF00FF00FFull;
    digits = (digits * 100 + (digits >> 16)) & 0x0000FFFF0000FFFFull;
    return (digits * 10000 + (digits >> 32)) & 0xFFFFFFFFull;
}

}  // namespace float_text_detail

// Adds the decimal digits at `p` (up to `end`) to `value` (value × 10 + digit for each) and
// returns where they stop. A word of eight bytes at a time where eight can be read; `value` wraps
// past 64 bits, so callers count the digits. The first `kLeadingBytes` digits are read byte by
// byte: short runs (the "0" of "0.25", small integers) are cheaper so than through a word. A run
// that is mostly long, as a fraction's digits, takes none: each leading byte costs as much as
// the word that would have held it.
template <int kLeadingBytes = 4>
[[gnu::always_inline]] inline const char* read_decimal_digits(const char* p, const char* end,
                                                              std::uint64_t& value) {
    using namespace float_text_detail;
    static constexpr std::uint64_t kPowers[] = {1,      10,      100,      1000,     10000,
                                                100000, 1000000, 10000000, 100000000};
    if (kLeadingBytes > 0 && end - p >= kLeadingBytes) {
        for (int i = 0; i < kLeadingBytes; ++i, ++p) {
            const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
            if (digit > 9) return p;
            value = value * 10 + digit;
        }
    }
    while (end - p >= 8) {
        // A byte is a digit when it is 0x30 to 0x39: high nibble 3, and low nibble plus 6 below 16.
        const std::uint64_t values = load_u64_le(p) ^ 0x3030303030303030ull;
        const std::uint64_t non_digits =
            (values | ((values & 0x0F0F0F0F0F0F0F0Full) + 0x0606060606060606ull)) &
            0xF0F0F0F0F0F0F0F0ull;
        if (non_digits == 0) {
            value = value * kPowers[8] + combine_eight(values);
            p += 8;
            continue;
        }
        // The digits before the first other byte, moved up so that zero digits lead them.
        const int count = std::countr_zero(non_digits) / 8;
        if (count != 0) value = value * kPowers[count] + combine_eight(values << (8 * (8 - count)));
        return p + count;
    }
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + static_cast<unsigned>(*p - '0');
    return p;
}

// Sets `value` to mantissa × 10^scale and returns true when that needs no rounding beyond one
// operation: a mantissa of at most 2^53 and a power of ten of at most 10^22, both exact binary64
// values, so the one multiplication or division rounds correctly. Inline, and no optional to
// return: the caller's loop reads numbers by the thousand.
inline bool exact_decimal(std::uint64_t mantissa, int scale, double& value) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr std::uint64_t kMaxMantissa = std::uint64_t{1} << 53;
    if (mantissa > kMaxMantissa || static_cast<unsigned>(scale + 22) > 44) return false;  // ±22
    value = static_cast<double>(mantissa);
    value = scale < 0 ? value / kPowers[-scale] : value * kPowers[scale];
    return true;
}

// Reads unsigned digits with an optional fraction ("1.", ".5") and an optional exponent ("2E-3",
// "1e+7") when exact_decimal gives their value. Nothing for any other text, which parse_float reads
// in full.
std::optional<double> parse_float_exact(std::string_view text);

// Reads an optional sign, digits with an optional fraction ("1.", "-.5") and an optional exponent
// ("2E-3", "1e+7"). The whole text must match. Magnitudes past the binary64 range give an
// infinity and tiny ones a zero, both with the text's sign.
std::optional<double> parse_float(std::string_view text);

}  // namespace dral_core
