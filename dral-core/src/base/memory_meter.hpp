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
    explicit MemoryMeter(std::uint64_t limit) : limit_(limit), left_(limit) {}

    // Takes `bytes` from what is left, failing once the total would pass the limit; the error
    // reports the total asked for. One comparison per value: the readers charge every value.
    Status charge(std::uint64_t bytes) {
        if (bytes > left_) [[unlikely]]
            return fail(over(bytes));
        left_ -= bytes;
        return {};
    }

    // `fixed` and `count` times `cost`, as one charge.
    Status charge_each(std::uint64_t fixed, std::uint64_t count, std::uint64_t cost) {
        std::uint64_t total;
        if (__builtin_mul_overflow(count, cost, &total) ||
            __builtin_add_overflow(total, fixed, &total)) [[unlikely]]
            total = UINT64_MAX;
        return charge(total);
    }

private:
    [[gnu::cold]] DralError over(std::uint64_t bytes) const {
        const std::uint64_t used = limit_ - left_;
        const std::uint64_t requested = bytes > UINT64_MAX - used ? UINT64_MAX : used + bytes;
        return DralError::memory_limit_exceeded(requested, limit_);
    }

    std::uint64_t limit_;
    std::uint64_t left_;
};

}  // namespace dral_core
