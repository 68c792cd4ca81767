// Resource limits on reading (the encoder uses the depth and item limits too).
#pragma once

#include <cstdint>
#include <limits>

namespace dral_core {

// What a decoded value counts against `max_memory`: at least what the largest of its forms takes
// (a Python object with its slot in its container, or a native Value), so that the limit bounds
// the memory a reader hands out, not only its strings. Every value costs kValueCost; a string or
// bytes value kStringCost more plus its bytes; an array or object kContainerCost more; an object
// entry kEntryCost more plus its key's bytes (the value in it costs as any value). A top-level
// value costs kTopLevelCost instead of kValueCost: it is held apart until the stream ends (in a
// list of results, or as a view of its own). A compressed block's decompressed content counts
// with its size.
inline constexpr std::uint64_t kValueCost = 48;
inline constexpr std::uint64_t kTopLevelCost = 128;
inline constexpr std::uint64_t kStringCost = 48;
inline constexpr std::uint64_t kContainerCost = 80;
inline constexpr std::uint64_t kEntryCost = 112;

// Where writers that take values one at a time close a data block, between two values: large
// enough that a block's header, checksum and compression start cost nothing per value, small
// enough that a reader holds little at once (bench/bench_streams.py --thresholds).
inline constexpr std::uint64_t kDefaultBlockThreshold = 1u << 20;

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
