#include "dral_core/binary/stream.hpp"

#include "dral_core/base/byte_order.hpp"
#include "dral_core/checksum/xxh64.hpp"

namespace dral_core {

std::size_t write_block_header(std::uint8_t* out, BlockType type, std::size_t payload_length,
                               std::uint64_t payload_checksum, CompressionType compression) {
    out[0] = static_cast<std::uint8_t>(type);
    std::size_t n = 1 + write_varint(out + 1, payload_length);
    out[n++] = static_cast<std::uint8_t>(compression);
    store_u64_le(out + n, payload_checksum);
    return n + kChecksumSize;
}

void write_end_block(std::uint8_t* out, std::uint64_t stream_checksum) {
    std::size_t n =
        write_block_header(out, BlockType::End, kChecksumSize, xxh64_of_u64(stream_checksum));
    store_u64_le(out + n, stream_checksum);
}

std::optional<BlockHeader> peek_block_header(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    const std::uint8_t type = bytes[0];
    if (type == 0 || (type > static_cast<std::uint8_t>(BlockType::StringDict) &&
                      type != static_cast<std::uint8_t>(BlockType::End)))
        return std::nullopt;
    auto length = decode_varint(bytes, 1);
    if (!length) return std::nullopt;
    const std::size_t header_size = 1 + length->length + 1 + kChecksumSize;
    if (bytes.size() < header_size) return std::nullopt;
    return BlockHeader{type, bytes[1 + length->length], header_size, length->value};
}

}  // namespace dral_core
