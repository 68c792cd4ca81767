#include "dral_core/text/widened_text.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dral_core/text/text_loops.hpp"

#ifdef DRAL_TEXT_AVX2
#include <immintrin.h>
#endif

namespace dral_core {
namespace {

#ifdef DRAL_TEXT_AVX2
__attribute__((target("avx2"))) void widen_text_avx2(std::uint16_t* out, const std::uint8_t* in,
                                                     std::size_t n) {
    for (std::size_t i = 0; i < n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepu8_epi16(bytes));
    }
}
#endif

void widen_text_portable(std::uint16_t* out, const std::uint8_t* in, std::size_t n) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t i = 0; i < n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        auto* to = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(to, _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi8(bytes, zero));
    }
#else
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
#endif
}

}  // namespace

void widen_text(std::uint16_t* out, const std::uint8_t* in, std::size_t n) {
#ifdef DRAL_TEXT_AVX2
    if (text_loops_run_avx2()) return widen_text_avx2(out, in, n);
#endif
    widen_text_portable(out, in, n);
}

}  // namespace dral_core
