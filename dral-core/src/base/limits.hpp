// Resource limits on reading (the encoder uses the depth and item limits too).
#pragma once

#include <cstdint>
#include <limits>

namespace dral_core {

struct DecodeLimits {
    std::uint64_t max_depth = 128;
    std::uint64_t max_block_size = 64ull << 20;
    std::uint64_t max_items = 1000000;
    std::uint64_t max_memory = 256ull << 20;
    std::uint64_t max_string_length = 16ull << 20;
    std::uint64_t max_decompression_ratio = 100;

    // Every limit lifted except nesting, which guards the stack.
    static DecodeLimits unlimited(std::uint64_t max_depth) {
        constexpr auto kNone = std::numeric_limits<std::uint64_t>::max();
        return {max_depth, kNone, kNone, kNone, kNone, kNone};
    }
};

}  // namespace dral_core
