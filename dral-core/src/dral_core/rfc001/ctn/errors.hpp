// The three error forms of the CTN reader, built out of line: errors are the rare path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dral_core/base/error.hpp"

namespace dral_core::rfc001::ctn {

// "Invalid data: {detail}".
[[gnu::cold]] DralError data_error(std::string detail);
// "Invalid data: {before}{quoted}{after}", for details that quote the input.
[[gnu::cold]] DralError data_error(std::string_view before, std::string_view quoted,
                                   std::string_view after);

// A fault of line structure at 1-based source line `line`; the column is always 1.
[[gnu::cold]] DralError line_error(std::string message, std::uint64_t line);

// "expected separator '{separator}' in '{text}'" at `line`; inline expressions, which do not
// know their line, report line 1.
[[gnu::cold]] DralError separator_error(std::string_view separator, std::string_view text,
                                        std::uint64_t line = 1);

}  // namespace dral_core::rfc001::ctn
