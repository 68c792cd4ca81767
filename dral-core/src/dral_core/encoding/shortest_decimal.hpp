// The shortest decimal that reads back to a binary float: the digits every float text is made of.
#pragma once

#include <cstdint>

namespace dral_core {

// significand × 10^exponent.
struct Decimal {
    std::uint64_t significand;
    int exponent;
};

// The decimal with the fewest significant digits that rounds back to `magnitude`, the one nearest
// to it when several have that many (the even one on a tie), for a finite `magnitude` above zero.
// The significand may end in zeros, which writers drop where they are not places.
Decimal shortest_decimal(double magnitude);
Decimal shortest_decimal(float magnitude);

}  // namespace dral_core
