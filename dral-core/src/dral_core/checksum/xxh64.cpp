#include "dral_core/checksum/xxh64.hpp"

#include <algorithm>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/checksum/loops.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

#ifdef DRAL_XXH64_AVX512
#include "dral_core/checksum/xxh64_avx512.hpp"
#endif

namespace dral_core {

namespace {
XXH64_state_t* state_of(unsigned char* storage) {
    return reinterpret_cast<XXH64_state_t*>(storage);
}
const XXH64_state_t* state_of(const unsigned char* storage) {
    return reinterpret_cast<const XXH64_state_t*>(storage);
}
}  // namespace

static_assert(sizeof(XXH64_state_t) <= 96 && alignof(XXH64_state_t) <= 8);

std::uint64_t xxh64(std::span<const std::uint8_t> bytes) {
#ifdef DRAL_XXH64_AVX512
    if (runs_xxh64_avx512()) return avx512::xxh64(bytes.data(), bytes.size());
#endif
    // xxHash's streaming loop runs a third faster than its one-shot loop on the processors we
    // measured; below a kilobyte or two, setting up its state costs more than that saves.
    constexpr std::size_t kStreamFrom = 2048;
    if (bytes.size() < kStreamFrom) return XXH64(bytes.data(), bytes.size(), 0);
    XXH64_state_t state;
    XXH64_reset(&state, 0);
    XXH64_update(&state, bytes.data(), bytes.size());
    return XXH64_digest(&state);
}

std::uint64_t xxh64_of_u64(std::uint64_t value) {
    std::uint8_t bytes[sizeof value];
    store_u64_le(bytes, value);
    return XXH64(bytes, sizeof bytes, 0);
}

Xxh64Stream::Xxh64Stream() { XXH64_reset(state_of(state_), 0); }

void Xxh64Stream::update(std::span<const std::uint8_t> bytes) {
#ifdef DRAL_XXH64_AVX512
    if (runs_xxh64_avx512()) return avx512::xxh64_update(state_, bytes.data(), bytes.size());
#endif
    XXH64_update(state_of(state_), bytes.data(), bytes.size());
}

std::uint64_t Xxh64Stream::digest() const { return XXH64_digest(state_of(state_)); }

std::uint64_t xxh64_and_update(std::span<const std::uint8_t> bytes, Xxh64Stream& stream) {
    // Pieces the size of a first-level cache's share, and whole stripes of 32 bytes.
    constexpr std::size_t kPiece = 8192;
    Xxh64Stream own;
    for (std::size_t done = 0; done < bytes.size(); done += kPiece) {
        const auto piece = bytes.subspan(done, std::min(kPiece, bytes.size() - done));
        own.update(piece);
        stream.update(piece);
    }
    return own.digest();
}

}  // namespace dral_core
