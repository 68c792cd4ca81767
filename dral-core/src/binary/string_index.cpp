#include "binary/string_index.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace dral_core {

std::uint64_t StringIndex::hash(std::string_view text) {
    return XXH3_64bits(text.data(), text.size());
}

void StringIndex::insert(std::uint64_t hash, std::size_t offset, std::size_t length) {
    if (entries_.empty()) entries_.reserve(32);  // not one allocation per doubling while small
    entries_.push_back({hash, offset, length});
    // Keep the load at most one half so probes stay short.
    if (entries_.size() * 2 > slots_.size())
        rebuild(slots_.empty() ? 64 : slots_.size() * 2);
    else
        place(static_cast<std::uint32_t>(entries_.size()));
}

void StringIndex::truncate(std::size_t count) {
    if (count >= entries_.size()) return;
    entries_.resize(count);
    rebuild(slots_.size());
}

void StringIndex::clear() {
    entries_.clear();
    slots_.clear();
}

void StringIndex::place(std::uint32_t entry_number) {
    std::size_t mask = slots_.size() - 1;
    std::size_t i = entries_[entry_number - 1].hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = entry_number;
}

void StringIndex::rebuild(std::size_t slot_count) {
    slots_.assign(slot_count, 0);
    for (std::size_t n = 1; n <= entries_.size(); ++n) place(static_cast<std::uint32_t>(n));
}

}  // namespace dral_core
