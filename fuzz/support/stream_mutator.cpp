#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/bytes.hpp"
#include "dral_core/checksum/xxh64.hpp"
#include "dral_core/compression/codec.hpp"
#include "dral_core/encoding/varint.hpp"
#include "support/mutators.hpp"

namespace dral_fuzz {
namespace {

using dral_core::Bytes;

constexpr std::uint8_t kEndBlock = 255;
constexpr std::size_t kEndBlockSize = 19;

struct Block {
    std::uint8_t type;
    std::uint8_t compression;
    Bytes payload;
};

struct Stream {
    std::vector<Block> blocks;
    bool ended = false;  // by an end block
    Bytes rest;          // what follows the last block that could be read
};

Stream split(std::span<const std::uint8_t> data) {
    Stream stream;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::uint8_t type = data[pos];
        if (type == kEndBlock) {
            stream.ended = true;
            pos = std::min(data.size(), pos + kEndBlockSize);
            break;
        }
        auto length = dral_core::decode_varint(data, pos + 1);
        if (!length) break;
        const std::size_t header = 1 + length->length + 1 + 8;
        if (data.size() - pos < header || data.size() - pos - header < length->value) break;
        const std::uint8_t* payload = data.data() + pos + header;
        stream.blocks.push_back(
            {type, data[pos + header - 9], Bytes(payload, payload + length->value)});
        pos += header + length->value;
    }
    stream.rest.assign(data.begin() + pos, data.end());
    return stream;
}

void append_u64(Bytes& out, std::uint64_t value) {
    std::uint8_t bytes[8];
    dral_core::store_u64_le(bytes, value);
    out.insert(out.end(), bytes, bytes + 8);
}

Bytes join(const Stream& stream) {
    Bytes out;
    for (const Block& block : stream.blocks) {
        out.push_back(block.type);
        std::uint8_t varint[dral_core::kMaxVarintBytes];
        out.insert(out.end(), varint,
                   varint + dral_core::write_varint(varint, block.payload.size()));
        out.push_back(block.compression);
        append_u64(out, dral_core::xxh64(block.payload));
        out.insert(out.end(), block.payload.begin(), block.payload.end());
    }
    if (stream.ended) {
        Bytes sum;
        append_u64(sum, dral_core::xxh64(out));
        out.insert(out.end(), {kEndBlock, 8, 0});
        append_u64(out, dral_core::xxh64(sum));
        out.insert(out.end(), sum.begin(), sum.end());
    }
    out.insert(out.end(), stream.rest.begin(), stream.rest.end());
    return out;
}

// Mutates `bytes` in place with libFuzzer's mutations, growing it by at most `room`.
void mutate_bytes(Bytes& bytes, std::size_t room) {
    const std::size_t size = bytes.size();
    bytes.resize(size + room);
    bytes.resize(LLVMFuzzerMutate(bytes.data(), size, size + room));
}

// The payload of a block stored with `code`: the varint of its size, then the codec's output.
Bytes compress_payload(std::uint8_t code, const Bytes& plain) {
    const dral_core::Codec& codec =
        dral_core::codec_for(static_cast<dral_core::CompressionType>(code));
    dral_core::CodecState state;
    Bytes out(dral_core::kMaxVarintBytes + codec.bound(plain.size()));
    const std::size_t prefix = dral_core::write_varint(out.data(), plain.size());
    const std::size_t written = codec.compress(state, plain, out.data() + prefix);
    out.resize(prefix + written);
    return out;
}

// The content of a compressed payload, when it decompresses.
std::optional<Bytes> decompress_payload(std::uint8_t code, const Bytes& payload) {
    auto size = dral_core::decode_varint(payload, 0);
    if (!size || size->value > (1u << 24)) return std::nullopt;
    const dral_core::Codec& codec =
        dral_core::codec_for(static_cast<dral_core::CompressionType>(code));
    dral_core::ByteBuffer out;
    std::span<const std::uint8_t> packed(payload.data() + size->length,
                                         payload.size() - size->length);
    if (!codec.decompress(packed, size->value, out)) return std::nullopt;
    return Bytes(out.data(), out.data() + out.size());
}

bool compressed(const Block& block) {
    return block.compression >= 1 && block.compression <= dral_core::kMaxCompressionCode;
}

}  // namespace

std::size_t mutate_stream(std::uint8_t* data, std::size_t size, std::size_t max_size,
                          unsigned seed) {
    std::minstd_rand random(seed);
    Stream stream = split({data, size});
    // Now and then plain bytes, to reach the block framing and the checksum checks themselves.
    if (stream.blocks.empty() || random() % 16 == 0) return LLVMFuzzerMutate(data, size, max_size);

    Block& block = stream.blocks[random() % stream.blocks.size()];
    switch (random() % 16) {
        case 0: {
            static constexpr std::uint8_t kTypes[] = {0, 1, 2, 3, 4, 5, 254};
            block.type = kTypes[random() % std::size(kTypes)];
            break;
        }
        case 1:
            block.compression = static_cast<std::uint8_t>(random() % 5);
            break;
        case 2:
            if (stream.blocks.size() > 1) {
                stream.blocks.erase(stream.blocks.begin() + random() % stream.blocks.size());
            } else {
                Block copy = block;
                stream.blocks.push_back(std::move(copy));
            }
            break;
        case 3:
            stream.ended = !stream.ended;
            break;
        // Compressed blocks, valid ones too, so that the codecs and the values behind them are
        // reached and not only the checksum.
        case 4:
            if (!compressed(block)) {
                const auto code = static_cast<std::uint8_t>(1 + random() % 3);
                block.payload = compress_payload(code, block.payload);
                block.compression = code;
            }
            break;
        case 5:
            if (compressed(block)) {
                if (auto plain = decompress_payload(block.compression, block.payload)) {
                    const std::size_t used = size - block.payload.size();
                    if (used < max_size) mutate_bytes(*plain, (max_size - used) * 4);
                    block.payload = compress_payload(block.compression, *plain);
                }
            }
            break;
        case 6:
            if (compressed(block)) {  // a declared size that lies
                auto declared = dral_core::decode_varint(block.payload, 0);
                if (!declared) break;
                std::uint64_t lie = declared->value + (random() % 2 ? 1 : -1);
                if (random() % 4 == 0) lie = random();
                Bytes payload(dral_core::kMaxVarintBytes);
                payload.resize(dral_core::write_varint(payload.data(), lie));
                payload.insert(payload.end(), block.payload.begin() + declared->length,
                               block.payload.end());
                block.payload = std::move(payload);
            }
            break;
        default: {
            const std::size_t used = size - block.payload.size();
            if (used >= max_size) return LLVMFuzzerMutate(data, size, max_size);
            mutate_bytes(block.payload, max_size - used);
            break;
        }
    }
    const Bytes out = join(stream);
    // Longer headers or an added end block may not fit: then plain bytes after all.
    if (out.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

}  // namespace dral_fuzz
