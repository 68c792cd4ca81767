// Block framing of a Dral stream: type, varint length, compression byte, XXH64, payload.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/encoding/varint.hpp"

namespace dral_core {

enum class BlockType : std::uint8_t { Data = 1, StringDict = 4, End = 255 };

enum class CompressionType : std::uint8_t { None = 0, Zstd = 1, Snappy = 2, Lz4 = 3 };
inline constexpr std::uint8_t kMaxCompressionCode = 3;

inline constexpr std::size_t kEndBlockSize = 19;
inline constexpr std::size_t kChecksumSize = 8;
inline constexpr std::size_t kMaxBlockHeaderSize = 1 + kMaxVarintBytes + 1 + kChecksumSize;

// The length of the header of an uncompressed block of `payload_length` bytes.
constexpr std::size_t block_header_size(std::size_t payload_length) {
    return 1 + varint_size(payload_length) + 1 + kChecksumSize;
}

// The header of a block whose payload is stored with `compression`; returns its length.
std::size_t write_block_header(std::uint8_t* out, BlockType type, std::size_t payload_length,
                               std::uint64_t payload_checksum,
                               CompressionType compression = CompressionType::None);

// Writes the end block for a stream whose preceding bytes hash to `stream_checksum`.
void write_end_block(std::uint8_t* out, std::uint64_t stream_checksum);

// What a block's header says, read from the bytes that start with it.
struct BlockHeader {
    std::uint8_t type;
    std::uint8_t compression;
    std::size_t header_size;  // type, length, compression and checksum
    std::uint64_t payload_length;
    std::uint64_t total() const {  // saturating
        return payload_length > UINT64_MAX - header_size ? UINT64_MAX
                                                         : header_size + payload_length;
    }
};

// The header at the start of `bytes`; nullopt while `bytes` holds only part of it, or when it
// is no header (a type no block has, a length varint past ten bytes): whoever reads the block
// reports what is wrong. The end block reads as one of 8 payload bytes.
std::optional<BlockHeader> peek_block_header(std::span<const std::uint8_t> bytes);

}  // namespace dral_core
