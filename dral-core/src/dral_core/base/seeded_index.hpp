// The index of a table keyed by text that the input chooses: distinct texts numbered in the
// order they were first inserted. Keys made to collide must not make it slow, so it hashes with
// a seed the caller picks (the binding draws one per process), and no key probes more than
// kMaxProbes slots: one whose run is full goes to an ordered overflow map instead. Keys made for
// a known seed then cost a bounded probe and a logarithmic lookup each, never a scan of all.
//
// The index keeps no texts but those that overflow: the caller keeps entry n's text and hands
// `key_of(n)` (returning a std::string_view) to every call that compares keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace dral_core {

class SeededIndex {
public:
    // Only while the index is empty: entries are placed by the seed they were hashed with.
    void set_seed(std::uint64_t seed) { seed_ = seed; }
    std::uint64_t hash(std::string_view text) const;

    // The number of `text`, whose hash is `hash`, or -1 when it has none.
    template <class KeyOf>
    std::int64_t find(std::string_view text, std::uint64_t hash, KeyOf key_of) const {
        if (hashes_.empty()) return -1;
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hash & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            const std::uint32_t slot = slots_[i];
            if (slot == 0) return -1;
            if (hashes_[slot - 1] == hash && key_of(slot - 1) == text) return slot - 1;
        }
        return find_in_overflow(text);
    }

    // Numbers the next entry, size(), whose text key_of(size()) must already give.
    template <class KeyOf>
    void insert(std::uint64_t hash, KeyOf key_of) {
        if (hashes_.empty()) hashes_.reserve(32);  // not one allocation per doubling while small
        hashes_.push_back(hash);
        // Keep the load at most one half so probes stay short.
        if (hashes_.size() * 2 > slots_.size())
            rebuild(slots_.empty() ? 64 : slots_.size() * 2, key_of);
        else
            place(static_cast<std::uint32_t>(hashes_.size()), key_of);
    }

    // Forgets every entry from `count` on.
    template <class KeyOf>
    void truncate(std::size_t count, KeyOf key_of) {
        if (count >= hashes_.size()) return;
        hashes_.resize(count);
        rebuild(slots_.size(), key_of);
    }

    void clear() {
        hashes_.clear();
        slots_.clear();
        overflow_.clear();
    }

    std::size_t size() const { return hashes_.size(); }
    std::size_t capacity_bytes() const {
        return hashes_.capacity() * sizeof(std::uint64_t) +
               slots_.capacity() * sizeof(std::uint32_t);
    }

private:
    // At most half the slots are used, so with keys that do not collide on purpose a run this
    // long is all but unknown; the overflow map keeps it correct when one happens.
    static constexpr std::size_t kMaxProbes = 32;

    [[gnu::noinline]] std::int64_t find_in_overflow(std::string_view text) const;
    [[gnu::noinline]] void overflow(std::string_view text, std::uint32_t number);

    // A key is in the overflow map exactly when every slot of its run was taken as it was
    // placed: slots are only ever filled between rebuilds, so find() may stop at the first free
    // one.
    template <class KeyOf>
    void place(std::uint32_t entry_number, KeyOf& key_of) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hashes_[entry_number - 1] & mask;
        for (std::size_t probes = 0; probes < kMaxProbes; ++probes, i = (i + 1) & mask) {
            if (slots_[i] == 0) {
                slots_[i] = entry_number;
                return;
            }
        }
        overflow(key_of(entry_number - 1), entry_number - 1);
    }

    template <class KeyOf>
    void rebuild(std::size_t slot_count, KeyOf& key_of) {
        slots_.assign(slot_count, 0);
        overflow_.clear();
        for (std::size_t n = 1; n <= hashes_.size(); ++n)
            place(static_cast<std::uint32_t>(n), key_of);
    }

    std::vector<std::uint64_t> hashes_;  // by entry
    std::vector<std::uint32_t> slots_;   // entry number + 1; 0 marks a free slot
    // Keys whose run was full when they were placed, with their entry numbers; copies, since
    // the caller's texts may move.
    std::map<std::string, std::uint32_t, std::less<>> overflow_;
    std::uint64_t seed_ = 0;
};

}  // namespace dral_core
