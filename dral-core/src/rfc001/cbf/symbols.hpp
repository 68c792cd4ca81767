// The symbol table: the distinct names and symbol texts of a compiled root in ascending byte
// order, so that symbols and field names can be written as small indices.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/byte_buffer.hpp"
#include "base/error.hpp"
#include "rfc001/cbf/references.hpp"

namespace dral_core::rfc001::cbf {

// What the segment writer consults: each table entry's index, and whether a table is written.
// The texts are views into the document being compiled.
struct CbfEncodeContext {
    std::unordered_map<std::string_view, std::uint32_t> symbol_index;
    bool has_symtab = false;
};

// The texts the table lists, gathered unordered; `symbol_index` maps each to a placeholder.
using SymbolSet = std::unordered_map<std::string_view, std::uint32_t>;

// Adds every symbol text and name of the inlined root: symbols wherever they occur, and field,
// type, variant, element and item type, annotation, type tag and unresolved reference names,
// although most of these are written as text.
void collect_symbols(const ResolvedRoot& resolved, SymbolSet& set);

// Whether a symbol occurs as a value anywhere in the inlined root (names do not count).
bool contains_symbol_value(const ResolvedRoot& resolved);

// Orders the collected texts into the table and numbers them; returns the entries in order.
std::vector<std::string_view> number_symbols(SymbolSet& set);

// Appends the table: u32 count, then per entry its varint length and bytes.
void write_symbol_table(std::span<const std::string_view> entries, ByteBuffer& out);

// Reads the table at `offset` in `body`. Errors carry body offsets.
Result<std::vector<std::string>> read_symbol_table(std::span<const std::uint8_t> body,
                                                   std::uint32_t offset);

}  // namespace dral_core::rfc001::cbf
