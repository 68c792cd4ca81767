// Text written one byte a character, widened to two: a text with a character past Latin-1 is
// joined at two bytes for each of its characters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dral_core {

// Stores the `n` bytes at `in` (a multiple of 16) as `n` two-byte units at `out`: 32 bytes a
// store on processors with AVX2, for a long text's widening is bound by its stores.
void widen_text(std::uint16_t* out, const std::uint8_t* in, std::size_t n);

}  // namespace dral_core
