// Fixed-width integers in a given byte order, read from and written to unaligned memory, and
// where in memory order two loaded words differ. Every format fact of byte order goes through
// here, so that a big-endian build needs nothing else.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dral_core {

namespace byte_order_detail {

template <class Word, std::endian kOrder>
Word load(const void* p) {
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native != kOrder) word = std::byteswap(word);
    return word;
}

template <class Word, std::endian kOrder>
void store(void* p, Word word) {
    if constexpr (std::endian::native != kOrder) word = std::byteswap(word);
    std::memcpy(p, &word, sizeof word);
}

}  // namespace byte_order_detail

inline std::uint64_t load_u64_le(const void* p) {
    return byte_order_detail::load<std::uint64_t, std::endian::little>(p);
}
inline std::uint32_t load_u32_le(const void* p) {
    return byte_order_detail::load<std::uint32_t, std::endian::little>(p);
}
inline std::uint64_t load_u64_be(const void* p) {
    return byte_order_detail::load<std::uint64_t, std::endian::big>(p);
}
inline std::uint32_t load_u32_be(const void* p) {
    return byte_order_detail::load<std::uint32_t, std::endian::big>(p);
}

inline std::uint32_t load_u24_le(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16;
}

inline void store_u64_le(void* p, std::uint64_t value) {
    byte_order_detail::store<std::uint64_t, std::endian::little>(p, value);
}
inline void store_u32_le(void* p, std::uint32_t value) {
    byte_order_detail::store<std::uint32_t, std::endian::little>(p, value);
}

// The position, in memory order, of the first byte that is not zero in `word`, which must not be
// zero and was loaded from memory in the processor's own order (memcpy): the XOR of two such
// words gives where their bytes first differ.
inline std::size_t first_nonzero_byte(std::uint64_t word) {
    const int bits = std::endian::native == std::endian::little ? std::countr_zero(word)
                                                                : std::countl_zero(word);
    return static_cast<std::size_t>(bits) / 8;
}

}  // namespace dral_core
