// The line pass of the CTN reader: source lines become logical lines, with comments removed,
// blank lines dropped and indentation measured.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"

namespace dral_core::rfc001::ctn {

struct LogicalLine {
    std::string_view text;  // after the leading spaces, without trailing white space
    std::uint64_t line;     // 1-based number of the source line
    std::size_t indent;     // leading U+0020 characters
};

// Appends the logical lines of `text` to `lines`. The texts are views into `text`, except for
// lines that a block comment spliced together, which are kept in `spliced`. Fails on a line that
// starts with a tab, and once `meter` refuses a line (kLineCost each, and the text of a spliced
// one).
Status read_logical_lines(std::string_view text, std::vector<LogicalLine>& lines,
                          std::deque<std::string>& spliced, MemoryMeter& meter);

}  // namespace dral_core::rfc001::ctn
