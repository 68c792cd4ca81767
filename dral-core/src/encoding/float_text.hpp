// Decimal text of binary64 values: shortest round-trip output and correctly rounded input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dral_core {

// Room format_float_positional may need: a sign, "0." and 323 zeros before the shortest digits
// of the smallest subnormal, or the 309 digits of the largest value.
inline constexpr std::size_t kMaxPositionalFloat = 352;

// Writes the shortest digits that read back to `value`, in positional notation without an
// exponent (1e20 gives "100000000000000000000", 1e-7 "0.0000001", -0.0 "-0"), at `out`, which has
// room for kMaxPositionalFloat bytes; returns the length. `value` must be finite. No fraction mark
// is added to integral values.
std::size_t format_float_positional(char* out, double value);

// The same, appended to `output`.
void append_float_positional(std::string& output, double value);
// The same with the shortest digits that read back to the binary32 `value`.
void append_float_positional(std::string& output, float value);

// Appends the debugging form: magnitudes 0 and [1e-4, 1e16) positional with at least one
// fractional digit ("1.0", "0.25"), others as shortest digits with an exponent that has neither
// a '+' nor leading zeros ("1e16", "1.5e-7"); "NaN", "inf", "-inf".
void append_float_debug(std::string& output, double value);

// Reads an optional sign, digits with an optional fraction ("1.", "-.5") and an optional exponent
// ("2E-3", "1e+7"). The whole text must match. Magnitudes past the binary64 range give an
// infinity and tiny ones a zero, both with the text's sign.
std::optional<double> parse_float(std::string_view text);

}  // namespace dral_core
