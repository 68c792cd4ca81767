// LEB128 varints, zigzag and the one-byte wire tags that start every value.
#pragma once

#include <cstdint>
#include <span>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"

namespace dral_core {

enum class WireType : std::uint8_t {
    Null = 0,
    Bool = 1,
    VarUInt = 2,
    VarInt = 3,
    Float64 = 4,
    Blob = 5,
    ObjectStart = 6,
    ObjectEnd = 7,
    ArrayStart = 8,
    ArrayEnd = 9,
    StringRef = 10,
};

inline constexpr std::size_t kMaxVarintBytes = 10;

inline std::uint64_t zigzag_encode(std::int64_t n) {
    return (static_cast<std::uint64_t>(n) << 1) ^ static_cast<std::uint64_t>(n >> 63);
}
inline std::int64_t zigzag_decode(std::uint64_t u) {
    return static_cast<std::int64_t>((u >> 1) ^ (~(u & 1) + 1));
}

// The length of the varint of `value`.
constexpr std::size_t varint_size(std::uint64_t value) {
    std::size_t n = 1;
    for (; value >= 0x80; value >>= 7) ++n;
    return n;
}

// Writes the varint at `out` (room for kMaxVarintBytes) and returns its length.
inline std::size_t write_varint(std::uint8_t* out, std::uint64_t value) {
    std::size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<std::uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<std::uint8_t>(value);
    return n;
}

inline void encode_varint_vec(std::uint64_t value, ByteBuffer& out) {
    out.advance(write_varint(out.prepare(kMaxVarintBytes), value));
}

struct DecodedVarint {
    std::uint64_t value;
    std::size_t length;
};

[[gnu::cold]] Result<DecodedVarint> decode_varint_slow(std::span<const std::uint8_t> data,
                                                       std::size_t offset);

// Reads a varint at `offset`; the slice's end is the hard limit (a truncated varint reports the
// slice's length as its offset). Never reads outside the slice or past a tenth byte.
inline Result<DecodedVarint> decode_varint(std::span<const std::uint8_t> data, std::size_t offset) {
    if (offset < data.size() && data[offset] < 0x80) [[likely]]
        return DecodedVarint{data[offset], 1};
    // Two bytes cover lengths and numbers below 16384, most of the rest.
    if (offset + 1 < data.size() && data[offset + 1] < 0x80)
        return DecodedVarint{(data[offset] & 0x7Fu) | std::uint64_t{data[offset + 1]} << 7, 2};
    return decode_varint_slow(data, offset);
}

}  // namespace dral_core
