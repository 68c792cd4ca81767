// Strings with the escapes of a quoted string, written where a writer has made room for them: the
// text writer's quoted strings and the CTN formatter's.
#pragma once

#include <cstddef>
#include <string_view>

#include "dral_core/text/text_scan.hpp"

namespace dral_core {

// Room write_escaped_at may need for `n` bytes: every one escaped at worst.
constexpr std::size_t escaped_room(std::size_t n) { return 2 * n; }

// The bytes of `text` from the first that may need an escape on, at `out + that offset`, the
// ones before it being in place; returns where the text ends.
char* escape_rest(char* out, std::string_view text);

// Writes `text` at `out` with the characters text_scan::escape_of names escaped, and returns
// where it ends. Most strings have none: copied whole, in one pass with the scan.
inline char* write_escaped_at(char* out, std::string_view text) {
    if (!text_scan::copy_finding_escapes(out, text.data(), text.size())) [[likely]]
        return out + text.size();
    return escape_rest(out, text);
}

}  // namespace dral_core
