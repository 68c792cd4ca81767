// The encoder's map from distinct string values to their order of first appearance. Keys are not
// copied: each entry points at the bytes already written in full into the block buffer.
//
// The input chooses the keys, so the table must not degrade on keys made to collide. It hashes
// with a seed that the caller picks (the binding draws one per process), and no key probes more
// than kMaxProbes slots: one whose run is full goes to an ordered overflow map instead. Keys made
// for a known seed then cost a bounded probe and a logarithmic lookup each, never a scan of all.
#pragma once

#include <cstdint>
#include <map>
#include <string>
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

    // Only while the index is empty: entries are placed by the seed they were hashed with.
    void set_seed(std::uint64_t seed) { seed_ = seed; }
    std::uint64_t hash(std::string_view text) const;

    // The index of `text`, or -1 when it has not been seen.
    std::int64_t find(std::string_view text, std::uint64_t hash, const ByteBuffer& block) const {
        if (entries_.empty()) return -1;
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hash & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            const std::uint32_t slot = slots_[i];
            if (slot == 0) return -1;
            const Entry& entry = entries_[slot - 1];
            if (entry.hash == hash && block.view(entry.offset, entry.length) == text)
                return slot - 1;
        }
        return find_in_overflow(text);
    }

    // Registers the next index for bytes at `offset` of the block buffer.
    void insert(std::uint64_t hash, std::size_t offset, std::size_t length,
                const ByteBuffer& block);

    std::size_t size() const { return entries_.size(); }
    std::size_t capacity_bytes() const {
        return entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(std::uint32_t);
    }
    bool empty() const { return entries_.empty(); }
    const std::vector<Entry>& entries() const { return entries_; }

    // Forgets every entry from `count` on (used to undo a failed value).
    void truncate(std::size_t count, const ByteBuffer& block);
    void clear();

private:
    // At most half the slots are used, so with keys that do not collide on purpose a run this
    // long is all but unknown; the overflow map keeps it correct when one happens.
    static constexpr std::size_t kMaxProbes = 32;

    [[gnu::noinline]] std::int64_t find_in_overflow(std::string_view text) const;
    void place(std::uint32_t entry_number, const ByteBuffer& block);
    void rebuild(std::size_t slot_count, const ByteBuffer& block);

    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;  // entry number + 1; 0 marks a free slot
    // Keys whose run was full when they were placed, with their entry numbers; copies, since
    // the block buffer moves as it grows.
    std::map<std::string, std::uint32_t, std::less<>> overflow_;
    std::uint64_t seed_ = 0;
};

}  // namespace dral_core
