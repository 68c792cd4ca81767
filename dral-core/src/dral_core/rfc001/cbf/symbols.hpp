// The symbol table: the distinct names and symbol texts of a compiled root in ascending byte
// order, so that symbols and field names can be written as small indices.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/base/seeded_index.hpp"
#include "dral_core/rfc001/cbf/references.hpp"

namespace dral_core::rfc001::cbf {

// The distinct texts of a compiled root, gathered in the order met, then numbered in ascending
// byte order, the table's. The texts are views into the document being compiled; they are keyed
// by a SeededIndex hashed with the seed given, which callers should draw at random: the input
// chooses the names.
class SymbolTable {
    // The texts as the index asks for them.
    auto key_of() const {
        return [this](std::size_t n) { return texts_[n]; };
    }

public:
    void set_seed(std::uint64_t seed) { index_.set_seed(seed); }
    void add(std::string_view text) {
        const std::uint64_t hash = index_.hash(text);
        if (index_.find(text, hash, key_of()) >= 0) return;
        texts_.push_back(text);
        index_.insert(hash, key_of());
    }
    // Orders the texts into the table; index_of answers from then on.
    void number();

    std::size_t size() const { return texts_.size(); }
    // In table order once numbered.
    std::span<const std::string_view> entries() const { return table_; }
    // The index of `text` in the table, or -1 when it has none.
    std::int64_t index_of(std::string_view text) const {
        const std::int64_t n = index_.find(text, index_.hash(text), key_of());
        return n < 0 ? -1 : positions_[static_cast<std::size_t>(n)];
    }

private:
    std::vector<std::string_view> texts_;   // in the order met
    std::vector<std::uint32_t> positions_;  // of texts_[n] in the table
    std::vector<std::string_view> table_;
    SeededIndex index_;
};

// What the segment writer consults: the table, and whether one is written.
struct CbfEncodeContext {
    SymbolTable table;
    bool has_symtab = false;

    std::int64_t index_of(std::string_view text) const { return table.index_of(text); }
};

// Adds every symbol text and name of the inlined root: symbols wherever they occur, and field,
// type, variant, element and item type, annotation, type tag and unresolved reference names,
// although most of these are written as text.
void collect_symbols(const ResolvedRoot& resolved, SymbolTable& table);

// Whether a symbol occurs as a value anywhere in the inlined root (names do not count).
bool contains_symbol_value(const ResolvedRoot& resolved);

// Appends the table: u32 count, then per entry its varint length and bytes.
void write_symbol_table(std::span<const std::string_view> entries, ByteBuffer& out);

// Reads the table at `offset` in `body`, each entry charged to `meter` (kLineCost and its
// text). Errors carry body offsets.
Result<std::vector<std::string>> read_symbol_table(std::span<const std::uint8_t> body,
                                                   std::uint32_t offset, MemoryMeter& meter);

}  // namespace dral_core::rfc001::cbf
