// Sixteen bytes at a time through the text a writer copies: whether a string may need escapes,
// whether a key may stand bare. The scans read the text where it comes from, never past its end,
// and never the copy just stored: a load across stores not yet written back waits for them.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dral_core/base/copy_bytes.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dral_core::text_scan {

// How far past its end fill_spaces may store.
inline constexpr std::size_t kFillPast = 16;

// The letter after the backslash that stands for `c` in a quoted string, or 0 for a character
// written as it is.
constexpr char escape_letter(char32_t c) {
    switch (c) {
        case '\n':
            return 'n';
        case '\r':
            return 'r';
        case '\t':
            return 't';
        case '"':
            return '"';
        case '\\':
            return '\\';
        default:
            return 0;
    }
}

// escape_letter of every ASCII character, looked up: the switch's branches mispredict at every
// escape of a text.
inline constexpr auto kEscapeLetters = [] {
    std::array<char, 128> letters{};
    for (char32_t c = 0; c < letters.size(); ++c) letters[c] = escape_letter(c);
    return letters;
}();

constexpr char escape_of(char32_t c) { return c < kEscapeLetters.size() ? kEscapeLetters[c] : 0; }

// Writes `c` at `out`, escaped if it needs to be, without a branch; returns where it ends. May
// store one unit past that end, which the room for escapes holds.
template <class Unit>
Unit* put_escaped(Unit* out, char32_t c) {
    const char letter = escape_of(c);
    out[0] = letter != 0 ? Unit{'\\'} : static_cast<Unit>(c);
    out[1] = static_cast<Unit>(letter);
    return out + 1 + (letter != 0);
}

#if defined(__SSE2__)
inline __m128i load_16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The `n` bytes at `p` (0 < n < 16) in one register, loaded as copy_bytes loads them: words
// from both ends that overlap, so that every lane holds one of the bytes and none past them.
inline __m128i load_short(const char* p, std::size_t n) {
    if (n >= 8) {
        std::int64_t head, tail;
        std::memcpy(&head, p, 8);
        std::memcpy(&tail, p + n - 8, 8);
        return _mm_set_epi64x(tail, head);
    }
    if (n >= 4) {
        std::int32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + n - 4, 4);
        return _mm_set_epi32(tail, head, tail, head);
    }
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(p[i]); };
    return _mm_set1_epi32(
        static_cast<std::int32_t>(byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16 | byte(0) << 24));
}

// A bit for each of the 16 bytes that may need an escape in a quoted string: every one that
// does, and the other control characters up to '\r', which are rare and which escape_of tells
// apart. Six operations where the exact test takes nine.
inline __m128i escape_candidates(__m128i v) {
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8('\r')), v);
    return _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                              _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
}

inline unsigned escapes_in(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(escape_candidates(v)));
}

// A bit for each of the 16 bytes that may not stand in a bare ASCII key: anything but letters,
// digits and '_'. Each range test moves its range to the bottom of the signed bytes, where one
// compare finds it, and every other byte, those past ASCII too, above it.
inline unsigned non_key_bytes_in(__m128i v) {
    auto within = [](__m128i x, char low, int count) {
        const __m128i moved = _mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - low)));
        return _mm_cmplt_epi8(moved, _mm_set1_epi8(static_cast<char>(-128 + count)));
    };
    const __m128i letter = within(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 26);
    const __m128i key_byte = _mm_or_si128(_mm_or_si128(letter, within(v, '0', 10)),
                                          _mm_cmpeq_epi8(v, _mm_set1_epi8('_')));
    return ~static_cast<unsigned>(_mm_movemask_epi8(key_byte)) & 0xFFFF;
}

inline unsigned escapes_in_16(const char* p) { return escapes_in(load_16(p)); }

// Whether any of the `n` bytes at `p` makes `mask_of` give a bit: sixteen at a time, the last
// sixteen overlapping the ones before.
template <class MaskOf>
inline bool any_in(const char* p, std::size_t n, MaskOf mask_of) {
    if (n < 16) return n > 0 && mask_of(load_short(p, n)) != 0;
    for (std::size_t i = 0; i + 16 < n; i += 16)
        if (mask_of(load_16(p + i)) != 0) return true;
    return mask_of(load_16(p + n - 16)) != 0;
}

