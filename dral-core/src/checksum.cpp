#include "checksum.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace dral_core {

std::uint64_t xxh64(std::span<const std::uint8_t> bytes) {
    return XXH64(bytes.data(), bytes.size(), 0);
}

}  // namespace dral_core
