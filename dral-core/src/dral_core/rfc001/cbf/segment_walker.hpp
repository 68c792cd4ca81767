// Reading part of a compiled root, for readers that visit only the segments they need (a query).
// These are the segment decoder's own pieces, so that whatever such a reader does read passes
// every check and budget of a full decode, with the same errors. Members return false after
// recording the error, as the decoder's do; `depth` is always the depth of the segment itself
// (0 for the root), its children lying one level further down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::cbf {

// A segment's header as read, its payload located in the slice that holds it.
struct Segment {
    std::uint8_t tag;
    std::span<const std::uint8_t> payload;
    std::size_t payload_start;  // in the enclosing slice
    std::uint64_t size;         // header and payload
};

// Where the children of a composite segment lie in its payload.
struct Children {
    std::uint64_t count = 0;
    std::size_t position = 0;     // of the first child, or of the offset table when indexed
    std::uint64_t table_end = 0;  // indexed layouts: where the offsets count from
    bool indexed = false;
};

class SegmentWalker {
public:
    // The budgets are those of a decode of a body of `body_size` bytes; what is decoded is
    // charged to `meter`.
    SegmentWalker(std::span<const std::string> symbols, std::size_t body_size, MemoryMeter& meter);
    ~SegmentWalker();
    SegmentWalker(const SegmentWalker&) = delete;
    SegmentWalker& operator=(const SegmentWalker&) = delete;

    // The header of the segment at `offset` of `bytes`.
    bool locate(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t depth,
                Segment& out);
    // The whole value of a located segment.
    bool decode(const Segment& segment, std::size_t depth, Value& out);

    // The parts before the fields of a product, or before the payload of a sum (`kind` is its
    // payload kind byte: 0 unit, 1 tuple, 2 struct); the fields or items follow at `position`.
    bool product_children(const Segment& product, std::size_t depth, Children& out);
    bool sum_children(const Segment& sum, std::size_t depth, std::uint8_t& kind, Children& out);
    // The parts before the items of a sequence, or the entries of an association.
    bool sequence_children(const Segment& sequence, std::size_t depth, Children& out);
    bool association_children(const Segment& association, Children& out);
    // Where child `i` of an indexed layout starts in the parent's payload.
    bool child_at(const Segment& parent, const Children& children, std::uint64_t i,
                  std::size_t& at);

    // The field name at `position` of the parent's payload, moving `position` past it.
    bool field_name(const Segment& parent, std::size_t& position, std::size_t depth,
                    std::string& out);
    // The text of a located key when it is a Str or Sym scalar; `is_text` false otherwise.
    bool key_text(const Segment& key, std::size_t depth, std::string& out, bool& is_text);

    // Records a data error, for the checks a partial reader makes itself.
    bool failed(const char* detail);
    DralError take_error();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dral_core::rfc001::cbf
