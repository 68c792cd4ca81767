#include "dral_core/encoding/varint.hpp"

namespace dral_core {

Result<DecodedVarint> decode_varint_slow(std::span<const std::uint8_t> data, std::size_t offset) {
    if (offset >= data.size()) return fail(DralError::unexpected_eof(offset));
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kMaxVarintBytes; ++i) {
        if (offset + i >= data.size()) return fail(DralError::unexpected_eof(data.size()));
        std::uint8_t byte = data[offset + i];
        if (i == kMaxVarintBytes - 1) {
            // The tenth byte supplies bit 63 alone.
            if (byte > 1) return fail(DralError::varint_overflow());
            return DecodedVarint{value | (std::uint64_t{byte} << 63), i + 1};
        }
        value |= std::uint64_t{byte & 0x7fu} << (7 * i);
        if (byte < 0x80) return DecodedVarint{value, i + 1};
    }
    return fail(DralError::varint_overflow());  // not reached: the tenth byte always returns
}

}  // namespace dral_core
