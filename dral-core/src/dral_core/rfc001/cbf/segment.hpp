// Value segments: every value of a compiled root is one segment, a tag byte (type in the high
// nibble, config in the low one), a 24-bit payload length (or 0xFFFFFF and a 64-bit one) and the
// payload, in which a composite value holds the segments of its children.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/cbf/references.hpp"
#include "dral_core/rfc001/cbf/symbols.hpp"

namespace dral_core::rfc001::cbf {

// A tag is a type in its high nibble and a config in its low one. The reader takes each type
// with the configs it accepts; the writer uses the tags below.
namespace type {
inline constexpr std::uint8_t kPrimitive = 0;
inline constexpr std::uint8_t kStr = 1;
inline constexpr std::uint8_t kBytes = 2;
inline constexpr std::uint8_t kSymbol = 3;
inline constexpr std::uint8_t kProduct = 4;
inline constexpr std::uint8_t kSum = 5;
inline constexpr std::uint8_t kSequence = 6;
inline constexpr std::uint8_t kAssociation = 7;
inline constexpr std::uint8_t kTensor = 8;
inline constexpr std::uint8_t kReference = 9;
inline constexpr std::uint8_t kStream = 10;
inline constexpr std::uint8_t kAnnotation = 11;  // read, never written
inline constexpr std::uint8_t kOpaque = 13;
inline constexpr std::uint8_t kConstant = 15;
}  // namespace type

namespace config {
// Of primitives.
inline constexpr std::uint8_t kI64 = 3;
inline constexpr std::uint8_t kU64 = 8;
inline constexpr std::uint8_t kVI64 = 10;
inline constexpr std::uint8_t kVU64 = 11;
inline constexpr std::uint8_t kF32 = 12;
inline constexpr std::uint8_t kF64 = 13;
// Of sequences and associations: the indexed layout from this config on, inline below it.
inline constexpr std::uint8_t kIndexed = 8;
// Of type 13: a tagged string; every other config is an opaque value.
inline constexpr std::uint8_t kTagged = 0;
inline constexpr std::uint8_t kOpaque = 1;
// Of constants.
inline constexpr std::uint8_t kNull = 0;
inline constexpr std::uint8_t kUnit = 1;
inline constexpr std::uint8_t kTrue = 2;
inline constexpr std::uint8_t kFalse = 3;
inline constexpr std::uint8_t kEmptySequence = 4;
inline constexpr std::uint8_t kEmptyAssociation = 5;
inline constexpr std::uint8_t kEmptyStr = 6;
inline constexpr std::uint8_t kEmptyBytes = 7;
}  // namespace config

constexpr std::uint8_t make_tag(std::uint8_t type, std::uint8_t config) {
    return static_cast<std::uint8_t>(type << 4 | config);
}
constexpr std::uint8_t type_of(std::uint8_t tag) { return tag >> 4; }
constexpr std::uint8_t config_of(std::uint8_t tag) { return tag & 0x0F; }

namespace tag {
inline constexpr std::uint8_t kI64 = make_tag(type::kPrimitive, config::kI64);
inline constexpr std::uint8_t kU64 = make_tag(type::kPrimitive, config::kU64);
inline constexpr std::uint8_t kVI64 = make_tag(type::kPrimitive, config::kVI64);
inline constexpr std::uint8_t kVU64 = make_tag(type::kPrimitive, config::kVU64);
inline constexpr std::uint8_t kF32 = make_tag(type::kPrimitive, config::kF32);
inline constexpr std::uint8_t kF64 = make_tag(type::kPrimitive, config::kF64);
inline constexpr std::uint8_t kStr = make_tag(type::kStr, 0);
inline constexpr std::uint8_t kBytes = make_tag(type::kBytes, 0);
inline constexpr std::uint8_t kSym = make_tag(type::kSymbol, 0);
inline constexpr std::uint8_t kProduct = make_tag(type::kProduct, 0);
inline constexpr std::uint8_t kSum = make_tag(type::kSum, 0);
inline constexpr std::uint8_t kSequence = make_tag(type::kSequence, config::kIndexed);
inline constexpr std::uint8_t kAssociation = make_tag(type::kAssociation, config::kIndexed);
inline constexpr std::uint8_t kTensor = make_tag(type::kTensor, 0);
inline constexpr std::uint8_t kReference = make_tag(type::kReference, 0);
inline constexpr std::uint8_t kStream = make_tag(type::kStream, 0);
inline constexpr std::uint8_t kTagged = make_tag(type::kOpaque, config::kTagged);
inline constexpr std::uint8_t kOpaque = make_tag(type::kOpaque, config::kOpaque);
inline constexpr std::uint8_t kNull = make_tag(type::kConstant, config::kNull);
inline constexpr std::uint8_t kUnit = make_tag(type::kConstant, config::kUnit);
inline constexpr std::uint8_t kTrue = make_tag(type::kConstant, config::kTrue);
inline constexpr std::uint8_t kFalse = make_tag(type::kConstant, config::kFalse);
inline constexpr std::uint8_t kEmptySequence = make_tag(type::kConstant, config::kEmptySequence);
inline constexpr std::uint8_t kEmptyAssociation =
    make_tag(type::kConstant, config::kEmptyAssociation);
inline constexpr std::uint8_t kEmptyStr = make_tag(type::kConstant, config::kEmptyStr);
inline constexpr std::uint8_t kEmptyBytes = make_tag(type::kConstant, config::kEmptyBytes);
}  // namespace tag

// The bytes that stand for a sum's payload kind and a reference's kind.
constexpr std::uint8_t payload_kind_byte(SumPayloadKind kind) {
    return static_cast<std::uint8_t>(kind);
}
constexpr std::uint8_t reference_kind_byte(ReferenceKind kind) {
    return static_cast<std::uint8_t>(kind);
}

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
