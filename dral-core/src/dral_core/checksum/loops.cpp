#include "dral_core/checksum/loops.hpp"

namespace dral_core {
namespace {

bool processor_runs_avx512() {
#ifdef DRAL_XXH64_AVX512
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
#else
    return false;  // built without the AVX-512 loop (no clang at hand)
#endif
}

bool processor_runs_clmul() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
#else
    return false;
#endif
}

}  // namespace

ChecksumLoops checksum_loops{processor_runs_avx512(), processor_runs_clmul()};

void use_vector_checksums(bool enabled) {
    checksum_loops.xxh64_avx512.store(enabled && processor_runs_avx512(),
                                      std::memory_order_relaxed);
    checksum_loops.crc64_clmul.store(enabled && processor_runs_clmul(), std::memory_order_relaxed);
}

const char* xxh64_loop() { return runs_xxh64_avx512() ? "avx512" : "scalar"; }

}  // namespace dral_core
