// Writes top-level values into one data block and frames the stream on finish. The write_*
// primitives are public so that producers other than a Value tree (the Python binding's direct
// path) write exactly the same bytes with exactly the same checks.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "byte_buffer.hpp"
#include "error.hpp"
#include "limits.hpp"
#include "stream.hpp"
#include "string_index.hpp"
#include "value.hpp"
#include "varint.hpp"

namespace dral_core {

class Encoder {
public:
    Encoder();

    void set_dedup(bool dedup) { dedup_ = dedup; }
    bool dedup() const { return dedup_; }
    void set_compression(CompressionType compression) { compression_ = compression; }
    CompressionType compression() const { return compression_; }
    const DecodeLimits& limits() const { return limits_; }

    // Appends one top-level value. On failure the encoder is as it was before the call.
    Status encode_value(const Value& value);

    // The complete stream; the encoder is left empty and must not be used again.
    ByteBuffer finish();

    // Undo support for producers that may fail half-way through a value.
    struct Checkpoint {
        std::size_t block_size;
        std::size_t strings;
        std::size_t depth;
    };
    Checkpoint checkpoint() const { return {block_.size(), strings_.size(), depth_}; }
    void rollback(const Checkpoint& checkpoint);

    // Primitives: one call per value or container boundary.
    void write_null() { block_.push_back(tag(WireType::Null)); }
    void write_bool(bool b) {
        std::uint8_t* out = block_.prepare(2);
        out[0] = tag(WireType::Bool);
        out[1] = b ? 1 : 0;
        block_.advance(2);
    }
    void write_uint(std::uint64_t u) { write_tagged_varint(WireType::VarUInt, u); }
    void write_int(std::int64_t i) { write_tagged_varint(WireType::VarInt, zigzag_encode(i)); }
    void write_float(double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        block_.push_back(tag(WireType::Float64));
        block_.append_u64_le(bits);
    }
    void write_str(std::string_view text) {
        if (dedup_) {
            write_deduplicated_str(text);
            return;
        }
        write_blob(0, text.data(), text.size());
    }
    void write_bytes(std::span<const std::uint8_t> bytes) {
        write_blob(1, bytes.data(), bytes.size());
    }
    Status begin_array(std::uint64_t count) { return begin_container(WireType::ArrayStart, count); }
    void end_array() { end_container(WireType::ArrayEnd); }
    Status begin_object(std::uint64_t count) {
        return begin_container(WireType::ObjectStart, count);
    }
    void write_key(std::string_view key) {
        std::uint8_t* out = block_.prepare(kMaxVarintBytes + key.size());
        std::size_t n = write_varint(out, key.size());
        std::memcpy(out + n, key.data(), key.size());
        block_.advance(n + key.size());
    }
    void end_object() { end_container(WireType::ObjectEnd); }

private:
    static constexpr std::uint8_t tag(WireType type) { return static_cast<std::uint8_t>(type); }

    void write_tagged_varint(WireType type, std::uint64_t value) {
        std::uint8_t* out = block_.prepare(1 + kMaxVarintBytes);
        out[0] = tag(type);
        block_.advance(1 + write_varint(out + 1, value));
    }
    // Tag, subtype, length, bytes; returns the offset of the bytes in the block.
    std::size_t write_blob(std::uint8_t subtype, const void* data, std::size_t length) {
        std::uint8_t* out = block_.prepare(2 + kMaxVarintBytes + length);
        out[0] = tag(WireType::Blob);
        out[1] = subtype;
        std::size_t header = 2 + write_varint(out + 2, length);
        if (length != 0) std::memcpy(out + header, data, length);
        std::size_t offset = block_.size() + header;
        block_.advance(header + length);
        return offset;
    }
    void write_deduplicated_str(std::string_view text);
    Status begin_container(WireType type, std::uint64_t count) {
        if (depth_ >= limits_.max_depth) [[unlikely]]
            return fail(DralError::depth_exceeded(depth_, limits_.max_depth));
        if (count > limits_.max_items) [[unlikely]]
            return fail(DralError::too_many_items(count, limits_.max_items));
        write_tagged_varint(type, count);
        ++depth_;
        return {};
    }
    void end_container(WireType type) {
        --depth_;
        block_.push_back(tag(type));
    }
    Status encode_value_inner(const Value& value);
    void flush_block();

    ByteBuffer output_;
    ByteBuffer block_;
    StringIndex strings_;
    std::size_t depth_ = 0;
    DecodeLimits limits_;
    bool dedup_ = false;
    CompressionType compression_ = CompressionType::None;
};

}  // namespace dral_core
