// Structure-aware mutations for the binary formats. Bytes changed at random nearly always break a
// checksum, and the readers check checksums before anything else; these mutators change what the
// checksums cover and then write them anew, so that mutated input reaches the value readers.
#pragma once

#include <cstddef>
#include <cstdint>

// libFuzzer's own byte-level mutation. Weak, so that the replay programs, which never mutate,
// link without libFuzzer.
extern "C" [[gnu::weak]] std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size,
                                                      std::size_t max_size);

namespace dral_fuzz {

// A Dral stream: one block's payload (or a block header byte) mutated, then every block's length
// and XXH64 and the end block's stream checksum written again. Input that is no stream at all
// is mutated as plain bytes.
std::size_t mutate_stream(std::uint8_t* data, std::size_t size, std::size_t max_size,
                          unsigned seed);

// A compiled file: its body or a header field mutated, then the CRC-64 trailer written again.
// Input too short to be a file becomes the body of a file with a default header.
std::size_t mutate_file(std::uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed);

}  // namespace dral_fuzz
