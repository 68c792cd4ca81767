// Copying the short byte strings that make up most of a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dral_core {

// memcpy for short strings and keys: a call to the library's memcpy costs more than copying
// them. Whole loads that overlap read no byte outside `in`.
inline void copy_bytes(std::uint8_t* out, const void* in, std::size_t n) {
    const auto* from = static_cast<const std::uint8_t*>(in);
    auto copy_ends = [&]<class Word>() {
        Word head, tail;
        std::memcpy(&head, from, sizeof(Word));
        std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
        std::memcpy(out, &head, sizeof(Word));
        std::memcpy(out + n - sizeof(Word), &tail, sizeof(Word));
    };
    struct Sixteen {
        std::uint64_t words[2];
    };
    if (n > 32) {
        std::memcpy(out, from, n);
    } else if (n >= 16) {
        copy_ends.template operator()<Sixteen>();
    } else if (n >= 8) {
        copy_ends.template operator()<std::uint64_t>();
    } else if (n >= 4) {
        copy_ends.template operator()<std::uint32_t>();
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
}

}  // namespace dral_core
