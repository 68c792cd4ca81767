// Decimal digits of unsigned integers, two at a time from a table and eight at a time, and
// sixteen at a time for the digits of floats: the writers of numbers meet them by the thousand,
// and a digit at a time costs a division each.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// "00" to "99": the two characters of each value below 100.
inline constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The two digits of `n` (below 100), leading zero included.
inline void store_pair(char* out, std::uint64_t n) { std::memcpy(out, &kDigitPairs[2 * n], 2); }

// The digits of `n` (below 10^4) without leading zeros; four bytes are stored.
inline std::size_t write_up_to_four(char* out, std::uint64_t n) {
    // A single digit is the second character of its pair; the byte stored after it is not kept.
    if (n < 100) {
        const std::size_t one = n < 10;
        std::memcpy(out, &kDigitPairs[2 * n + one], 2);
        return 2 - one;
    }
    const std::uint64_t high = n / 100;
    const std::size_t one = high < 10;
    std::memcpy(out, &kDigitPairs[2 * high + one], 2);
    store_pair(out + 2 - one, n % 100);
    return 4 - one;
}

// The digits of `n` (below 10^8) without leading zeros; eight bytes are stored. Pairs from a
// table, not eight_digits: its chain of multiplications and the count of its leading zeros took
// twice as long a number, measured on numbers of one to eight digits.
inline std::size_t write_up_to_eight(char* out, std::uint64_t n) {
    if (n < 10000) return write_up_to_four(out, n);
    const std::size_t length = write_up_to_four(out, n / 10000);
    const std::uint64_t low = n % 10000;
    store_pair(out + length, low / 100);
    store_pair(out + length + 2, low % 100);
    return length + 4;
}

// SixteenDigits in words of eight digits, for machines without the vector form.
class SixteenDigitWords {
public:
    explicit SixteenDigitWords(std::uint64_t n) : SixteenDigitWords(n / 100000000, n % 100000000) {}
    SixteenDigitWords(std::uint64_t high, std::uint64_t low)
        : first_(eight_digits(high)), last_(eight_digits(low)) {}

    void store(char* out) const {
        decimal_digits_detail::store(out, first_);
        decimal_digits_detail::store(out + 8, last_);
    }

    void store_with_point(char* out, std::size_t whole) const {
        store(out + 1);
        const auto digits = static_cast<unsigned __int128>(last_) << 64 | first_;
        const auto before = (static_cast<unsigned __int128>(1) << (8 * whole)) - 1;
        const auto placed = (digits & before) | (digits << 8 & ~before);
        decimal_digits_detail::store(out, static_cast<std::uint64_t>(placed));
        decimal_digits_detail::store(out + 8, static_cast<std::uint64_t>(placed >> 64));
        out[whole] = '.';
    }

private:
    std::uint64_t first_;  // the first eight digits' characters, the first in the lowest byte
    std::uint64_t last_;
};

#if defined(__SSE2__)
// In vectors, the halves of eight digits side by side, each step splits every lane in two: fours
// by 10000, twos by 100, ones by 10, each division a multiplication exact over the lane's range.
class SixteenDigitVector {
public:
    explicit SixteenDigitVector(std::uint64_t n)
        : SixteenDigitVector(n / 100000000, n % 100000000) {}
    SixteenDigitVector(std::uint64_t high, std::uint64_t low) {
        const __m128i eights =
            _mm_set_epi64x(static_cast<long long>(low), static_cast<long long>(high));
        const __m128i first_fours = _mm_srli_epi64(
            _mm_mul_epu32(eights, _mm_set1_epi32(static_cast<int>(3518437209u))), 45);
        const __m128i last_fours =
            _mm_sub_epi64(eights, _mm_mul_epu32(first_fours, _mm_set1_epi32(10000)));
        const __m128i fours = _mm_or_si128(first_fours, _mm_slli_epi64(last_fours, 32));
        const __m128i first_twos = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
        const __m128i last_twos =
            _mm_sub_epi16(fours, _mm_mullo_epi16(first_twos, _mm_set1_epi16(100)));
        const __m128i twos = _mm_or_si128(first_twos, _mm_slli_epi32(last_twos, 16));
        const __m128i first_ones = _mm_mulhi_epu16(twos, _mm_set1_epi16(6554));
        const __m128i last_ones =
            _mm_sub_epi16(twos, _mm_mullo_epi16(first_ones, _mm_set1_epi16(10)));
        const __m128i values = _mm_or_si128(first_ones, _mm_slli_epi16(last_ones, 8));
        digits_ = _mm_add_epi8(values, _mm_set1_epi8('0'));
    }

