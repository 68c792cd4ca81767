// Which loops the checksums run. Each checksum has a portable loop and a vector loop for
// processors that have the instructions it needs; the vector loop is chosen where the processor
// (and its system) runs it, once, when the library loads. The two give the same values, and
// tests and benchmarks hold them against each other by switching the vector loops off.
#pragma once

#include <atomic>

namespace dral_core {

struct ChecksumLoops {
    std::atomic<bool> xxh64_avx512;  // xxHash's XXH64 as clang vectorises it for AVX-512
    std::atomic<bool> crc64_clmul;   // CRC-64 folded by carry-less multiplication
};

// Read on every checksum: an atomic load of a byte costs what a plain one does, and lets a test
// switch while other threads hash.
extern ChecksumLoops checksum_loops;

inline bool runs_xxh64_avx512() {
    return checksum_loops.xxh64_avx512.load(std::memory_order_relaxed);
}
inline bool runs_crc64_clmul() {
    return checksum_loops.crc64_clmul.load(std::memory_order_relaxed);
}

// `true` runs the vector loops wherever the processor has them (as at load), `false` the
// portable loops everywhere, for every checksum of the process from then on.
void use_vector_checksums(bool enabled);

// Which XXH64 loop hashes now: "avx512" or "scalar".
const char* xxh64_loop();

}  // namespace dral_core
