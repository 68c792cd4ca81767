#include "dral_python/text/wide_strs.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dral_core/base/bit_count.hpp"
#include "dral_core/text/text_output.hpp"
#include "dral_core/text/text_scan.hpp"
#include "dral_core/text/widened_text.hpp"

namespace dral_python {
namespace {

struct Scan {
    std::size_t escapes = 0;
    std::uint32_t bits = 0;
    bool surrogate = false;
};

void scan_one(Scan& found, std::uint32_t c) {
    found.bits |= c;
    found.surrogate |= (c & 0xFFFFF800u) == 0xD800u;
    found.escapes += dral_core::text_scan::escape_of(c) != 0;
}

#if defined(__SSE2__)
template <class Char>
__m128i load_lanes(const Char* chars) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars));
}

// Sixteen characters as sixteen bytes, eight at `low` then eight at `high`: each character that
// fits a byte as itself, any other as 0 or 0xFF, neither of which needs an escape.
template <class Char>
__m128i folded_16(const Char* low, const Char* high) {
    if constexpr (sizeof(Char) == 2)
        return _mm_packus_epi16(load_lanes(low), load_lanes(high));
    else
        return _mm_packus_epi16(_mm_packs_epi32(load_lanes(low), load_lanes(low + 4)),
                                _mm_packs_epi32(load_lanes(high), load_lanes(high + 4)));
}

// A bit for each of sixteen characters, folded to bytes, that needs an escape.
unsigned escapes_in_folded(__m128i folded) {
    auto is = [&](char c) { return _mm_cmpeq_epi8(folded, _mm_set1_epi8(c)); };
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(is('"'), is('\\')),
                                       _mm_or_si128(_mm_or_si128(is('\n'), is('\r')), is('\t')))));
}
#endif

// What a str's characters need: how many escapes, which bits, whether any is a surrogate. Sixteen
// characters at a time.
template <class Char>
Scan scan(const Char* chars, std::size_t n) {
    static_assert(sizeof(Char) == 2 || sizeof(Char) == 4);
    Scan found;
    std::size_t i = 0;
#if defined(__SSE2__)
    constexpr std::size_t kLanes = 16 / sizeof(Char);
    __m128i bits = _mm_setzero_si128(), surrogates = _mm_setzero_si128();
    const __m128i surrogate_mask =
        sizeof(Char) == 2 ? _mm_set1_epi16(static_cast<short>(0xF800)) : _mm_set1_epi32(~0x7FF);
    const __m128i surrogate =
        sizeof(Char) == 2 ? _mm_set1_epi16(static_cast<short>(0xD800)) : _mm_set1_epi32(0xD800);
    // Sixteen characters, eight at `low` and eight at `high`; `fresh`: those not counted yet.
    auto take = [&](const Char* low, const Char* high, unsigned fresh) {
        for (const Char* half : {low, high}) {
            for (std::size_t lane = 0; lane < 8; lane += kLanes) {
                const __m128i v = load_lanes(half + lane);
                bits = _mm_or_si128(bits, v);
                const __m128i top = _mm_and_si128(v, surrogate_mask);
                surrogates =
                    _mm_or_si128(surrogates, sizeof(Char) == 2 ? _mm_cmpeq_epi16(top, surrogate)
                                                               : _mm_cmpeq_epi32(top, surrogate));
            }
        }
        if (const unsigned mask = escapes_in_folded(folded_16(low, high)) & fresh; mask != 0)
            [[unlikely]]
            found.escapes += dral_core::count_bits_16(mask);
    };
    for (; i + 16 <= n; i += 16) take(chars + i, chars + i + 8, 0xFFFF);
    // The rest in the last characters of the str, over some seen already: the bits and
    // surrogates do not mind, the escapes are counted in the new characters only. A str of
    // eight to fifteen is its first eight and its last eight.
    if (n >= 16 && i < n) {
        take(chars + n - 16, chars + n - 8, (0xFFFFu << (i - (n - 16))) & 0xFFFF);
        i = n;
    } else if (n >= 8 && n < 16) {
        take(chars, chars + n - 8, ((0xFFFFu << (24 - n)) & 0xFF00) | 0xFF);
        i = n;
    }
    bits = _mm_or_si128(bits, _mm_srli_si128(bits, 8));
    bits = _mm_or_si128(bits, _mm_srli_si128(bits, 4));
    std::uint32_t lanes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bits));
    found.bits = sizeof(Char) == 2 ? (lanes | lanes >> 16) & 0xFFFF : lanes;
    found.surrogate = _mm_movemask_epi8(surrogates) != 0;
