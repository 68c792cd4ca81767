#include "dral_core/compression/codec.hpp"

#include <string>

#include "dral_core/compression/codecs.hpp"

namespace dral_core {

const Codec& codec_for(CompressionType type) {
    switch (type) {
        case CompressionType::Zstd:
            return kZstdCodec;
        case CompressionType::Snappy:
            return kSnappyCodec;
        case CompressionType::Lz4:
        default:
            return kLz4Codec;
    }
}

DralError decompression_error(const Codec& codec, const char* detail) {
    return DralError::decompression_failed(std::string(codec.name) + ": " + detail);
}

}  // namespace dral_core