// Copies the sixteen bytes at `in` to `out`, adding their candidates to `found`.
inline void copy_block(char* out, const char* in, __m128i& found) {
    const __m128i v = load_16(in);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    found = _mm_or_si128(found, escape_candidates(v));
}

// copy_finding_escapes for more than 32 bytes, tested each sixty-four, for an escape found early.
inline bool copy_finding_escapes_in_blocks(char* out, const char* in, std::size_t n) {
    __m128i found = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 64 < n; i += 64) {
        for (std::size_t at = i; at < i + 64; at += 16) copy_block(out + at, in + at, found);
        if (_mm_movemask_epi8(found) != 0) return true;
    }
    for (; i + 16 < n; i += 16) copy_block(out + i, in + i, found);
    copy_block(out + n - 16, in + n - 16, found);
    return _mm_movemask_epi8(found) != 0;
}

// copy_finding_escapes for more than 32 bytes, out of line, so that the short strings' path
// stays small enough to inline. Defined with the writer of escaped texts (escaped_text.cpp),
// which runs it in the widest loop the processor has.
bool copy_finding_escapes_long(char* out, const char* in, std::size_t n);

// Copies the `n` bytes at `in` to `out`; whether any of them may need an escape (see
// escape_candidates). One pass, sixteen bytes a step, the last sixteen overlapping the ones
// before, and one test.
inline bool copy_finding_escapes(char* out, const char* in, std::size_t n) {
    if (n < 16) {
        copy_bytes(reinterpret_cast<std::uint8_t*>(out), in, n);
        return n > 0 && escapes_in(load_short(in, n)) != 0;
    }
    if (n > 32) return copy_finding_escapes_long(out, in, n);
    __m128i found = _mm_setzero_si128();
    copy_block(out, in, found);
    copy_block(out + n - 16, in + n - 16, found);
    return _mm_movemask_epi8(found) != 0;
}

inline bool has_non_key_byte(const char* p, std::size_t n) {
    return any_in(p, n, [](__m128i v) { return non_key_bytes_in(v); });
}

// Spaces over the `n` bytes at `out`, and up to kFillPast past them.
inline void fill_spaces(char* out, std::size_t n) {
    const __m128i spaces = _mm_set1_epi8(' ');
    for (std::size_t i = 0; i < n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), spaces);
}
#else
inline unsigned escapes_in_16(const char* p) {
    unsigned mask = 0;
    for (int i = 0; i < 16; ++i)
        if (escape_of(static_cast<unsigned char>(p[i])) != 0) mask |= 1u << i;
    return mask;
}

inline bool copy_finding_escapes(char* out, const char* in, std::size_t n) {
    std::memcpy(out, in, n);
    for (std::size_t i = 0; i < n; ++i)
        if (escape_of(static_cast<unsigned char>(in[i])) != 0) return true;
    return false;
}

inline bool has_non_key_byte(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        const unsigned lower = c | 0x20u;
        if (c != '_' && !(lower >= 'a' && lower <= 'z') && !(c >= '0' && c <= '9')) return true;
    }
    return false;
}

inline void fill_spaces(char* out, std::size_t n) { std::memset(out, ' ', n); }
#endif

// Where the first of the `n` bytes at `p` that may need an escape lies (see escape_candidates),
// or n.
inline std::size_t first_escape_within(const char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        if (const unsigned mask = escapes_in_16(p + i); mask != 0)
            return i + static_cast<std::size_t>(std::countr_zero(mask));
    while (i < n && escape_of(static_cast<unsigned char>(p[i])) == 0) ++i;
    return i;
}

// The parser's rule for bare keys, for the `n` ASCII bytes at `p`: a letter or '_', then letters,
// digits and '_'.
inline bool is_bare_ascii_key(const char* p, std::size_t n) {
    if (n == 0 || (p[0] >= '0' && p[0] <= '9')) return false;
    return !has_non_key_byte(p, n);
}

}  // namespace dral_core::text_scan
