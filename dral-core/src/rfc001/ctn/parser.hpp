// The recursive descent of the CTN reader over logical lines. A value is written inline on one
// line, or as a header line followed by a more-indented body; every block parse takes the index
// and indent of its header line and reports the first line it did not consume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "rfc001/ast.hpp"
#include "rfc001/ctn/inline_expr.hpp"
#include "rfc001/ctn/lines.hpp"

namespace dral_core::rfc001::ctn {

struct Parsed {
    Value value;
    std::size_t next;  // the first logical line not consumed
};

// `depth` arguments are the nesting level of the value being read (1 for a binding or the root).
class Parser {
public:
    explicit Parser(const std::vector<LogicalLine>& lines) : lines_(lines) {}

    // The statements of the whole document: annotations, uses, bindings and root values.
    Result<Document> parse_statements();

    // The value whose header is logical line `index`.
    Result<Parsed> parse_value_at(std::size_t index, std::size_t depth);
    // A block form when the header names one and has a body, else the inline expression.
    Result<Parsed> parse_value_from_header(std::string_view header, std::size_t index,
                                           std::size_t indent, std::size_t depth);
    // The right-hand side of "name = value" or "key => value" on line `index`.
    Result<Parsed> parse_rhs_or_nested(std::string_view rhs, std::size_t index, std::size_t indent,
                                       std::size_t depth);
    // An "@name value" line; the value must be a scalar.
    Result<Annotation> parse_annotation_line(std::string_view text, std::size_t depth);

private:
    // Whether a line after `index` exists and is indented deeper than `indent`.
    bool nested_after(std::size_t index, std::size_t indent) const {
        return index + 1 < lines_.size() && lines_[index + 1].indent > indent;
    }

    Result<Parsed> parse_struct_block(std::string_view h, std::size_t index, std::size_t indent,
                                      std::size_t depth);
    Result<Parsed> parse_enum_block(std::string_view h, std::size_t index, std::size_t indent,
                                    std::size_t depth);
    Result<Parsed> parse_map_block(std::size_t index, std::size_t indent, std::size_t depth);
    Result<Parsed> parse_sequence_block(std::string_view h, std::size_t index, std::size_t indent,
                                        std::size_t depth);
    Result<Parsed> parse_stream_block(std::string_view h, std::size_t index, std::size_t indent,
                                      std::size_t depth);
    Result<Parsed> parse_tensor_block(std::string_view h, std::size_t index, std::size_t indent,
                                      std::size_t depth);

    // The "name = value" entries of a struct or enum block, into `fields`; the first line after.
    Result<std::size_t> parse_fields(std::size_t index, std::size_t indent, std::size_t depth,
                                     std::vector<Field>& fields, std::string_view name_error,
                                     std::string_view indent_error);
    // Fails unless the entry starting at line `i` has the indent of the block's first entry.
    Status check_entry_indent(std::size_t i, std::size_t first, std::string_view detail) const;

    const std::vector<LogicalLine>& lines_;
    InlineReader inline_;
    std::uint64_t blob_bytes_ = 0;  // zero bytes that binary placeholders asked for so far
};

// The text between the first '<' and the last '>' after it, trimmed; nothing without both.
std::optional<std::string_view> parse_generic_type_arg(std::string_view header);

// Appends the numbers of a tensor data line, flattening nested sequences.
Status collect_numeric_scalars(const Value& value, std::vector<double>& out);

}  // namespace dral_core::rfc001::ctn