    void store(char* out) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), digits_); }

    void store_with_point(char* out, std::size_t whole) const {
        store(out + 1);
        // Sixteen bytes read from `16 - whole` on: all-ones over the first `whole` places.
        alignas(32) static constexpr signed char kOnesThenZeros[32] = {
            -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
        const __m128i before =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kOnesThenZeros + 16 - whole));
        const __m128i placed = _mm_or_si128(_mm_and_si128(before, digits_),
                                            _mm_andnot_si128(before, _mm_slli_si128(digits_, 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), placed);
        out[whole] = '.';
    }

private:
    __m128i digits_;
};
#endif

}  // namespace decimal_digits_detail

// The sixteen decimal digits of `n` (below 10^16), leading zeros included, held in registers: the
// digits of floats, which are placed straight where they belong. Written from memory, they would
// be read back in pieces that span their stores, which the processor cannot forward.
// - store(out): the sixteen digits at out;
// - store_with_point(out, whole): the first `whole` (0 to 15) digits, '.', then the others:
//   seventeen bytes at out.
#if defined(__SSE2__)
using SixteenDigits = decimal_digits_detail::SixteenDigitVector;
#else
using SixteenDigits = decimal_digits_detail::SixteenDigitWords;
#endif

namespace decimal_digits_detail {

// The inverse of `odd` modulo 2^64, by Newton's iteration: each step doubles the bits it has right.
constexpr std::uint64_t inverse(std::uint64_t odd) {
    std::uint64_t x = odd;
    for (int i = 0; i < 6; ++i) x *= 2 - odd * x;
    return x;
}

// Divides `n` by 10^K when it is a multiple, and tells whether it was: it is one when n × 5^-K,
// modulo 2^64, rotated right by K, is at most (2^64 - 1) / 10^K, and that is then the quotient.
template <int K>
bool divide_by_power_of_ten(std::uint64_t& n) {
    constexpr std::uint64_t kFive = [] {
        std::uint64_t five = 1;
        for (int i = 0; i < K; ++i) five *= 5;
        return five;
    }();
    const std::uint64_t quotient = std::rotr(n * inverse(kFive), K);
    const bool divides = quotient <= UINT64_MAX / (kFive << K);
    n = divides ? quotient : n;
    return divides;
}

// The zeros that end the digits of `n` (below 10^8), at most seven.
inline int trailing_zeros_of_eight(std::uint64_t n) {
    int zeros = 4 * divide_by_power_of_ten<4>(n);
    zeros += 2 * divide_by_power_of_ten<2>(n);
    return zeros + divide_by_power_of_ten<1>(n);
}

}  // namespace decimal_digits_detail

// The zeros that end the sixteen digits, leading zeros included, of high × 10^8 + low (both
// below 10^8): all sixteen for 0. In integer arithmetic, which needs no digit: a float's length
// waits for this count, and the digits come later.
inline int trailing_zeros_of_sixteen(std::uint64_t high, std::uint64_t low) {
    using namespace decimal_digits_detail;
    const bool low_zero = low == 0;
    const std::uint64_t last = low_zero ? high : low;
    return (low_zero ? 8 : 0) + trailing_zeros_of_eight(last) + (last == 0);
}

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
