// Every hard bound of the library, each with its reason: what caps the depth, the work and the
// memory that input or use can make the readers and writers spend, and what the caches and spare
// buffers may keep. The binding's bounds are here too, so that one file answers "how much at
// most". Thresholds where a faster path starts stay beside their code: they change no result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace dral_core {

// ---------------------------------------------------------------------------------------------
// Nesting

// Native recursion bound that keeps deep input from exhausting the stack: readers recurse once per
// level, so hostile input must not choose the depth. Also the deepest `max_depth` accepted.
inline constexpr std::size_t kMaxNestingDepth = 4096;

// Levels a Value's destructor frees by plain recursion before what lies deeper is taken apart on
// the heap: a few kilobytes of stack, and deeper than real documents go.
inline constexpr std::size_t kRecursiveFreeLevels = 64;

namespace rfc001 {
// How deeply values may nest in a typed tree that a reader builds. Every walk over a tree
// (formatting, conversion, destruction) recurses once per level, so no input may choose a deeper
// tree; this bound keeps those walks within a small thread stack.
inline constexpr std::size_t kMaxDepth = 512;

namespace cbf {
// How deep segments may nest on reading, below the root at depth 0: a segment costs its reader a
// frame of several hundred bytes.
inline constexpr std::size_t kMaxSegmentDepth = 64;

// How far a compiled root with its binding references inlined may grow: 16 times the document's
// own size plus a fixed allowance, counted in nodes and separately in the bytes of the texts and
// data they carry. References may nest, so a small document could otherwise stand for an
// exponentially large one.
inline constexpr std::uint64_t kExpansionFactor = 16;
inline constexpr std::uint64_t kExpansionNodeAllowance = 1000000;
inline constexpr std::uint64_t kExpansionByteAllowance = std::uint64_t{64} << 20;

// The symbol text a reader may copy out of a compiled file: every symbol segment copies its
// table entry, and many short segments may name one long entry, so the copies could grow with
// the square of the file's size; this keeps them linear in it.
inline constexpr std::uint64_t kSymbolTextFactor = 64;
inline constexpr std::uint64_t kSymbolTextAllowance = std::uint64_t{64} << 20;
}  // namespace cbf
}  // namespace rfc001

// ---------------------------------------------------------------------------------------------
// Memory a reader sets aside before it has read what it sets it aside for

// Elements reserved for a container from its declared count: a count is never trusted, so a
// larger container grows as its elements arrive.
inline constexpr std::size_t kMaxReservedItems = 1024;
// Entries reserved for a string dictionary from its declared count, likewise.
inline constexpr std::size_t kMaxReservedDictionaryEntries = 4096;
// Bytes reserved for a string dictionary's texts from the lengths its entries declare, at most:
// above the strict memory budget, so that under it the texts never grow by copying; the lengths
// are the stream's word, so lifted limits get no more than this up front.
inline constexpr std::uint64_t kMaxReservedDictionaryBytes = std::uint64_t{1} << 30;
// The largest window a zstd frame may ask for (128 MiB). Decoding into a buffer of the whole
// output needs no window of zstd's own, whatever a frame asks; the limit stays as a second line
// should that ever change.
inline constexpr int kZstdLargestWindowLog = 27;

// What a decoded value counts against `max_memory`: at least what the largest of its forms takes
// (a Python object with its slot in its container, or a native Value), so that the limit bounds
// the memory a reader hands out, not only its strings. Every value costs kValueCost; a string or
// bytes value kStringCost more plus its bytes; an array or object kContainerCost more; an object
// entry kEntryCost more plus its key's bytes (the value in it costs as any value). A top-level
// value costs kTopLevelCost instead of kValueCost: it is held apart until the stream ends (in a
// list of results, or as a view of its own). A compressed block's decompressed content counts
// with its size.
inline constexpr std::uint64_t kValueCost = 48;
inline constexpr std::uint64_t kTopLevelCost = 128;
inline constexpr std::uint64_t kStringCost = 48;
inline constexpr std::uint64_t kContainerCost = 80;
inline constexpr std::uint64_t kEntryCost = 112;

// Where writers that take values one at a time close a data block, between two values: large
// enough that a block's header, checksum and compression start cost nothing per value, small
// enough that a reader holds little at once (bench/bench_streams.py --thresholds).
inline constexpr std::uint64_t kDefaultBlockThreshold = 1u << 20;

// ---------------------------------------------------------------------------------------------
// Reading limits callers may choose, and their defaults

// The nesting readers and writers allow unless told otherwise (the docstrings say it too).
inline constexpr std::uint64_t kDefaultMaxDepth = 128;

struct DecodeLimits {
    std::uint64_t max_depth = kDefaultMaxDepth;
    std::uint64_t max_block_size = 64ull << 20;
    std::uint64_t max_items = 1000000;
    std::uint64_t max_memory = 256ull << 20;
    std::uint64_t max_string_length = 16ull << 20;
    std::uint64_t max_decompression_ratio = 100;

    // Every limit lifted except nesting, which guards the stack.
    static DecodeLimits unlimited(std::uint64_t max_depth) {
        constexpr auto kNone = std::numeric_limits<std::uint64_t>::max();
        return {max_depth, kNone, kNone, kNone, kNone, kNone};
    }
};

// ---------------------------------------------------------------------------------------------
// The binding's caches, spares and argument bounds

// Interned ASCII keys the readers keep, by a hash of their bytes; longer keys are rarely
// repeated names and are not cached.
inline constexpr std::size_t kKeyCacheSlots = 2048;  // a power of two
inline constexpr std::size_t kKeyCacheLongestKey = 64;
// Classes whose conversion rules are cached (each holds a reference to its class for good), at
// most half full so that a probe ends soon.
inline constexpr std::size_t kClassCacheSlots = 512;
inline constexpr std::size_t kMostCachedClasses = kClassCacheSlots / 2;
// Kept past a call for the next one, at most: the text parser's stack of pending entries, the
// text writer's buffer and an encoder's memory, in bytes.
inline constexpr std::size_t kLargestSpareTextStack = std::size_t{1} << 16;
inline constexpr std::size_t kLargestSpareText = std::size_t{2} << 20;
inline constexpr std::size_t kLargestSpareEncoderMemory = std::size_t{2} << 20;
// Texts from this many bytes on are read with the cyclic collector paused. A shorter one holds at
// most some two thousand containers (`[]` and a separator each); the interpreter collects every
// 700 by default, and those few collections cost less than pausing on every call.
inline constexpr std::size_t kGcPauseTextBytes = 4096;
// Enum members whose values are members, nested in each other: a chain this long is a cycle.
inline constexpr int kMostEnumReplacements = 64;
// Text output grows with depth times indent on every line; past this an indent is a mistake, not
// a layout, and would only exhaust memory.
inline constexpr std::uint64_t kMaxIndent = 1024;
// Symbolic links followed to a file that is replaced, as the kernel's own limit on one path.
inline constexpr int kMaxLinksFollowed = 40;
// Bytes of a target's name kept in its temporary file's name, which must leave room for the parts
// a temporary name adds within the file system's 255.
inline constexpr std::size_t kMaxNameStem = 200;

}  // namespace dral_core
