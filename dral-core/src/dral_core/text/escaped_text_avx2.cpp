// The loops of escaped_text.cpp over 32 bytes a step: a long text's bytes are copied and tested
// in half the instructions. Compiled for AVX2 function by function, so that the rest of the
// library runs on every x86-64 processor.
#include "dral_core/text/escaped_text_avx2.hpp"

#ifdef DRAL_TEXT_AVX2

#include <immintrin.h>

#include <bit>

#include "dral_core/text/escaped_text.hpp"
#include "dral_core/text/text_scan.hpp"

#define DRAL_AVX2 __attribute__((target("avx2")))

namespace dral_core::avx2 {
namespace {

DRAL_AVX2 __m256i load_32(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

DRAL_AVX2 void store_32(char* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// text_scan::escape_candidates over 32 bytes.
DRAL_AVX2 __m256i escape_candidates(__m256i v) {
    const __m256i control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8('\r')), v);
    return _mm256_or_si256(control, _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')),
                                                    _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))));
}

DRAL_AVX2 unsigned escapes_in(__m256i v) {
    return static_cast<unsigned>(_mm256_movemask_epi8(escape_candidates(v)));
}

}  // namespace

DRAL_AVX2 bool copy_finding_escapes(char* out, const char* in, std::size_t n) {
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m256i low = load_32(in + i), high = load_32(in + i + 32);
        store_32(out + i, low);
        store_32(out + i + 32, high);
        const __m256i found = _mm256_or_si256(escape_candidates(low), escape_candidates(high));
        if (!_mm256_testz_si256(found, found)) return true;
    }
    // The last 64, over some seen already.
    const __m256i low = load_32(in + n - 64), high = load_32(in + n - 32);
    store_32(out + n - 64, low);
    store_32(out + n - 32, high);
    const __m256i found = _mm256_or_si256(escape_candidates(low), escape_candidates(high));
    return !_mm256_testz_si256(found, found);
}

DRAL_AVX2 char* escape_rest(char* out, std::string_view text) {
    const char* in = text.data();
    const char* const end = in + text.size();
    // The first block with a candidate: the bytes before it are in place.
    while (end - in >= 32) {
        const unsigned mask = escapes_in(load_32(in));
        if (mask != 0) {
            in += std::countr_zero(mask);
            break;
        }
        in += 32;
    }
    out += in - text.data();
    // As the portable escape_rest, 32 bytes a step: a block's copies read at most 32 bytes past
    // it, so these steps stop 64 bytes before the end.
    while (end - in >= 64) {
        unsigned mask = escapes_in(load_32(in));
        store_32(out, load_32(in));
        if (mask == 0) {
            in += 32;
            out += 32;
            continue;
        }
        unsigned from = 0;
        do {
            const auto at = static_cast<unsigned>(std::countr_zero(mask));
            store_32(out, load_32(in + from));
            out = text_scan::put_escaped(out + (at - from), static_cast<unsigned char>(in[at]));
            from = at + 1;
            mask &= mask - 1;
        } while (mask != 0);
        store_32(out, load_32(in + from));
        out += 32 - from;
        in += 32;
    }
    return write_escaped_at(out, std::string_view(in, static_cast<std::size_t>(end - in)));
}

}  // namespace dral_core::avx2

#endif
