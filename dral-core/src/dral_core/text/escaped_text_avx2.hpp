// The loops of escaped texts in 32-byte vectors, for processors with AVX2 (see
// escaped_text_avx2.cpp): escaped_text.cpp calls them where the processor runs them.
#pragma once

#include <cstddef>
#include <string_view>

#include "dral_core/text/text_loops.hpp"

namespace dral_core::avx2 {

// text_scan::copy_finding_escapes and escape_rest, for at least 64 bytes.
bool copy_finding_escapes(char* out, const char* in, std::size_t n);
char* escape_rest(char* out, std::string_view text);

}  // namespace dral_core::avx2
