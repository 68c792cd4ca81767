// The running total of memory a reader hands out, held against its limit.
#pragma once

#include <cstdint>

#include "dral_core/base/error.hpp"

namespace dral_core {

// Every value a reader produces is charged here (see the costs in limits.hpp), strings whether
// their bytes were read in full or copied from somewhere it already holds: what a stream may cost
// is bounded by what it asks for, not by its own size.
class MemoryMeter {
public:
    explicit MemoryMeter(std::uint64_t limit) : limit_(limit), left_(limit) {}

    // Takes `bytes` from what is left, failing once the total would pass the limit; the error
    // reports the total asked for.
    Status charge(std::uint64_t bytes) {
        if (!try_charge(bytes)) [[unlikely]]
            return fail(refusal());
        return {};
    }
    // The same without building the error. One comparison per value: the readers charge every
    // value.
    bool try_charge(std::uint64_t bytes) {
        if (bytes > left_) [[unlikely]]
            return refuse(bytes);
        left_ -= bytes;
        return true;
    }

    // `fixed` and `count` times `cost`, as one charge.
    Status charge_each(std::uint64_t fixed, std::uint64_t count, std::uint64_t cost) {
        std::uint64_t total;
        if (__builtin_mul_overflow(count, cost, &total) ||
            __builtin_add_overflow(total, fixed, &total)) [[unlikely]]
            total = UINT64_MAX;
        return charge(total);
    }

    // The total asked for, the refused charge included.
    std::uint64_t used() const { return refused_total_ != 0 ? refused_total_ : limit_ - left_; }
    std::uint64_t limit() const { return limit_; }
    // What may still be charged; nothing once a charge has failed.
    std::uint64_t remaining() const { return left_; }
    bool exhausted() const { return refused_total_ != 0; }
    // The error of the charge that failed.
    [[gnu::cold]] DralError refusal() const {
        return DralError::memory_limit_exceeded(used(), limit_);
    }

private:
    [[gnu::cold, gnu::noinline]] bool refuse(std::uint64_t bytes) {
        // Totals saturate, so a lifted limit is never passed.
        if (limit_ == UINT64_MAX) {
            left_ = UINT64_MAX;
            return true;
        }
        const std::uint64_t used_now = used();
        refused_total_ = bytes > UINT64_MAX - used_now ? UINT64_MAX : used_now + bytes;
        left_ = 0;
        return false;
    }

    std::uint64_t limit_;
    std::uint64_t left_;
    std::uint64_t refused_total_ = 0;  // nonzero once a charge has failed
};

}  // namespace dral_core
