#include "dral_core/checksum/crc64.hpp"

#include <array>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/checksum/loops.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define DRAL_CRC64_CLMUL 1
#endif

namespace dral_core {
namespace {

// A CRC register is a polynomial of degree below 64 over GF(2), bit i holding the coefficient of
// x^i; the CRC of a message M is M * x^64 mod P.

// x^n mod P.
constexpr std::uint64_t x_power_mod(unsigned n) {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) r = (r << 1) ^ ((r >> 63) ? kCrc64Polynomial : 0);
    return r;
}

// Table j maps a byte b to b * x^(64 + 8j) mod P: the contribution of a byte that still has j
// bytes after it within an eight-byte step.
using Tables = std::array<std::array<std::uint64_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (unsigned b = 0; b < 256; ++b) {
        std::uint64_t r = std::uint64_t{b} << 56;
        for (int k = 0; k < 8; ++k) r = (r << 1) ^ ((r >> 63) ? kCrc64Polynomial : 0);
        t[0][b] = r;
    }
    for (int j = 1; j < 8; ++j)
        for (unsigned b = 0; b < 256; ++b) t[j][b] = (t[j - 1][b] << 8) ^ t[0][t[j - 1][b] >> 56];
    return t;
}

constexpr Tables kTables = make_tables();

#if DRAL_CRC64_CLMUL

#define DRAL_CLMUL_TARGET __attribute__((target("pclmul,ssse3")))

// The first byte in memory becomes the most significant one.
DRAL_CLMUL_TARGET inline __m128i load_block(const std::uint8_t* at) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), reverse);
}

// a * x^d mod P, kept below degree 128, for the constants k = (x^(d+64) mod P, x^d mod P).
DRAL_CLMUL_TARGET inline __m128i fold(__m128i a, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00));
}

template <unsigned kDistance>
DRAL_CLMUL_TARGET inline __m128i fold_constants() {
    constexpr std::uint64_t kHigh = x_power_mod(kDistance + 64);
    constexpr std::uint64_t kLow = x_power_mod(kDistance);
    return _mm_set_epi64x(static_cast<long long>(kHigh), static_cast<long long>(kLow));
}

// The CRC of `n` bytes continued from `crc`, by folding 16-byte blocks with carry-less
// multiplication; `n` is at least 64. A 128-bit accumulator A stands for everything read so far
// modulo P (kept below degree 128, not fully reduced): with A = H * x^64 + L, appending a block D
// that lies d bits further on is A * x^d + D = H * (x^(d+64) mod P) + L * (x^d mod P) + D, two
// 64 x 64 products of degree at most 126. Four accumulators run over interleaved blocks to keep
// the multiplier busy, then fold into one. The register continues as the CRC of A's 16 bytes.
DRAL_CLMUL_TARGET std::uint64_t crc64_clmul(std::uint64_t crc, const std::uint8_t* p,
                                            std::size_t n) {
    const __m128i by512 = fold_constants<512>();
    const __m128i by128 = fold_constants<128>();

    // A register R ahead of the data is the same as R added to the data's first eight bytes.
    __m128i a0 = _mm_xor_si128(load_block(p), _mm_set_epi64x(static_cast<long long>(crc), 0));
    __m128i a1 = load_block(p + 16);
    __m128i a2 = load_block(p + 32);
    __m128i a3 = load_block(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        a0 = _mm_xor_si128(fold(a0, by512), load_block(p));
        a1 = _mm_xor_si128(fold(a1, by512), load_block(p + 16));
        a2 = _mm_xor_si128(fold(a2, by512), load_block(p + 32));
        a3 = _mm_xor_si128(fold(a3, by512), load_block(p + 48));
    }
    __m128i a = _mm_xor_si128(fold(a0, by128), a1);
    a = _mm_xor_si128(fold(a, by128), a2);
    a = _mm_xor_si128(fold(a, by128), a3);
    for (; n >= 16; p += 16, n -= 16) a = _mm_xor_si128(fold(a, by128), load_block(p));

    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    alignas(16) std::uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(a, reverse));
    crc = crc64_update_portable(0, folded);
    return crc64_update_portable(crc, {p, n});
}

#endif

}  // namespace

std::uint64_t crc64_update_portable(std::uint64_t crc, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t x = crc ^ load_u64_be(p);
        crc = kTables[7][x >> 56] ^ kTables[6][(x >> 48) & 0xff] ^ kTables[5][(x >> 40) & 0xff] ^
              kTables[4][(x >> 32) & 0xff] ^ kTables[3][(x >> 24) & 0xff] ^
              kTables[2][(x >> 16) & 0xff] ^ kTables[1][(x >> 8) & 0xff] ^ kTables[0][x & 0xff];
    }
    for (; n > 0; ++p, --n) crc = (crc << 8) ^ kTables[0][(crc >> 56) ^ *p];
    return crc;
}

std::uint64_t crc64_update(std::uint64_t crc, std::span<const std::uint8_t> bytes) {
#if DRAL_CRC64_CLMUL
    // Below a few blocks the table is as fast and needs no set-up.
    if (bytes.size() >= 256 && runs_crc64_clmul())
        return crc64_clmul(crc, bytes.data(), bytes.size());
#endif
    return crc64_update_portable(crc, bytes);
}

}  // namespace dral_core
