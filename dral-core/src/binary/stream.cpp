#include "binary/stream.hpp"

#include "encoding/checksum.hpp"

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

}  // namespace dral_core
