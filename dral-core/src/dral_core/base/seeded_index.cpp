#include "dral_core/base/seeded_index.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace dral_core {

std::uint64_t SeededIndex::hash(std::string_view text) const {
    return XXH3_64bits_withSeed(text.data(), text.size(), seed_);
}

std::int64_t SeededIndex::find_in_overflow(std::string_view text) const {
    auto found = overflow_.find(text);
    return found == overflow_.end() ? -1 : static_cast<std::int64_t>(found->second);
}

void SeededIndex::overflow(std::string_view text, std::uint32_t number) {
    overflow_.emplace(text, number);
}

}  // namespace dral_core
