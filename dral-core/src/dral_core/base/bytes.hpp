// The byte string every model and codec of the core uses.
#pragma once

#include <cstdint>
#include <vector>

namespace dral_core {

using Bytes = std::vector<std::uint8_t>;

}  // namespace dral_core
