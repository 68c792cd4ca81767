#include "stream.hpp"

#include "checksum.hpp"
#include "varint.hpp"

namespace dral_core {

void append_block(ByteBuffer& out, BlockType type, std::span<const std::uint8_t> payload) {
    out.reserve(out.size() + 1 + kMaxVarintBytes + 1 + kChecksumSize + payload.size());
    out.push_back(static_cast<std::uint8_t>(type));
    encode_varint_vec(payload.size(), out);
    out.push_back(static_cast<std::uint8_t>(CompressionType::None));
    out.append_u64_le(xxh64(payload));
    out.append(payload);
}

void append_end_block(ByteBuffer& out) {
    ByteBuffer stream_checksum(kChecksumSize);
    stream_checksum.append_u64_le(xxh64(out.span()));
    append_block(out, BlockType::End, stream_checksum.span());
}

}  // namespace dral_core
