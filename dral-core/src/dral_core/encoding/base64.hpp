// Standard Base64 (RFC 4648 alphabet with '+' and '/', '=' padding), strict on decoding.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "dral_core/base/bytes.hpp"

namespace dral_core::base64 {

// Length of the padded encoding of `size` bytes.
constexpr std::size_t encoded_size(std::size_t size) { return (size + 2) / 3 * 4; }

// Writes the padded encoding of `data` at `out` (room for encoded_size bytes); returns its length.
std::size_t encode_into(char* out, std::span<const std::uint8_t> data);

// Appends the padded encoding of `data` to `output`.
void encode_to(std::string& output, std::span<const std::uint8_t> data);

std::string encode(std::span<const std::uint8_t> data);

// Decodes canonical Base64 only: length a multiple of four, '=' only as the final one or two
// characters, and zero in the bits that padding discards, so each byte string has one spelling.
// On failure the error is a short lower-case description of the fault, such as "invalid length",
// "invalid padding", "non-zero trailing bits" or "invalid character at offset 3".
std::expected<Bytes, std::string> decode(std::string_view text);

}  // namespace dral_core::base64
