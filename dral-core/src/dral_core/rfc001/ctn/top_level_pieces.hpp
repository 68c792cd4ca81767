// Splitting a list at its top-level commas, the way every inline container and tensor shape is
// split, and a map entry at its top-level arrow.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace dral_core::rfc001::ctn {

// The pieces of `text` between commas that lie outside parentheses, brackets, angle brackets and
// double-quoted strings, each trimmed, one at a time. Each kind of bracket has a counter of its
// own that never drops below zero; braces are not counted. There is always a piece after the last
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

// Where a map entry's key ends: the first "=>" outside the brackets and strings TopLevelPieces
// counts, so that a key may be a map with entries of its own; else the first "=>" at all, which
// leaves the errors of text without such an arrow as they were; npos when there is none.
std::size_t find_entry_arrow(std::string_view text);

}  // namespace dral_core::rfc001::ctn
