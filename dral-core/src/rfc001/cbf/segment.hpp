// Value segments: every value of a compiled root is one segment, a tag byte (type in the high
// nibble, config in the low one), a 24-bit payload length (or 0xFFFFFF and a 64-bit one) and the
// payload, in which a composite value holds the segments of its children.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/byte_buffer.hpp"
#include "base/error.hpp"
#include "base/limits.hpp"
#include "base/memory_meter.hpp"
#include "rfc001/ast.hpp"
#include "rfc001/cbf/references.hpp"
#include "rfc001/cbf/symbols.hpp"

namespace dral_core::rfc001::cbf {

// The tags the writer uses.
namespace tag {
inline constexpr std::uint8_t kI64 = 0x03;
inline constexpr std::uint8_t kU64 = 0x08;
inline constexpr std::uint8_t kVI64 = 0x0A;
inline constexpr std::uint8_t kVU64 = 0x0B;
inline constexpr std::uint8_t kF32 = 0x0C;
inline constexpr std::uint8_t kF64 = 0x0D;
inline constexpr std::uint8_t kStr = 0x10;
inline constexpr std::uint8_t kBytes = 0x20;
inline constexpr std::uint8_t kSym = 0x30;
inline constexpr std::uint8_t kProduct = 0x40;
inline constexpr std::uint8_t kSum = 0x50;
inline constexpr std::uint8_t kSequence = 0x68;  // indexed layout
inline constexpr std::uint8_t kAssociation = 0x78;
inline constexpr std::uint8_t kTensor = 0x80;
inline constexpr std::uint8_t kReference = 0x90;
inline constexpr std::uint8_t kStream = 0xA0;
inline constexpr std::uint8_t kTagged = 0xD0;
inline constexpr std::uint8_t kOpaque = 0xD1;
inline constexpr std::uint8_t kNull = 0xF0;
inline constexpr std::uint8_t kUnit = 0xF1;
inline constexpr std::uint8_t kTrue = 0xF2;
inline constexpr std::uint8_t kFalse = 0xF3;
inline constexpr std::uint8_t kEmptySequence = 0xF4;
inline constexpr std::uint8_t kEmptyAssociation = 0xF5;
inline constexpr std::uint8_t kEmptyStr = 0xF6;
inline constexpr std::uint8_t kEmptyBytes = 0xF7;
}  // namespace tag

inline constexpr std::uint32_t kLongLength = 0xFFFFFF;  // the short length field's escape
inline constexpr std::size_t kShortHeaderSize = 4;
inline constexpr std::size_t kLongHeaderSize = 12;

// Tensor element codes.
inline constexpr std::uint8_t kElementF32 = 1;
inline constexpr std::uint8_t kElementF64 = 2;
inline constexpr std::uint8_t kElementI64 = 16;
inline constexpr std::uint8_t kElementU64 = 17;
inline constexpr std::uint8_t kElementOther = 255;

// Appends the segment of `value`, each reference to a binding written as the value it stands
// for, symbols and field names through the context's table. Fails with MemoryLimitExceeded,
// and leaves `out` as it was, when the segment would take more than kOutputCopies times over
// what `meter` has left (it charges nothing itself).
Status encode_segment(const ResolvedRoot& resolved, const Value& value,
                      const CbfEncodeContext& context, ByteBuffer& out, MemoryMeter& meter);

struct DecodedSegment {
    Value value;
    std::uint64_t size;  // header and payload
};

// Decodes the root segment at `offset` of the body, with the file's symbol table. Error offsets
// count within the slice being read: the body for the root's header, a parent's payload below.
// The tree is charged to `meter` as it is built (see rfc001/memory.hpp; the body's own size is
// the caller's to charge); the first refusal fails with MemoryLimitExceeded.
Result<DecodedSegment> decode_root_segment(std::span<const std::uint8_t> body, std::size_t offset,
                                           std::span<const std::string> symbols,
                                           MemoryMeter& meter);
// The same within the default limit.
Result<DecodedSegment> decode_root_segment(std::span<const std::uint8_t> body, std::size_t offset,
                                           std::span<const std::string> symbols);

}  // namespace dral_core::rfc001::cbf
