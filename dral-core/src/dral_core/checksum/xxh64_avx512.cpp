// XXH64 keeps four independent lanes, each bound by the latency of its multiply chain. Compiled
// by clang for AVX-512, xxHash's own loop holds the four lanes in one vector register (vpmullq)
// and runs about 1.3 times as fast as the scalar loop; g++ 12 leaves it scalar. The build
// compiles this file alone with clang and those instruction sets, so it must not define anything
// another file could share (no inline function of ours or of the standard library): a shared
// copy could reach a processor without AVX-512.
#define XXH_INLINE_ALL
#include "dral_core/checksum/xxh64_avx512.hpp"

#include <xxhash.h>

namespace dral_core::avx512 {

std::uint64_t xxh64(const std::uint8_t* data, std::size_t size) { return XXH64(data, size, 0); }

void xxh64_update(void* state, const std::uint8_t* data, std::size_t size) {
    XXH64_update(static_cast<XXH64_state_t*>(state), data, size);
}

}  // namespace dral_core::avx512
