// CTN, the typed text notation of RFC-001 documents: the reader and the canonical writer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::ctn {

// Reads a whole document from valid UTF-8 text (as every Python str has), which is not checked
// again. Faults of line structure are TextParse errors carrying the 1-based
// source line (column 1); faults inside a value are InvalidData errors (InvalidBase64 for a bad
// Base64 body); values nested deeper than kMaxDepth fail with DepthExceeded. What the document
// takes is charged to `meter` (see rfc001/memory.hpp): the text's size, each line, value,
// annotation, tensor element and dimension, and the zero bytes of binary placeholders; the
// first refusal ends the parse with MemoryLimitExceeded.
Result<Document> parse_document(std::string_view text, MemoryMeter& meter);
// The same within the default limit.
Result<Document> parse_document(std::string_view text);

// Formatted text, in the order written. A text's length is not known before it is written: it
// goes into chunks of bounded size that are never moved once written, rather than into one
// string that is copied each time it grows, and each chunk is measured as UTF-8 as it is
// closed, while it is still in cache, so that the text becomes a str without another pass.
struct FormattedText {
    struct Chunk {
        std::string text;  // ends on a character boundary
        // What measure_utf8 gives for it: absent when it is not UTF-8, which a tree's texts are.
        std::optional<Utf8Measure> measure;
    };
    std::vector<Chunk> chunks;

    std::size_t size() const;
    // The whole text's measure: absent when a chunk has none.
    std::optional<Utf8Measure> measure() const;
    // The whole text in one string.
    std::string joined() const;
};

// The canonical text of a document: annotations, uses, bindings, then the root after a blank
// line. Never ends with a line feed. `expected_size` is the first chunk's room (the source
// text's size is a good guess). The text counts kOutputCopies times its length against `meter`
// (it and the caller's copy of it): a text that would pass what the meter has left fails with
// MemoryLimitExceeded before it is written.
Result<FormattedText> format_document(const Document& document, MemoryMeter& meter,
                                      std::size_t expected_size = 0);
// The same within the default limit, in one string.
Result<std::string> format_document(const Document& document);

// The text of one value as it would start a line at indent 0 (inline when it has a one-line
// form, else a header line and indented body lines), counted as format_document counts.
Result<FormattedText> format_value(const Value& value, MemoryMeter& meter);
Result<std::string> format_value(const Value& value);

}  // namespace dral_core::rfc001::ctn
