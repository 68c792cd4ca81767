// Queries over a compiled file that read what they select. The frame, its checksum and the
// symbol table are checked as a decode checks them; then each step reads only the segments it
// needs (a field through the fields before it, an index through the offset table, `[]` through
// the items it yields) and only the selected values are decoded.
//
// For every file that decodes, the results and errors are those of a decode followed by the
// query. What the query reads passes every check and bound of a decode (depth, the segment and
// payload budgets, symbol texts); a fault elsewhere in a file, possible only in a crafted file
// with a valid checksum, goes unnoticed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/cbf/container.hpp"

namespace dral_core::rfc001::cbf {

// The values `expression` selects from the root of `file`, in order. An expression that does
// not parse is reported after the whole root has been decoded, so that a faulty document is
// still reported first. What is read and decoded is charged to `meter`; without one, within the
// default limit.
Result<std::vector<Value>> query_document(std::span<const std::uint8_t> file,
                                          std::string_view expression, MemoryMeter& meter,
                                          ChecksumObserver* observer = nullptr);
Result<std::vector<Value>> query_document(std::span<const std::uint8_t> file,
                                          std::string_view expression);

}  // namespace dral_core::rfc001::cbf
