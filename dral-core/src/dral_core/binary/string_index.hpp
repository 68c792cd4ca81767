// The encoder's map from distinct string values to their order of first appearance. Keys are not
// copied: each entry points at the bytes already written in full into the block buffer. The
// input chooses the keys: the index is a SeededIndex, which stays fast on keys made to collide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/seeded_index.hpp"

namespace dral_core {

class StringIndex {
    // The key texts as the index asks for them.
    auto key_of(const ByteBuffer& block) const {
        return [this, &block](std::size_t n) {
            return block.view(entries_[n].offset, entries_[n].length);
        };
    }

public:
    struct Entry {
        std::size_t offset;  // of the string's bytes in the block buffer
        std::size_t length;
    };

    // Only while the index is empty: entries are placed by the seed they were hashed with.
    void set_seed(std::uint64_t seed) { index_.set_seed(seed); }
    std::uint64_t hash(std::string_view text) const { return index_.hash(text); }

    // The index of `text`, or -1 when it has not been seen.
    std::int64_t find(std::string_view text, std::uint64_t hash, const ByteBuffer& block) const {
        return index_.find(text, hash, key_of(block));
    }

    // Registers the next index for bytes at `offset` of the block buffer.
    void insert(std::uint64_t hash, std::size_t offset, std::size_t length,
                const ByteBuffer& block) {
        if (entries_.empty()) entries_.reserve(32);  // not one allocation per doubling while small
        entries_.push_back({offset, length});
        index_.insert(hash, key_of(block));
    }

    std::size_t size() const { return entries_.size(); }
    std::size_t capacity_bytes() const {
        return entries_.capacity() * sizeof(Entry) + index_.capacity_bytes();
    }
    bool empty() const { return entries_.empty(); }
    const std::vector<Entry>& entries() const { return entries_; }

    // Forgets every entry from `count` on (used to undo a failed value).
    void truncate(std::size_t count, const ByteBuffer& block) {
        if (count >= entries_.size()) return;
        index_.truncate(count, key_of(block));
        entries_.resize(count);
    }
    // The bytes from `offset` on moved by `shift`.
    void move_from(std::size_t offset, std::ptrdiff_t shift) {
        for (auto entry = entries_.rbegin(); entry != entries_.rend() && entry->offset >= offset;
             ++entry)
            entry->offset =
                static_cast<std::size_t>(static_cast<std::ptrdiff_t>(entry->offset) + shift);
    }
    void clear() {
        entries_.clear();
        index_.clear();
    }

private:
    std::vector<Entry> entries_;
    SeededIndex index_;
};

}  // namespace dral_core
