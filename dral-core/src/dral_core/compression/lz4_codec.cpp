// Raw lz4 blocks (no frame): the block already carries its sizes and checksum.
#include <lz4.h>

#include <climits>

#include "dral_core/compression/codecs.hpp"

namespace dral_core {
namespace {

// lz4 takes sizes as int: a block past that is stored uncompressed.
constexpr std::size_t kLargestInput = LZ4_MAX_INPUT_SIZE;

std::size_t lz4_bound(std::size_t size) {
    return size > kLargestInput
               ? 0
               : static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size)));
}

std::size_t lz4_compress(CodecState&, std::span<const std::uint8_t> input, std::uint8_t* out) {
    if (input.size() > kLargestInput) return 0;
    const int capacity = LZ4_compressBound(static_cast<int>(input.size()));
    const int written = LZ4_compress_default(reinterpret_cast<const char*>(input.data()),
                                             reinterpret_cast<char*>(out),
                                             static_cast<int>(input.size()), capacity);
    return written > 0 ? static_cast<std::size_t>(written) : 0;
}

Status lz4_decompress(std::span<const std::uint8_t> input, std::size_t size, ByteBuffer& out) {
    if (input.size() > INT_MAX || size > static_cast<std::size_t>(INT_MAX) - 1)
        return fail(decompression_error(kLz4Codec, "block too large for lz4"));
    // A raw block states no size of its own. One byte of room past the declared size tells
    // output that runs long from a corrupt block.
    out.clear();
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(input.data()),
                                        reinterpret_cast<char*>(out.prepare(size + 1)),
                                        static_cast<int>(input.size()), static_cast<int>(size) + 1);
    if (got < 0) return fail(decompression_error(kLz4Codec, "corrupt compressed data"));
    if (static_cast<std::size_t>(got) > size)
        return fail(decompression_error(kLz4Codec, "output longer than the declared size"));
    if (static_cast<std::size_t>(got) < size)
        return fail(decompression_error(kLz4Codec, "output shorter than the declared size"));
    out.advance(size);
    return {};
}

}  // namespace

// A match's length grows by 255 for each extra length byte: nothing expands more. Trying costs
// little next to encoding, so every block is tried.
const Codec kLz4Codec{"lz4", 255, 0, lz4_bound, lz4_compress, lz4_decompress};

}  // namespace dral_core
