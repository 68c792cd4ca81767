// The shortest decimal that reads back to a binary float: the digits every float text is made of.
// Inline, so that a writer of floats makes no call per value.
//
// The shortest decimals by the Schubfach method (R. Giulietti, "The Schubfach way to render
// doubles"): the interval of decimals that round to the value is scaled by one power of ten,
// taken from a table, and the candidates at its ends are tested in integer arithmetic alone.
#pragma once

#include <bit>
#include <cstdint>

#include "dral_core/encoding/decimal_powers.hpp"

namespace dral_core {

// significand × 10^exponent.
struct Decimal {
    std::uint64_t significand;
    int exponent;
};

namespace shortest_decimal_detail {

using decimal_powers::kPowers;
using Power = decimal_powers::Power;

// floor(e × log10 2), floor(e × log10 2 + log10 3/4) and floor(e × log2 10): exact over the
// exponents of both formats.
inline int floor_log10_pow2(int e) {
    return static_cast<int>((std::int64_t{e} * 661971961083) >> 41);
}
inline int floor_log10_three_quarters_pow2(int e) {
    return static_cast<int>((std::int64_t{e} * 661971961083 - 274743187321) >> 41);
}
inline int floor_log2_pow10(int e) {
    return static_cast<int>((std::int64_t{e} * 913124641741) >> 38);
}

inline std::uint64_t high_product(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
}

// floor(g × cp / 2^127), its lowest bit set when the division was not exact: rounding to odd
// keeps every comparison with the candidates as exact as one with the true product.
inline std::uint64_t scaled_round_to_odd(const Power& g, std::uint64_t cp) {
    constexpr std::uint64_t kLow63 = (std::uint64_t{1} << 63) - 1;
    const std::uint64_t x1 = high_product(g.low, cp);
    const auto y = static_cast<unsigned __int128>(g.high) * cp;
    const std::uint64_t z = (static_cast<std::uint64_t>(y) >> 1) + x1;
    const std::uint64_t floor = static_cast<std::uint64_t>(y >> 64) + (z >> 63);
    return floor | (((z & kLow63) + kLow63) >> 63);
}

// The same for binary32, with the upper 63 bits of g: floor(g × cp / 2^95), rounded to odd.
inline std::uint64_t scaled_round_to_odd(std::uint64_t g, std::uint64_t cp) {
    constexpr std::uint64_t kLow32 = 0xFFFFFFFF;
    const std::uint64_t x1 = high_product(g, cp);
    return (x1 >> 31) | (((x1 & kLow32) + kLow32) >> 32);
}

// The shortest decimal of c × 2^q. The interval of the decimals that round to it is scaled by
// 10^-k, so that its width lies in [1, 10): then the shortest decimal is a multiple of 10^(k+1)
// when one lies in it, or else one of its two integers next to the value.
template <class Format>
Decimal to_decimal(int q, std::uint64_t c) {
    const std::uint64_t odd = c & 1;  // an even significand's interval includes its ends
    const std::uint64_t cb = c << 2;
    const std::uint64_t cb_right = cb + 2;
    std::uint64_t cb_left;
    int k;
    // Past a power of two the next value below is nearer than the next above.
    if (c != Format::kMinSignificand || q == Format::kMinExponent) {
        cb_left = cb - 2;
        k = floor_log10_pow2(q);
    } else {
        cb_left = cb - 1;
        k = floor_log10_three_quarters_pow2(q);
    }
    const int h = q + floor_log2_pow10(-k) + Format::kShift;
    const auto g = Format::power(k);
    const std::uint64_t vb = scaled_round_to_odd(g, cb << h);
    const std::uint64_t vb_left = scaled_round_to_odd(g, cb_left << h);
    const std::uint64_t vb_right = scaled_round_to_odd(g, cb_right << h);
    const std::uint64_t s = vb >> 2;
    // The interval is narrower than 10, so it holds at most one multiple of ten. The lower one is
    // never in when it is 0: the interval lies above 0.
    const std::uint64_t s10 = s / 10 * 10;
    const std::uint64_t t10 = s10 + 10;
    const bool s10_in = vb_left + odd <= s10 << 2;
    const bool t10_in = (t10 << 2) + odd <= vb_right;
    if (s10_in != t10_in) return {s10_in ? s10 : t10, k};
    // Else s or t = s + 1: s when only s is in, or both are and s is the nearer, the even one on
    // a tie. Chosen by arithmetic, not branches: which holds is as random as the value's last
    // digit, and a mispredicted branch costs more than all the tests.
    const std::uint64_t t = s + 1;
    const bool s_in = vb_left + odd <= s << 2;
    const bool t_in = (t << 2) + odd <= vb_right;
    const auto distance = static_cast<std::int64_t>(vb - ((s + t) << 1));
    const bool s_nearer = (distance < 0) | ((distance == 0) & ((s & 1) == 0));
    return {t - (s_in & (!t_in | s_nearer)), k};
}

struct Binary64 {
    using Bits = std::uint64_t;
    static constexpr int kFractionBits = 52;
    static constexpr int kExponentMask = 0x7FF;
    static constexpr std::uint64_t kMinSignificand = std::uint64_t{1} << kFractionBits;
    static constexpr int kMinExponent = -1074;
    static constexpr int kShift = 2;
    static const Power& power(int k) { return kPowers[k - decimal_powers::kMinK]; }
};

struct Binary32 {
    using Bits = std::uint32_t;
    static constexpr int kFractionBits = 23;
    static constexpr int kExponentMask = 0xFF;
    static constexpr std::uint64_t kMinSignificand = std::uint64_t{1} << kFractionBits;
    static constexpr int kMinExponent = -149;
    static constexpr int kShift = 33;
    static std::uint64_t power(int k) { return kPowers[k - decimal_powers::kMinK].high + 1; }
};

template <class Format, class Float>
Decimal shortest(Float magnitude) {
    const auto bits = std::bit_cast<typename Format::Bits>(magnitude);
    const std::uint64_t fraction = bits & (Format::kMinSignificand - 1);
    const int biased = static_cast<int>(bits >> Format::kFractionBits) & Format::kExponentMask;
    if (biased == 0) return to_decimal<Format>(Format::kMinExponent, fraction);
    const int minus_q = 1 - Format::kMinExponent - biased;
    const std::uint64_t c = Format::kMinSignificand | fraction;
    // An integer of fewer bits than the significand is its own shortest decimal.
    if (0 < minus_q && minus_q <= Format::kFractionBits) {
        const std::uint64_t integer = c >> minus_q;
        if (integer << minus_q == c) return {integer, 0};
    }
    return to_decimal<Format>(-minus_q, c);
}

}  // namespace shortest_decimal_detail

// The decimal with the fewest significant digits that rounds back to `magnitude`, the one nearest
// to it when several have that many (the even one on a tie), for a finite `magnitude` above zero.
// The significand may end in zeros, which writers drop where they are not places.
inline Decimal shortest_decimal(double magnitude) {
    return shortest_decimal_detail::shortest<shortest_decimal_detail::Binary64>(magnitude);
}
inline Decimal shortest_decimal(float magnitude) {
    return shortest_decimal_detail::shortest<shortest_decimal_detail::Binary32>(magnitude);
}

}  // namespace dral_core
