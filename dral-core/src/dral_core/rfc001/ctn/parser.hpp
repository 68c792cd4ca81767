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

#include "dral_core/base/error.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/ctn/inline_expr.hpp"
#include "dral_core/rfc001/ctn/lines.hpp"
#include "dral_core/rfc001/names.hpp"

namespace dral_core::rfc001::ctn {

// The recursive descent. Every value parse pushes its value onto the stack of the inline reader
// and returns the first logical line it did not consume, or kFailed with the error kept by the
// reader, which keeps the frames of the recursion lean (see InlineReader). `depth` arguments are
// the nesting level of the value being read: 1 for a binding or the root.
class Parser {
public:
    static constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

    Parser(const std::vector<LogicalLine>& lines, MemoryMeter& meter)
        : lines_(lines), inline_(meter) {}

    // The statements of the whole document: annotations, uses, bindings and root values.
    Result<Document> parse_statements();

    // The value whose header is logical line `index`.
    std::size_t parse_value_at(std::size_t index, std::size_t depth);
    // A block form when the header names one and has a body, else the inline expression.
    std::size_t parse_value_from_header(std::string_view header, std::size_t index,
                                        std::size_t indent, std::size_t depth);
    // The right-hand side of "name = value" or "key => value" on line `index`, trimmed.
    std::size_t parse_rhs_or_nested(std::string_view rhs, std::size_t index, std::size_t indent,
                                    std::size_t depth);
    // An "@name value" line; the value must be a scalar. An annotation is an attribute of its
    // owner, so its value is read at the owner's level.
    Result<Annotation> parse_annotation_line(std::string_view text, std::size_t depth);

private:
    // Whether a line after `index` exists and is indented deeper than `indent`.
    bool nested_after(std::size_t index, std::size_t indent) const {
        return index + 1 < lines_.size() && lines_[index + 1].indent > indent;
    }

    std::size_t parse_struct_block(std::string_view h, std::size_t index, std::size_t indent,
                                   std::size_t depth);
    std::size_t parse_enum_block(std::string_view h, std::size_t index, std::size_t indent,
                                 std::size_t depth);
    std::size_t parse_map_block(std::size_t index, std::size_t indent, std::size_t depth);
    std::size_t parse_sequence_block(std::string_view h, std::size_t index, std::size_t indent,
                                     std::size_t depth);
    // Streams and tensors hold no blocks: they end the recursion.
    [[gnu::noinline]] std::size_t parse_stream_block(std::string_view h, std::size_t index,
                                                     std::size_t indent, std::size_t depth);
    [[gnu::noinline]] std::size_t parse_tensor_block(std::string_view h, std::size_t index,
                                                     std::size_t indent, std::size_t depth);
    [[gnu::noinline]] Status read_tensor_body(Tensor& tensor, std::size_t index, std::size_t indent,
                                              std::size_t depth);

    // The "name = value" entries of a struct or enum block: names and values on the stack.
    std::size_t parse_fields(std::size_t index, std::size_t indent, std::size_t depth,
                             std::string_view name_error, std::string_view indent_error);
    // Whether the entry at line `i` has the indent of the block's first entry, at `index` + 1.
    bool entry_indent_ok(std::size_t i, std::size_t index, std::string_view detail);

    // Building the values of blocks from the stack.
    [[gnu::noinline]] void push_product(std::string_view h, std::size_t mark,
                                        std::size_t name_mark);
    [[gnu::noinline]] void push_enum(std::string_view h, std::size_t mark, std::size_t name_mark);
    [[gnu::noinline]] void push_association(std::size_t mark);
    [[gnu::noinline]] void push_sequence(std::string_view h, std::size_t mark);

    // Charges a value read as a block (inline ones are charged by the inline reader).
    bool charge_node();

    // Each keeps its error in the reader and returns kFailed.
    [[gnu::cold]] std::size_t failed(DralError error);
    // Whether `name` may be a name of that kind; records the refusal when not.
    bool name_ok(NameKind kind, std::string_view name);
    [[gnu::cold]] std::size_t fail_line(std::string_view message, std::size_t index);
    [[gnu::cold]] std::size_t fail_name(std::string_view prefix, std::string_view name,
                                        std::size_t index);
    [[gnu::cold]] std::size_t fail_separator(std::string_view separator, std::size_t index);
    [[gnu::cold]] std::size_t fail_depth(std::size_t depth);

    const std::vector<LogicalLine>& lines_;
    InlineReader inline_;
    ValueStack& stack_ = inline_.stack();
    std::vector<double> numbers_;  // a tensor's data while its body is read
};

// The text between the first '<' and the last '>' after it, trimmed; nothing without both.
std::optional<std::string_view> parse_generic_type_arg(std::string_view header);

// Appends the numbers of a tensor data line, flattening nested sequences.
Status collect_numeric_scalars(const Value& value, std::vector<double>& out);

}  // namespace dral_core::rfc001::ctn
