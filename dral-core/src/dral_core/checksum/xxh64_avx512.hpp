// xxHash's XXH64, compiled for processors with AVX-512 (see xxh64_avx512.cpp). Call these only
// where checksum/loops.hpp says that the processor runs them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dral_core::avx512 {

std::uint64_t xxh64(const std::uint8_t* data, std::size_t size);
// `state` is an XXH64_state_t.
void xxh64_update(void* state, const std::uint8_t* data, std::size_t size);

}  // namespace dral_core::avx512
