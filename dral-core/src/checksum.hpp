// XXH64 with seed 0: the checksum of every block and of the whole stream.
#pragma once

#include <cstdint>
#include <span>

namespace dral_core {

std::uint64_t xxh64(std::span<const std::uint8_t> bytes);

inline std::uint64_t load_u64_le(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

}  // namespace dral_core
