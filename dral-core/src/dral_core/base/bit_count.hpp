// Bits set in the masks that vector compares give.
#pragma once

namespace dral_core {

// Bits set in a 16-bit mask. std::popcount is a library call where the instruction is not part of
// the target (the x86-64 baseline has none); this is a handful of instructions everywhere.
inline unsigned count_bits_16(unsigned mask) {
    mask = mask - ((mask >> 1) & 0x5555u);
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}

}  // namespace dral_core
