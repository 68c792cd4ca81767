// Powers of ten in 126 bits, for finding the shortest decimal of a binary float.
#pragma once

#include <cstdint>

namespace dral_core::decimal_powers {

// g = high × 2^63 + low, an upper bound, tight to one unit, of 10^-k scaled by a power of two
// into [2^125, 2^126).
struct Power {
    std::uint64_t high;
    std::uint64_t low;
};

inline constexpr int kMinK = -324;
inline constexpr int kMaxK = 292;

// The power for k at kPowers[k - kMinK].
extern const Power kPowers[kMaxK - kMinK + 1];

}  // namespace dral_core::decimal_powers
