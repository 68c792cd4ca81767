// The three codecs, one file each.
#pragma once

#include "dral_core/compression/codec.hpp"

namespace dral_core {

extern const Codec kZstdCodec;
extern const Codec kSnappyCodec;
extern const Codec kLz4Codec;

}  // namespace dral_core
