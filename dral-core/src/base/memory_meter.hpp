// The running total of memory a reader hands out, held against its limit.
#pragma once

#include <cstdint>

#include "base/error.hpp"

namespace dral_core {

// Every string a reader produces is charged here, whether its bytes were read in full or copied
// from somewhere it already holds: what a stream may cost is bounded by what it asks for, not by
// its own size.
class MemoryMeter {
public:
    explicit MemoryMeter(std::uint64_t limit) : limit_(limit) {}

    // Adds `bytes` to the total (saturating) and fails once the total is past the limit; the
    // error reports the total.
    Status charge(std::uint64_t bytes) {
        if (!try_charge(bytes)) [[unlikely]]
            return fail(refusal());
        return {};
    }
    // The same without building the error: whether the total is still within the limit.
    bool try_charge(std::uint64_t bytes) {
        if (__builtin_add_overflow(used_, bytes, &used_)) [[unlikely]]
            used_ = UINT64_MAX;
        return used_ <= limit_;
    }

    std::uint64_t used() const { return used_; }
    std::uint64_t limit() const { return limit_; }
    // What may still be charged; nothing once a charge has failed.
    std::uint64_t remaining() const { return used_ < limit_ ? limit_ - used_ : 0; }
    bool exhausted() const { return used_ > limit_; }
    // The error of the charge that failed.
    [[gnu::cold]] DralError refusal() const {
        return DralError::memory_limit_exceeded(used_, limit_);
    }

private:
    std::uint64_t used_ = 0;
    std::uint64_t limit_;
};

}  // namespace dral_core
