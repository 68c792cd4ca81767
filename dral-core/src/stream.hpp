// Block framing of a Dral stream: type, varint length, compression byte, XXH64, payload.
#pragma once

#include <cstdint>
#include <span>

#include "byte_buffer.hpp"

namespace dral_core {

enum class BlockType : std::uint8_t { Data = 1, StringDict = 4, End = 255 };

enum class CompressionType : std::uint8_t { None = 0, Zstd = 1, Snappy = 2, Lz4 = 3 };
inline constexpr std::uint8_t kMaxCompressionCode = 3;

inline constexpr std::size_t kEndBlockSize = 19;
inline constexpr std::size_t kChecksumSize = 8;

// Appends one uncompressed block holding `payload`.
void append_block(ByteBuffer& out, BlockType type, std::span<const std::uint8_t> payload);

// Appends the end block, whose payload is the checksum of everything already in `out`.
void append_end_block(ByteBuffer& out);

}  // namespace dral_core
