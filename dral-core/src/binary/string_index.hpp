// The encoder's map from distinct string values to their order of first appearance. Keys are not
// copied: each entry points at the bytes already written in full into the block buffer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/byte_buffer.hpp"

namespace dral_core {

class StringIndex {
public:
    struct Entry {
        std::uint64_t hash;
        std::size_t offset;  // of the string's bytes in the block buffer
        std::size_t length;
    };

    static std::uint64_t hash(std::string_view text);

    // The index of `text`, or -1 when it has not been seen.
    std::int64_t find(std::string_view text, std::uint64_t hash, const ByteBuffer& block) const {
        if (entries_.empty()) return -1;
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            std::uint32_t slot = slots_[i];
            if (slot == 0) return -1;
            const Entry& entry = entries_[slot - 1];
            if (entry.hash == hash && block.view(entry.offset, entry.length) == text)
                return slot - 1;
        }
    }

    // Registers the next index for bytes at `offset` of the block buffer.
    void insert(std::uint64_t hash, std::size_t offset, std::size_t length);

    std::size_t size() const { return entries_.size(); }
    std::size_t capacity_bytes() const {
        return entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(std::uint32_t);
    }
    bool empty() const { return entries_.empty(); }
    const std::vector<Entry>& entries() const { return entries_; }

    // Forgets every entry from `count` on (used to undo a failed value).
    void truncate(std::size_t count);
    void clear();

private:
    void place(std::uint32_t entry_number);
    void rebuild(std::size_t slot_count);

    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;  // entry number + 1; 0 marks a free slot
};

}  // namespace dral_core
