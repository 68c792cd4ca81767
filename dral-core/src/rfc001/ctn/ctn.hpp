// CTN, the typed text notation of RFC-001 documents: the reader and the canonical writer.
#pragma once

#include <string>
#include <string_view>

#include "base/error.hpp"
#include "rfc001/ast.hpp"

namespace dral_core::rfc001::ctn {

// Reads a whole document from valid UTF-8 text (as every Python str has), which is not checked
// again. Faults of line structure are TextParse errors carrying the 1-based
// source line (column 1); faults inside a value are InvalidData errors (InvalidBase64 for a bad
// Base64 body); values nested deeper than kMaxDepth fail with DepthExceeded.
Result<Document> parse_document(std::string_view text);

// The canonical text of a document: annotations, uses, bindings, then the root after a blank
// line. Never ends with a line feed; never fails. `expected_size` is room to reserve up front
// (the source text's size is a good guess), so that a large text is not copied as it grows.
std::string format_document(const Document& document, std::size_t expected_size = 0);

// The text of one value as it would start a line at indent 0 (inline when it has a one-line
// form, else a header line and indented body lines).
std::string format_value(const Value& value);

}  // namespace dral_core::rfc001::ctn
