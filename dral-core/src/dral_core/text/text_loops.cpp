#include "dral_core/text/text_loops.hpp"

namespace dral_core {
namespace {

bool processor_runs_avx2() {
#ifdef DRAL_TEXT_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

std::atomic<bool> text_loops_detail::avx2{processor_runs_avx2()};

void use_vector_text_loops(bool enabled) {
    text_loops_detail::avx2.store(enabled && processor_runs_avx2(), std::memory_order_relaxed);
}

const char* text_loops() { return text_loops_run_avx2() ? "avx2" : "portable"; }

}  // namespace dral_core
