#include "binary/string_index.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace dral_core {

std::uint64_t StringIndex::hash(std::string_view text) const {
    return XXH3_64bits_withSeed(text.data(), text.size(), seed_);
}

void StringIndex::insert(std::uint64_t hash, std::size_t offset, std::size_t length,
                         const ByteBuffer& block) {
    if (entries_.empty()) entries_.reserve(32);  // not one allocation per doubling while small
    entries_.push_back({hash, offset, length});
    // Keep the load at most one half so probes stay short.
    if (entries_.size() * 2 > slots_.size())
        rebuild(slots_.empty() ? 64 : slots_.size() * 2, block);
    else
        place(static_cast<std::uint32_t>(entries_.size()), block);
}

void StringIndex::truncate(std::size_t count, const ByteBuffer& block) {
    if (count >= entries_.size()) return;
    entries_.resize(count);
    rebuild(slots_.size(), block);
}

void StringIndex::clear() {
    entries_.clear();
    slots_.clear();
    overflow_.clear();
}

std::int64_t StringIndex::find_in_overflow(std::string_view text) const {
    auto found = overflow_.find(text);
    return found == overflow_.end() ? -1 : static_cast<std::int64_t>(found->second);
}

// A key is in the overflow map exactly when every slot of its run was taken as it was placed:
// slots are only ever filled between rebuilds, so find() may stop at the first free one.
void StringIndex::place(std::uint32_t entry_number, const ByteBuffer& block) {
    const Entry& entry = entries_[entry_number - 1];
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = entry.hash & mask;
    for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
        if (slots_[i] == 0) {
            slots_[i] = entry_number;
            return;
        }
    }
    overflow_.emplace(block.view(entry.offset, entry.length), entry_number - 1);
}

void StringIndex::rebuild(std::size_t slot_count, const ByteBuffer& block) {
    slots_.assign(slot_count, 0);
    overflow_.clear();
    for (std::size_t n = 1; n <= entries_.size(); ++n) place(static_cast<std::uint32_t>(n), block);
}

}  // namespace dral_core
