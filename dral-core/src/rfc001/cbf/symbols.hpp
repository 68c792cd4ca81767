// The symbol table: the distinct names and symbol texts of a compiled root in ascending byte
// order, so that symbols and field names can be written as small indices.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_buffer.hpp"
#include "base/error.hpp"
#include "base/memory_meter.hpp"
#include "rfc001/cbf/references.hpp"

namespace dral_core::rfc001::cbf {

// What the segment writer consults: the table, and whether one is written. The texts are
// views into the document being compiled. Lookups search the sorted table itself: no hash that
// chosen names could make collide.
struct CbfEncodeContext {
    std::vector<std::string_view> table;  // ascending byte order
    bool has_symtab = false;

    // The index of `text` in the table, or -1 when it has none.
    std::int64_t index_of(std::string_view text) const {
        auto found = std::lower_bound(table.begin(), table.end(), text);
        return found == table.end() || *found != text ? -1 : found - table.begin();
    }
};

// The texts the table lists, in table order (string_view compares as unsigned bytes).
using SymbolSet = std::set<std::string_view, std::less<>>;

// Adds every symbol text and name of the inlined root: symbols wherever they occur, and field,
// type, variant, element and item type, annotation, type tag and unresolved reference names,
// although most of these are written as text.
void collect_symbols(const ResolvedRoot& resolved, SymbolSet& set);

// Whether a symbol occurs as a value anywhere in the inlined root (names do not count).
bool contains_symbol_value(const ResolvedRoot& resolved);

// The collected texts as the table lists them.
std::vector<std::string_view> number_symbols(const SymbolSet& set);

// Appends the table: u32 count, then per entry its varint length and bytes.
void write_symbol_table(std::span<const std::string_view> entries, ByteBuffer& out);

// Reads the table at `offset` in `body`, each entry charged to `meter` (kLineCost and its
// text). Errors carry body offsets.
Result<std::vector<std::string>> read_symbol_table(std::span<const std::uint8_t> body,
                                                   std::uint32_t offset, MemoryMeter& meter);

}  // namespace dral_core::rfc001::cbf
