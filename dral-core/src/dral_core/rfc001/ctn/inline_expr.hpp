// Inline expressions: a whole CTN value written on one line (scalars, references, sequences,
// maps and sums). Errors carry no line: the reader does not know where its text came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/ctn/top_level_pieces.hpp"
#include "dral_core/rfc001/ctn/value_stack.hpp"
#include "dral_core/rfc001/names.hpp"

namespace dral_core::rfc001::ctn {

// Reads inline expressions onto a value stack; one reader serves a whole document, and charges
// each value it reads (kNodeCost) to the document's meter.
//
// Nesting is bounded by kMaxDepth, and the recursion must stay within a small thread stack at
// that depth, so the recursive path keeps its frames lean: it reports failure as false and keeps
// the error in the reader, and every leaf form, with its strings and error values, is read out
// of line.
class InlineReader {
public:
    explicit InlineReader(MemoryMeter& meter) : meter_(meter) {}

    // Reads `text` as a value at nesting level `depth` (1 for a top-level value) and pushes it.
    Status parse_inline_expr(std::string_view text, std::size_t depth);
    // Reads `text` into a value of its own, leaving the stack as it was.
    Result<Value> parse(std::string_view text, std::size_t depth);

    ValueStack& stack() { return stack_; }

    // The same for a caller on a recursive path of its own: false on failure, with the error
    // kept until take_error(). After a failure the stack may hold parts of the value.
    bool read(std::string_view text, std::size_t depth);
    // Keeps `error` and returns false.
    [[gnu::cold]] bool failed(DralError error);
    bool name_ok(NameKind kind, std::string_view name);
    // Whether the meter takes `bytes` more; records the refusal when not.
    bool charge(std::uint64_t bytes) {
        if (meter_.try_charge(bytes)) [[likely]]
            return true;
        return fail_memory();
    }
    MemoryMeter& meter() { return meter_; }
    DralError take_error();

private:
    bool read_word(std::string_view t, std::size_t depth);
    bool read_other(std::string_view t, std::size_t depth);
    bool parse_inline_sequence(std::string_view t, std::size_t depth);
    bool parse_parenthesised_list(std::string_view t, std::size_t depth);
    bool parse_inline_map(std::string_view t, std::size_t depth);
    bool parse_inline_sum(std::string_view t, std::size_t separator, std::size_t depth);
    bool parse_by_id_reference(std::string_view t, std::size_t depth);

    // Leaf forms and error builders.
    [[gnu::noinline]] bool read_string(std::string_view t);
    [[gnu::noinline]] bool read_binding_reference(std::string_view t);
    [[gnu::noinline]] bool read_symbol(std::string_view t);
    enum class BytesForm : std::uint8_t { Compact, Spaced, Base64 };
    [[gnu::noinline]] bool read_bytes(std::string_view t, BytesForm form);
    [[gnu::noinline]] bool read_keyword(std::string_view t);
    // 1 when `t` is a tagged string, 0 when it is not, -1 on failure.
    [[gnu::noinline]] int read_tagged(std::string_view t);
    [[gnu::noinline]] bool read_number_or_name(std::string_view t);
    [[gnu::noinline]] bool push_symbol(std::string_view name);
    [[gnu::noinline]] bool push_short_decimal(std::string_view t);
    [[gnu::noinline]] bool push_by_id();
    [[gnu::noinline]] bool push_sequence(std::size_t mark);
    [[gnu::noinline]] bool push_association(std::size_t mark);
    // The type name and variant of a sum onto the name stack, and 1 with its payload text; or
    // the whole sum when it has no payload, and 0; or -1 on failure.
    [[gnu::noinline]] int read_sum_header(std::string_view t, std::size_t separator,
                                          std::string_view& payload);
    [[gnu::noinline]] bool push_sum(std::size_t mark, std::size_t name_mark, SumPayloadKind kind);
    [[gnu::cold]] bool fail_data(std::string_view detail);
    [[gnu::cold]] bool fail_depth(std::size_t depth);
    [[gnu::cold]] bool fail_separator(std::string_view separator, std::string_view text);
    [[gnu::cold, gnu::noinline]] bool fail_memory();

    MemoryMeter& meter_;
    ValueStack stack_;
    std::optional<DralError> error_;
};

// An inline expression read by a reader of its own, within the default memory limit.
Result<Value> parse_inline_expr(std::string_view text, std::size_t depth = 1);

}  // namespace dral_core::rfc001::ctn