#endif
    for (; i < n; ++i) scan_one(found, chars[i]);
    return found;
}

// Visits the characters of a str of two or four bytes a character.
template <class Visit>
auto with_wide_chars(PyObject* str, Visit visit) {
    const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    if (PyUnicode_KIND(str) == PyUnicode_2BYTE_KIND) return visit(PyUnicode_2BYTE_DATA(str), n);
    return visit(PyUnicode_4BYTE_DATA(str), n);
}

#if defined(__SSE2__)
// Stores the sixteen bytes of characters at `in`, widened to `Out`.
template <class Out, class In>
void widen_lanes(Out* out, const In* in) {
    static_assert(sizeof(Out) > sizeof(In));
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    auto* to = reinterpret_cast<__m128i*>(out);
    if constexpr (sizeof(In) == 2) {
        _mm_storeu_si128(to, _mm_unpacklo_epi16(v, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(v, zero));
    } else {
        const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
    }
}

// Stores the `n` bytes at `in` (a multiple of 16), widened to `Out`: to two bytes a character,
// which the text of most wide strs is joined at, by the core's loop for long texts.
template <class Out>
void widen_blocks(Out* out, const std::uint8_t* in, std::size_t n) {
    if constexpr (sizeof(Out) == 2)
        dral_core::widen_text(out, in, n);
    else
        for (std::size_t i = 0; i < n; i += 16) widen_lanes(out + i, in + i);
}
#endif

// Copies `n` characters, widened or narrowed to `Out` (which holds all of them). Sixteen bytes
// at a time where characters are widened.
template <class Out, class In>
Out* copy_chars(Out* out, const In* in, std::size_t n) {
    if constexpr (sizeof(Out) == sizeof(In)) {
        if (n != 0) std::memcpy(out, in, n * sizeof(In));
        return out + n;
    }
    std::size_t i = 0;
#if defined(__SSE2__)
    if constexpr (sizeof(Out) == 2 && sizeof(In) == 1) {
        i = n / 16 * 16;
        widen_blocks(out, in, i);
    } else if constexpr (sizeof(Out) > sizeof(In)) {
        constexpr std::size_t kLanes = 16 / sizeof(In);
        for (; i + kLanes <= n; i += kLanes) widen_lanes(out + i, in + i);
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<Out>(in[i]);
    return out + n;
}

// Copies the `n` bytes of the written text at `in`, widened to `Out`, sixteen at a time while
// the text holds sixteen more: the characters stored past the n are overwritten by what comes
// next, and have room, for the result is as long as the text is from here on, and longer by
// the strs still to come.
template <class Out>
Out* copy_text(Out* out, const std::uint8_t* in, std::size_t n,
               [[maybe_unused]] const std::uint8_t* text_end) {
#if defined(__SSE2__)
    if constexpr (sizeof(Out) > 1) {
        const auto room = static_cast<std::size_t>(text_end - in);
        const std::size_t whole = std::min((n + 15) / 16, room / 16) * 16;
        widen_blocks(out, in, whole);
        if (whole >= n) return out + n;
        return copy_chars(out + whole, in + whole, n - whole);
    }
#endif
    return copy_chars(out, in, n);
}

// Sixteen characters a step, each block copied as it is scanned: where an escape stands in it,
// the copy goes on from there. The block's room is there, for escapes only lengthen the text, and
// so is the unit put_escaped may store past an escape: the closing quote's.
template <class Out, class In>
Out* copy_escaped(Out* out, const In* in, std::size_t n) {
    std::size_t i = 0;
#if defined(__SSE2__)
    if constexpr (sizeof(Out) >= sizeof(In)) {
        while (i + 16 <= n) {
            copy_chars(out, in + i, 16);
            const unsigned mask = escapes_in_folded(folded_16(in + i, in + i + 8));
            if (mask == 0) {
                i += 16;
                out += 16;
                continue;
            }
            const auto run = static_cast<std::size_t>(std::countr_zero(mask));
            i += run;
            out = dral_core::text_scan::put_escaped(out + run, in[i++]);
        }
    }
#endif
    for (; i < n; ++i) out = dral_core::text_scan::put_escaped(out, in[i]);
    return out;
}

}  // namespace

bool WideStrs::add(std::size_t at, PyObject* str, bool escaped) {
    const Scan found =
        with_wide_chars(str, [](const auto* chars, std::size_t n) { return scan(chars, n); });
    if (found.surrogate) return false;
    const bool escapes = escaped && found.escapes != 0;
    pieces_.push_back({at, str, escapes});
    added_ += static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)) + (escapes ? found.escapes : 0);
    bits_ |= found.bits;
    return true;
}

