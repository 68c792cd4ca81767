// Streams of one block and of many, written by fresh encoders and by reset ones, and read back
// with their stream checksum: a stream of one block is hashed in one go, one of several blocks
// piecewise, from the first large or closed block on.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dral_core/base/byte_order.hpp"
#include "dral_core/binary/decoder.hpp"
#include "dral_core/binary/encoder.hpp"

namespace dral_core {
namespace {

struct Case {
    const char* name;
    std::vector<std::size_t> string_sizes;  // one top-level string value each
    std::size_t block_threshold;            // SIZE_MAX: one block
};

const Case kCases[] = {
    {"one small block", {1, 5}, SIZE_MAX},
    {"one block large enough to be hashed with the stream", {40000}, SIZE_MAX},
    {"small blocks", {1, 2, 3}, 1},
    {"a large block between small ones", {10, 40000, 10}, 1},
    {"large blocks", {20000, 30000}, 1},
};

std::vector<Value> values_of(const Case& c) {
    std::vector<Value> values;
    for (std::size_t i = 0; i < c.string_sizes.size(); ++i)
        values.push_back(Value::str(std::string(c.string_sizes[i], static_cast<char>('a' + i))));
    return values;
}

ByteBuffer encode(Encoder& encoder, const Case& c) {
    encoder.set_block_threshold(c.block_threshold);
    for (const Value& value : values_of(c)) EXPECT_TRUE(encoder.encode_value(value));
    return encoder.finish();
}

std::vector<std::uint8_t> bytes_of(const ByteBuffer& buffer) {
    return {buffer.data(), buffer.data() + buffer.size()};
}

class EncoderReuse : public ::testing::TestWithParam<Case> {};

TEST_P(EncoderReuse, ResetEncoderWritesWhatAFreshOneWrites) {
    const Case& c = GetParam();
    Encoder fresh;
    const auto expected = bytes_of(encode(fresh, c));
    // A reset encoder that wrote a stream of many blocks before, and one of a single block.
    for (const Case& before : {kCases[3], kCases[0]}) {
        Encoder reused;
        encode(reused, before);
        reused.reset();
        EXPECT_EQ(bytes_of(encode(reused, c)), expected) << "after " << before.name;
    }
}

TEST_P(EncoderReuse, StreamReadsBackWithItsChecksum) {
    const Case& c = GetParam();
    Encoder encoder;
    auto stream = bytes_of(encode(encoder, c));
    auto values = Decoder(stream, DecodeLimits()).decode_all_owned();
    ASSERT_TRUE(values) << values.error().message();
    ASSERT_EQ(values->size(), c.string_sizes.size());
    for (std::size_t i = 0; i < values->size(); ++i)
        EXPECT_EQ((*values)[i].as_str(), values_of(c)[i].as_str());
    // A flipped bit in the last data block, whose own checksum is mended: only the stream
    // checksum tells.
    std::size_t last = 0;
    for (std::size_t at = 0; stream[at] != static_cast<std::uint8_t>(BlockType::End);) {
        last = at;
        at += peek_block_header(std::span(stream).subspan(at))->total();
    }
    const BlockHeader block = *peek_block_header(std::span(stream).subspan(last));
    const std::size_t payload = last + block.header_size;
    stream[payload + block.payload_length - 1] ^= 1;
    store_u64_le(stream.data() + payload - kChecksumSize,
                 xxh64(std::span(stream).subspan(payload, block.payload_length)));
    auto damaged = Decoder(stream, DecodeLimits()).decode_all_owned();
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.error().kind(), ErrorKind::ChecksumMismatch) << damaged.error().message();
}

INSTANTIATE_TEST_SUITE_P(Streams, EncoderReuse, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p != 0; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

}  // namespace
}  // namespace dral_core
