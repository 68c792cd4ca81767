// Inline expressions: a whole CTN value written on one line (scalars, references, sequences,
// maps and sums). Errors carry no line: the reader does not know where its text came from.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "rfc001/ast.hpp"

namespace dral_core::rfc001::ctn {

// The pieces of `text` between commas that lie outside parentheses, brackets, angle brackets and
// double-quoted strings, each trimmed, one at a time. There is always a piece after the last
// comma, so an empty text is one empty piece and "a," is "a" and an empty piece.
class TopLevelPieces {
public:
    explicit TopLevelPieces(std::string_view text) : text_(text) {}

    // The next piece; false once the last one was given.
    bool next(std::string_view& piece);

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

// All pieces of TopLevelPieces at once.
std::vector<std::string_view> split_top_level(std::string_view text);

// Reads inline expressions. One reader serves a whole document: it keeps the scratch space in
// which sequences collect their items, so that each sequence allocates its items once.
class InlineReader {
public:
    // The value of `text` at nesting level `depth` (1 for a top-level value); values nested
    // deeper than kMaxDepth are refused.
    Result<Value> parse(std::string_view text, std::size_t depth);

private:
    // The recursive path: frames stay small, every leaf form is read out of line.
    Result<Value> parse_inline_expr(std::string_view text, std::size_t depth);
    Result<Value> parse_word(std::string_view t, std::size_t depth);
    Result<Value> parse_other(std::string_view t, std::size_t depth);
    Result<Value> parse_inline_sequence(std::string_view t, std::size_t depth);
    Result<Value> parse_parenthesised(std::string_view t, std::size_t depth);
    Result<Value> parse_inline_map(std::string_view t, std::size_t depth);
    Result<Value> parse_inline_sum(std::string_view t, std::size_t separator, std::size_t depth);
    Result<Value> parse_by_id(std::string_view t, std::size_t depth);

    // Parses `piece` at `depth` onto the scratch stack.
    Status push_item(std::string_view piece, std::size_t depth);
    // Moves the scratch items from `mark` on into a vector of their own.
    std::vector<Value> take_items(std::size_t mark);

    std::vector<Value> items_;
};

// An inline expression read by a reader of its own.
Result<Value> parse_inline_expr(std::string_view text, std::size_t depth = 1);

}  // namespace dral_core::rfc001::ctn
