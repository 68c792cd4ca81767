// The running total of memory a reader hands out, held against its limit.
#pragma once

#include <cstdint>

#include "base/error.hpp"

namespace dral_core {

// Every value a reader produces is charged here (see the costs in limits.hpp), strings whether
// their bytes were read in full or copied from somewhere it already holds: what a stream may cost
// is bounded by what it asks for, not by its own size.
class MemoryMeter {
public:
    explicit MemoryMeter(std::uint64_t limit) : limit_(limit) {}

    // Adds `bytes` to the total (saturating) and fails once the total is past the limit; the
    // error reports the total.
    Status charge(std::uint64_t bytes) {
        if (__builtin_add_overflow(used_, bytes, &used_)) [[unlikely]]
            used_ = UINT64_MAX;
        if (used_ > limit_) [[unlikely]]
            return fail(DralError::memory_limit_exceeded(used_, limit_));
        return {};
    }

    // `count` times `cost`, saturating.
    Status charge_each(std::uint64_t count, std::uint64_t cost) {
        std::uint64_t total;
        if (__builtin_mul_overflow(count, cost, &total)) [[unlikely]]
            total = UINT64_MAX;
        return charge(total);
    }

private:
    std::uint64_t used_ = 0;
    std::uint64_t limit_;
};

}  // namespace dral_core
