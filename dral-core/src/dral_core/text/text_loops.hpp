// Which loops the text writers take for long runs of bytes (escaped strings, text widened to two
// bytes a character): the AVX2 ones where the processor runs them, or the portable ones.
#pragma once

#include <atomic>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DRAL_TEXT_AVX2 1
#endif

namespace dral_core {

namespace text_loops_detail {
extern std::atomic<bool> avx2;
}  // namespace text_loops_detail

// Read on every long text: an atomic load of a byte costs what a plain one does, and lets a test
// switch while other threads write.
inline bool text_loops_run_avx2() {
    return text_loops_detail::avx2.load(std::memory_order_relaxed);
}

// `false` has every long text of the process written by the portable loops from then on, `true`
// by the widest the processor runs, as at load: tests hold the two against each other. The loops
// that write them now: "avx2" or "portable".
void use_vector_text_loops(bool enabled);
const char* text_loops();

}  // namespace dral_core
