// The block compressors of a Dral stream: zstd, snappy and lz4 from the system's libraries, each
// behind the same three operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/binary/stream.hpp"

namespace dral_core {

// What the codecs keep from one block to the next of an encoder: zstd's compression context,
// whose tables cost as much to set up as compressing a small block.
class CodecState {
public:
    CodecState() = default;
    CodecState(const CodecState&) = delete;
    CodecState& operator=(const CodecState&) = delete;
    CodecState(CodecState&& other) noexcept : zstd_(std::exchange(other.zstd_, nullptr)) {}
    CodecState& operator=(CodecState&& other) noexcept {
        std::swap(zstd_, other.zstd_);
        return *this;
    }
    ~CodecState();
    void*& zstd() { return zstd_; }

private:
    void* zstd_ = nullptr;
};

struct Codec {
    const char* name;
    // The most bytes one compressed byte can stand for in a well-formed payload: a declared size
    // beyond `max_expansion` times the compressed size is a lie, refused before any allocation.
    std::uint64_t max_expansion;
    // The encoder stores shorter blocks as they are: so few of them shrink that trying costs
    // more than it saves.
    std::size_t smallest_worth_compressing;
    // Room `compress` may need for `size` bytes of input.
    std::size_t (*bound)(std::size_t size);
    // Compresses `input` into `out` (`bound(input.size())` bytes); returns the compressed size,
    // or 0 when the compressor fails (the block is then stored as it is).
    std::size_t (*compress)(CodecState& state, std::span<const std::uint8_t> input,
                            std::uint8_t* out);
    // Decompresses `input` into `out`, which then holds exactly `size` bytes; output of any other
    // length is refused. What the compressed data states of its own size is checked against
    // `size` before memory is set aside for it.
    Status (*decompress)(std::span<const std::uint8_t> input, std::size_t size, ByteBuffer& out);
};

// The codec of a compression code from 1 to kMaxCompressionCode.
const Codec& codec_for(CompressionType type);

// "{name}: {detail}" as the decompression error of `codec`.
[[gnu::cold]] DralError decompression_error(const Codec& codec, const char* detail);

}  // namespace dral_core
