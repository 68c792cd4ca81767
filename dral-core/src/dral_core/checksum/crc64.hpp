// CRC-64/ECMA-182, the checksum of a compiled file: polynomial 0x42F0E1EBA9EA3693, initial value
// 0, most significant bit first, no final XOR.
#pragma once

#include <cstdint>
#include <span>

namespace dral_core {

inline constexpr std::uint64_t kCrc64Polynomial = 0x42F0E1EBA9EA3693ull;

// The CRC of `bytes` continued from the register `crc` (0 for a fresh checksum). Uses carry-less
// multiplication where the processor has it, a table otherwise; both give the same value.
std::uint64_t crc64_update(std::uint64_t crc, std::span<const std::uint8_t> bytes);

inline std::uint64_t crc64(std::span<const std::uint8_t> bytes) { return crc64_update(0, bytes); }

// The table-driven form alone, so that tests and benchmarks can hold the two against each other.
std::uint64_t crc64_update_portable(std::uint64_t crc, std::span<const std::uint8_t> bytes);

}  // namespace dral_core
