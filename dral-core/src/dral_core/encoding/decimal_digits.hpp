// Decimal digits of unsigned integers, eight at a time: the writers of numbers meet them by the
// thousand, and a digit at a time costs a division each.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dral_core {

// Room write_decimal needs at its `out`.
inline constexpr std::size_t kMaxDecimalDigits = 20;

namespace decimal_digits_detail {

// The eight digits of `n` (below 10^8) as characters, the first in the lowest byte. Each step
// halves the lanes: two of four digits, four of two, eight of one; the divisions by 100 and 10
// are multiplications exact over their lanes' ranges.
inline std::uint64_t eight_digits(std::uint64_t n) {
    std::uint64_t lanes = n / 10000 | (n % 10000) << 32;
    std::uint64_t high = (lanes * 10486 >> 20) & 0x0000007F0000007Full;
    lanes = high | (lanes - high * 100) << 16;
    high = (lanes * 103 >> 10) & 0x000F000F000F000Full;
    lanes = high | (lanes - high * 10) << 8;
    return lanes + 0x3030303030303030ull;
}

inline void store(char* out, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    std::memcpy(out, &word, 8);
}

// The digits of `n` (below 10^8) without leading zeros; eight bytes are stored.
inline std::size_t write_up_to_eight(char* out, std::uint64_t n) {
    if (n < 10) {
        *out = static_cast<char>('0' + n);
        return 1;
    }
    const std::uint64_t digits = eight_digits(n);
    const int leading = std::countr_zero(digits - 0x3030303030303030ull) / 8;
    store(out, digits >> (8 * leading));
    return static_cast<std::size_t>(8 - leading);
}

}  // namespace decimal_digits_detail

// Writes the decimal digits of `n` at `out`, which has room for kMaxDecimalDigits bytes (some
// past the digits may be overwritten); returns their count.
inline std::size_t write_decimal(char* out, std::uint64_t n) {
    using namespace decimal_digits_detail;
    constexpr std::uint64_t kEight = 100000000;
    if (n < kEight) return write_up_to_eight(out, n);
    const std::uint64_t high = n / kEight;
    std::size_t length;
    if (high < kEight) {
        length = write_up_to_eight(out, high);
    } else {
        length = write_up_to_eight(out, high / kEight);
        store(out + length, eight_digits(high % kEight));
        length += 8;
    }
    store(out + length, eight_digits(n % kEight));
    return length + 8;
}

// The same for a signed `n`, with a '-' before a negative one; `out` has room for one byte more.
inline std::size_t write_signed_decimal(char* out, std::int64_t n) {
    if (n >= 0) return write_decimal(out, static_cast<std::uint64_t>(n));
    *out = '-';
    // The magnitude in unsigned arithmetic, where the least value has one.
    return 1 + write_decimal(out + 1, 0 - static_cast<std::uint64_t>(n));
}

}  // namespace dral_core
