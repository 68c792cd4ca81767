// How deeply containers may nest when a reader builds a Value.
#pragma once

#include <cstddef>

namespace dral_core {

// Native recursion bound that keeps deep input from exhausting the stack: readers recurse once per
// level, so hostile input must not choose the depth.
inline constexpr std::size_t kMaxNestingDepth = 4096;

}  // namespace dral_core
