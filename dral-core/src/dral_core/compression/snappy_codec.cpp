// Raw snappy blocks (no framing format), through the library's C interface.
#include <snappy-c.h>

#include "dral_core/compression/codecs.hpp"

namespace dral_core {
namespace {

std::size_t snappy_bound(std::size_t size) { return snappy_max_compressed_length(size); }

std::size_t snappy_compress_block(CodecState&, std::span<const std::uint8_t> input,
                                  std::uint8_t* out) {
    std::size_t written = snappy_max_compressed_length(input.size());
    if (snappy_compress(reinterpret_cast<const char*>(input.data()), input.size(),
                        reinterpret_cast<char*>(out), &written) != SNAPPY_OK)
        return 0;
    return written;
}

Status snappy_decompress_block(std::span<const std::uint8_t> input, std::size_t size,
                               ByteBuffer& out) {
    const char* compressed = reinterpret_cast<const char*>(input.data());
    // A snappy block starts with its own length, which must agree with the declared one.
    std::size_t length = 0;
    if (snappy_uncompressed_length(compressed, input.size(), &length) != SNAPPY_OK)
        return fail(decompression_error(kSnappyCodec, "corrupt compressed data"));
    if (length > size)
        return fail(decompression_error(kSnappyCodec, "output longer than the declared size"));
    if (length < size)
        return fail(decompression_error(kSnappyCodec, "output shorter than the declared size"));
    out.clear();
    std::size_t written = size;
    if (snappy_uncompress(compressed, input.size(), reinterpret_cast<char*>(out.prepare(size)),
                          &written) != SNAPPY_OK ||
        written != size)
        return fail(decompression_error(kSnappyCodec, "corrupt compressed data"));
    out.advance(size);
    return {};
}

}  // namespace

// A three-byte copy writes at most 64 bytes: no element expands more. Trying costs little next
// to encoding, so every block is tried.
const Codec kSnappyCodec{
    "snappy", 22, 0, snappy_bound, snappy_compress_block, snappy_decompress_block};

}  // namespace dral_core
