// XXH64 with seed 0: the checksum of every block and of the whole stream.
#pragma once

#include <cstdint>
#include <span>

namespace dral_core {

std::uint64_t xxh64(std::span<const std::uint8_t> bytes);
// The same over the eight little-endian bytes of `value`, which the end block checksums: at a
// length known in advance xxHash's code folds to a few instructions.
std::uint64_t xxh64_of_u64(std::uint64_t value);

// XXH64 over bytes that arrive in pieces.
class Xxh64Stream {
public:
    Xxh64Stream();
    void update(std::span<const std::uint8_t> bytes);
    std::uint64_t digest() const;

private:
    alignas(8) unsigned char state_[96];  // xxHash's state, kept opaque to this header
};

// XXH64 of `bytes`, which are added to `stream` too, in one pass: each piece is hashed into
// both while it is in the cache, so the bytes are read from memory once.
std::uint64_t xxh64_and_update(std::span<const std::uint8_t> bytes, Xxh64Stream& stream);

}  // namespace dral_core
