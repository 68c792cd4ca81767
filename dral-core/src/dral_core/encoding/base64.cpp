#include "dral_core/encoding/base64.hpp"

#include <array>

namespace dral_core::base64 {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_reverse_table() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    return table;
}

constexpr std::array<std::uint8_t, 256> kReverse = make_reverse_table();

std::uint8_t sextet(char c) { return kReverse[static_cast<unsigned char>(c)]; }

}  // namespace

std::size_t encode_into(char* out, std::span<const std::uint8_t> data) {
    char* const start = out;
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        *out++ = kAlphabet[(group >> 18) & 0x3F];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        *out++ = kAlphabet[(group >> 6) & 0x3F];
        *out++ = kAlphabet[group & 0x3F];
    }
    const std::size_t rest = data.size() - i;
    if (rest != 0) {
        std::uint32_t group = std::uint32_t{data[i]} << 16;
        if (rest == 2) group |= std::uint32_t{data[i + 1]} << 8;
        *out++ = kAlphabet[(group >> 18) & 0x3F];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        *out++ = rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        *out++ = '=';
    }
    return static_cast<std::size_t>(out - start);
}

void encode_to(std::string& output, std::span<const std::uint8_t> data) {
    const std::size_t start = output.size();
    output.resize(start + encoded_size(data.size()));
    encode_into(output.data() + start, data);
}

std::string encode(std::span<const std::uint8_t> data) {
    std::string output;
    encode_to(output, data);
    return output;
}

std::expected<Bytes, std::string> decode(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=' && sextet(text[i]) == kInvalid)
            return std::unexpected("invalid character at offset " + std::to_string(i));
    }
    if (text.size() % 4 != 0) return std::unexpected("invalid length");

    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    const std::string_view body = text.substr(0, text.size() - padding);
    if (body.find('=') != std::string_view::npos) return std::unexpected("invalid padding");

    Bytes output;
    output.reserve(text.size() / 4 * 3);
    std::size_t i = 0;
    for (; i + 4 <= body.size(); i += 4) {
        const std::uint32_t group = (std::uint32_t{sextet(body[i])} << 18) |
                                    (std::uint32_t{sextet(body[i + 1])} << 12) |
                                    (std::uint32_t{sextet(body[i + 2])} << 6) | sextet(body[i + 3]);
        output.push_back(static_cast<std::uint8_t>(group >> 16));
        output.push_back(static_cast<std::uint8_t>(group >> 8));
        output.push_back(static_cast<std::uint8_t>(group));
    }
    if (padding == 0) return output;

    // The final quad carries one byte (two sextets) or two bytes (three sextets).
    std::uint32_t group =
        (std::uint32_t{sextet(body[i])} << 18) | (std::uint32_t{sextet(body[i + 1])} << 12);
    if (padding == 1) group |= std::uint32_t{sextet(body[i + 2])} << 6;
    const std::uint32_t unused_bits = padding == 2 ? 0xFFFF : 0xFF;
    if ((group & unused_bits) != 0) return std::unexpected("non-zero trailing bits");
    output.push_back(static_cast<std::uint8_t>(group >> 16));
    if (padding == 1) output.push_back(static_cast<std::uint8_t>(group >> 8));
    return output;
}

}  // namespace dral_core::base64
