// What reading and writing documents counts against a call's memory limit. One meter serves a
// whole call, across its stages (reading, compiling, decoding, formatting); each cost is at least
// what its item takes in memory, so that under the limit no document makes a call allocate much
// more than the limit. The text a reader reads counts once at the start, for the strings and
// names of its tree, which are copies of parts of it.
#pragma once

#include <cstdint>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/memory_meter.hpp"

namespace dral_core::rfc001 {

inline constexpr std::uint64_t kMemoryLimit = DecodeLimits{}.max_memory;

// A value or an annotation of a tree: the node with its slot in its parent, the storage of the
// strings it holds beside their bytes, and the room it takes on the reader's stacks.
inline constexpr std::uint64_t kNodeCost = 320;
// A line of CTN text as the reader keeps it, an entry of a symbol table.
inline constexpr std::uint64_t kLineCost = 64;
// A tensor element read from text (collected, then stored), a dimension of a tensor (its
// vector's old and new storage while it grows).
inline constexpr std::uint64_t kElementCost = 32;
// Compiled bytes and formatted text are held twice at the end: as written, and as the copy the
// caller is handed.
inline constexpr std::uint64_t kOutputCopies = 2;

}  // namespace dral_core::rfc001