template <class Out>
void WideStrs::fill(Out* out, std::string_view text) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint8_t* const end = bytes + text.size();
    std::size_t from = 0;
    for (const Piece& piece : pieces_) {
        out = copy_text(out, bytes + from, piece.at - from, end);
        from = piece.at;
        out = with_wide_chars(piece.str, [&](const auto* chars, std::size_t n) {
            return piece.escaped ? copy_escaped(out, chars, n) : copy_chars(out, chars, n);
        });
    }
    copy_text(out, bytes + from, text.size() - from, end);
}

template <class Out>
void WideStrs::join_part_as(std::string_view text) {
    const std::size_t chars = text.size() + added_;
    if (joined_.empty()) {
        // The first part: room for a text as long as the last one, which most texts are, so
        // that it neither grows nor shrinks.
        joined_ = dral_core::ByteBuffer(sizeof(Out) == 2 ? kUcs2StrStorage : kUcs4StrStorage);
        joined_.reserve(std::max(chars, expected_chars_) * sizeof(Out));
    }
    fill(reinterpret_cast<Out*>(joined_.prepare(chars * sizeof(Out))), text);
    joined_.advance(chars * sizeof(Out));
    pieces_.clear();
    added_ = 0;
}

void WideStrs::widen_joined() {
    const std::size_t chars = joined_chars();
    dral_core::ByteBuffer wider(kUcs4StrStorage);
    wider.reserve(std::max(chars * 2, expected_chars_) * 4);
    copy_chars(reinterpret_cast<Py_UCS4*>(wider.prepare(chars * 4)),
               reinterpret_cast<const Py_UCS2*>(joined_.data()), chars);
    wider.advance(chars * 4);
    joined_ = std::move(wider);
}

void WideStrs::join_part(std::string_view text) {
    // Parts go at the width of the strs set so far, which one past the first plane widens.
    if (bits_ > 0xFFFF) {
        if (joined_unit() == 2 && !joined_.empty()) widen_joined();
        join_part_as<Py_UCS4>(text);
    } else {
        join_part_as<Py_UCS2>(text);
    }
}

PyObject* WideStrs::join(std::string_view text, bool latin1) {
    // The narrowest width that holds every character, as the interpreter would make the str: a
    // str may be stored wider than its characters need.
    const std::uint32_t widest = bits_ > 0xFFFF           ? 0x10FFFF
                                 : bits_ > 0xFF           ? 0xFFFF
                                 : latin1 || bits_ > 0x7F ? 0xFF
                                                          : 0x7F;
    if (widest > 0xFF) {
        // The last part: a text in one part gets its exact room.
        expected_chars_ = 0;
        join_part(text);
        return take_str(joined_);
    }
    const std::size_t before = joined_chars();
    PyObject* result =
        PyUnicode_New(static_cast<Py_ssize_t>(before + text.size() + added_), widest);
    if (result == nullptr) return nullptr;
    Py_UCS1* out = PyUnicode_1BYTE_DATA(result);
    if (joined_unit() == 2)
        out = copy_chars(out, reinterpret_cast<const Py_UCS2*>(joined_.data()), before);
    else
        out = copy_chars(out, reinterpret_cast<const Py_UCS4*>(joined_.data()), before);
    fill(out, text);
    return result;
}

bool is_bare_wide_key(PyObject* str) {
    return with_wide_chars(str, [](const auto* chars, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            if (!dral_core::is_bare_key_char(chars[i], i == 0)) return false;
        return n != 0;
    });
}

}  // namespace dral_python
