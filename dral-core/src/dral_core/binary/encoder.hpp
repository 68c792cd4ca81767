// Writes top-level values into data blocks and frames the stream on finish. A block is closed
// between top-level values once it holds the block threshold or more, and a stream below it is
// one block, as it would be without a threshold. The write_*
// primitives are public so that producers other than a Value tree (the Python binding's direct
// path) write exactly the same bytes with exactly the same checks.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/copy_bytes.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/base/long_work.hpp"
#include "dral_core/binary/stream.hpp"
#include "dral_core/binary/string_dict.hpp"
#include "dral_core/binary/string_index.hpp"
#include "dral_core/checksum/xxh64.hpp"
#include "dral_core/compression/codec.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

// What deduplication works in: the index of the block's strings and the dictionary's memory.
struct DedupMemory {
    StringIndex strings;
    StringDictMemory dictionary;
    std::size_t capacity_bytes() const {
        return strings.capacity_bytes() + dictionary.capacity_bytes();
    }
};

// The memory an encoder works in. A finished encoder hands it back for the next one, which then
// neither grows its buffers nor has their pages faulted in again.
struct EncoderMemory {
    EncoderMemory() = default;
    explicit EncoderMemory(ByteBuffer block_buffer) : block(std::move(block_buffer)) {}

    ByteBuffer block;
    std::unique_ptr<DedupMemory> dedup;  // only once a string was deduplicated
    std::size_t capacity_bytes() const {
        return block.capacity() + (dedup ? dedup->capacity_bytes() : 0);
    }
};

class Encoder {
public:
    Encoder();
    // Works in `memory`, recycled from an earlier encoder by take_memory.
    explicit Encoder(EncoderMemory&& memory);

    void set_dedup(bool dedup) {
        // Strings written in full before are in the reader's table but not in the index, so the
        // indices the index gives out from here on resolve only through a dictionary block.
        if (dedup && !dedup_ && !block_.empty()) needs_dictionary_ = true;
        dedup_ = dedup;
    }
    bool dedup() const { return dedup_; }
    void set_compression(CompressionType compression) { compression_ = compression; }
    // The seed of the deduplication index's hash, which callers should draw at random: strings
    // made to collide under one seed do not under another. Only before the first value; the
    // output does not depend on it.
    void set_hash_seed(std::uint64_t seed) {
        hash_seed_ = seed;
        if (dedup_memory_) dedup_memory_->strings.set_seed(seed);
    }
    CompressionType compression() const { return compression_; }
    // Where checksums and compression of large blocks run (by default in place).
    void set_long_work(LongWork* long_work) { long_work_ = long_work; }
    // The size from which a block is closed after the value that filled it (by default never).
    void set_block_threshold(std::size_t bytes) { block_threshold_ = bytes; }

    // Call after each top-level value written with the primitives (encode_value does): closes
    // the block once it reached the threshold.
    void end_value() {
        if (block_.size() >= block_threshold_) [[unlikely]]
            close_block();
    }
    // Closes the current block, if it holds anything: it becomes part of the closed output.
    void close_block();
    // Closed blocks not yet taken; finish gives them with the rest.
    std::span<const std::uint8_t> closed_output() const { return output_.span(); }
    // Hands the closed blocks to `send`, which may take their bytes by swapping in a buffer of
    // its own: the encoder fills next whatever storage `send` leaves, emptied.
    template <class Send>
    auto send_closed_output(Send&& send) {
        auto result = send(output_);
        output_.clear();
        return result;
    }
    const DecodeLimits& limits() const { return limits_; }
    // Containers nested deeper than this are refused (DepthExceeded).
    void set_max_depth(std::uint64_t max_depth) { limits_.max_depth = max_depth; }
    // Bytes of values written so far.
    std::size_t buffered_size() const { return block_.size(); }

    // Appends one top-level value. On failure the encoder is as it was before the call.
    Status encode_value(const Value& value);

    // The complete stream; the encoder must not be used again, except to take its buffer back.
    ByteBuffer finish();

    // The same stream, written to memory from `allocate(size)`, which returns `size` writable
    // bytes or nullptr to give up (then this returns nullptr too).
    template <class Allocate>
    std::uint8_t* finish_into(Allocate allocate) {
        if (closed_checksum_) {
            finish_closed();
            std::uint8_t* out = allocate(output_.size());
            if (out != nullptr) std::memcpy(out, output_.data(), output_.size());
            return out;
        }
        Layout layout = lay_out();
        std::uint8_t* out = allocate(layout.size());
        if (out != nullptr) write_layout(layout, out);
        return out;
    }

    // The same stream laid out inside the block buffer itself, starting where the room its
    // storage keeps in front of the data starts, so that a large stream is never held twice. The
    // payload stays where it is when its header fills that room exactly, and moves otherwise.
    // Returns the stream's size, or 0 when that is not possible (a dictionary block must come
    // first, nothing was encoded, or the storage keeps no room in front): use finish_into.
    std::size_t finish_in_place();

    // Back to the state of a new encoder, keeping its memory.
    void reset();
    // Bytes of the buffers the encoder holds; release_memory gives them all back. A codec's
    // context stays: at one fixed level its size is bounded (zstd's about 1.3 MB), and making it
    // again costs a page fault for every page of it.
    std::size_t memory_bytes() const {
        return block_.capacity() + compressed_.capacity() +
               (dedup_memory_ ? dedup_memory_->capacity_bytes() : 0);
    }
    void release_memory() {
        block_ = ByteBuffer(block_.storage());
        dedup_memory_.reset();
        compressed_ = ByteBuffer();
    }

    // The block buffer, emptied, for reuse by another encoder. After a finish of a large
    // stream it holds no memory worth keeping (see write_layout).
    ByteBuffer take_block_buffer() {
        block_.clear();
        ByteBuffer taken(std::move(block_));
        block_ = ByteBuffer(taken.storage());
        return taken;
    }
    // All of its memory, emptied, for reuse by another encoder.
    EncoderMemory take_memory() {
        block_.clear();
        if (dedup_memory_) dedup_memory_->strings.clear();
        EncoderMemory memory(std::move(block_));
        memory.dedup = std::move(dedup_memory_);
        return memory;
    }

    // Undo support for producers that may fail half-way through a value.
    struct Checkpoint {
        std::size_t block_size;
        std::size_t strings;
        std::size_t depth;
    };
    Checkpoint checkpoint() const {
        return {block_.size(), dedup_memory_ ? dedup_memory_->strings.size() : 0, depth_};
    }
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
        store_float(block_.prepare(9), d);
        block_.advance(9);
    }
    // An array of `count` floats, `value(i)` each, in one piece: no capacity check per value and
    // no nesting to follow. The same checks and bytes as begin_array, the floats and end_array.
    template <class Value>
    Status write_float_array(std::size_t count, Value value) {
        if (depth_ >= limits_.max_depth) [[unlikely]]
            return fail(DralError::depth_exceeded(depth_, limits_.max_depth));
        if (count > limits_.max_items) [[unlikely]]
            return fail(DralError::too_many_items(count, limits_.max_items));
        std::uint8_t* const start = block_.prepare(2 + kMaxVarintBytes + 9 * count);
        std::uint8_t* out = start;
        *out++ = tag(WireType::ArrayStart);
        out += write_varint(out, count);
        out = write_floats(out, count, value);
        *out++ = tag(WireType::ArrayEnd);
        block_.advance(static_cast<std::size_t>(out - start));
        return {};
    }

    // Runs of numbers, written without a capacity check per value: at most `count` values, each
    // one that `next(i, value)` gives; the run ends at the first it refuses. Both return how many
    // were written.
    template <class Next>
    std::size_t write_float_run(std::size_t count, Next next) {
        std::uint8_t* const start = block_.prepare(count * 9);
        std::size_t n = 0;
        for (double d; n < count && next(n, d); ++n) store_float(start + 9 * n, d);
        block_.advance(9 * n);
        return n;
    }
    template <class Next>
    std::size_t write_int_run(std::size_t count, Next next) {
        std::uint8_t* const start = block_.prepare(count * (1 + kMaxVarintBytes));
        std::uint8_t* out = start;
        std::size_t n = 0;
        for (std::int64_t i; n < count && next(n, i); ++n) {
            out[0] = i < 0 ? tag(WireType::VarInt) : tag(WireType::VarUInt);
            out +=
                1 + write_varint(out + 1, i < 0 ? zigzag_encode(i) : static_cast<std::uint64_t>(i));
        }
        block_.advance(static_cast<std::size_t>(out - start));
        return n;
    }

    void write_str(std::string_view text) {
        write_str_in_place(text.size(),
                           [&](std::uint8_t* out) { copy_bytes(out, text.data(), text.size()); });
    }
    // A string of `utf8_length` bytes that `fill(out)` writes as UTF-8 straight into the block.
    template <class Fill>
    void write_str_in_place(std::size_t utf8_length, Fill fill) {
        std::size_t value_start = block_.size();
        std::uint8_t* out = block_.prepare(2 + kMaxVarintBytes + utf8_length);
        out[0] = tag(WireType::Blob);
        out[1] = 0;
        std::size_t header = 2 + write_varint(out + 2, utf8_length);
        fill(out + header);
        block_.advance(header + utf8_length);
        if (dedup_) deduplicate_last_str(value_start, value_start + header);
    }
    void write_bytes(std::span<const std::uint8_t> bytes) {
        std::uint8_t* out = block_.prepare(2 + kMaxVarintBytes + bytes.size());
        out[0] = tag(WireType::Blob);
        out[1] = 1;
        std::size_t header = 2 + write_varint(out + 2, bytes.size());
        if (!bytes.empty()) std::memcpy(out + header, bytes.data(), bytes.size());
        block_.advance(header + bytes.size());
    }
    Status begin_array(std::uint64_t count) { return begin_container(WireType::ArrayStart, count); }
    void end_array() { end_container(WireType::ArrayEnd); }
    Status begin_object(std::uint64_t count) {
        return begin_container(WireType::ObjectStart, count);
    }
    void write_key(std::string_view key) {
        std::uint8_t* out = block_.prepare(kMaxVarintBytes + key.size());
        std::size_t n = write_varint(out, key.size());
        copy_bytes(out + n, key.data(), key.size());
        block_.advance(n + key.size());
    }
    void end_object() { end_container(WireType::ObjectEnd); }
    // Sets the count of the container begun when `start` bytes were buffered, for producers
    // whose source changed size while it was written; what follows moves when the count's
    // varint changes length.
    Status recount_container(std::size_t start, std::uint64_t count);

private:
    static constexpr std::uint8_t tag(WireType type) { return static_cast<std::uint8_t>(type); }

    void write_tagged_varint(WireType type, std::uint64_t value) {
        std::uint8_t* out = block_.prepare(1 + kMaxVarintBytes);
        out[0] = tag(type);
        block_.advance(1 + write_varint(out + 1, value));
    }
    // A string value just written in full from `value_start` becomes a reference when the
    // same text was written before.
    void deduplicate_last_str(std::size_t value_start, std::size_t text_offset);
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
    // A tagged float: nine bytes at `out`.
    static void store_float(std::uint8_t* out, double d) {
        out[0] = tag(WireType::Float64);
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        store_u64_le(out + 1, bits);
    }
    // `count` tagged floats, `value(i)` each, from `out`; returns where they end.
    template <class Value>
    static std::uint8_t* write_floats(std::uint8_t* out, std::size_t count, Value value) {
        for (std::size_t i = 0; i < count; ++i, out += 9) store_float(out, value(i));
        return out;
    }
    Status encode_value_inner(const Value& value);
    std::uint64_t checksum_of(std::span<const std::uint8_t> bytes) {
        std::uint64_t checksum = 0;
        run_long_work(long_work_, bytes.size(), [&] { checksum = xxh64(bytes); });
        return checksum;
    }
    // A block whose references follow the order in which its strings were first written in full
    // needs no dictionary: readers number those strings the same way.
    bool has_dictionary() const {
        return needs_dictionary_ && dedup_ && dedup_memory_ && !dedup_memory_->strings.empty();
    }
    // The block compressed into compressed_ (the varint of its size, then the codec's output);
    // false when that would not be smaller than the block, which is then stored as it is.
    bool compress_block();

    // The finished stream: the dictionary block (if any), the data block (if anything was
    // encoded), and the end block. Their headers are written straight where they go.
    struct Layout {
        std::span<const std::uint8_t> dictionary;  // never empty in a dictionary block
        std::uint64_t dictionary_checksum = 0;
        std::span<const std::uint8_t> payload;  // the block buffer, or its compressed form
        std::uint64_t payload_checksum = 0;
        CompressionType compression = CompressionType::None;
        std::size_t headers_size() const {
            return (dictionary.empty() ? 0 : block_header_size(dictionary.size())) +
                   (payload.empty() ? 0 : block_header_size(payload.size()));
        }
        std::size_t size() const {
            return headers_size() + dictionary.size() + payload.size() + kEndBlockSize;
        }
    };
    Layout lay_out();
    void write_layout(const Layout& layout, std::uint8_t* out);
    // The blocks' headers and the dictionary's payload at `out`; returns where they end.
    static std::uint8_t* write_headers(const Layout& layout, std::uint8_t* out);
    // The blocks of `layout` at `out`, their bytes added to `checksum`; returns where they end.
    std::uint8_t* write_blocks(const Layout& layout, std::uint8_t* out, Xxh64Stream& checksum);
    // The rest of a stream some blocks of which were closed: the last block, then the end block.
    void finish_closed();
    // A new block: an empty buffer, no strings known.
    void start_block();

    ByteBuffer block_;
    std::unique_ptr<DedupMemory> dedup_memory_;  // made when the first string is deduplicated
    ByteBuffer compressed_;
    CodecState codec_state_;
    std::size_t depth_ = 0;
    DecodeLimits limits_;
    bool dedup_ = false;
    bool needs_dictionary_ = false;
    CompressionType compression_ = CompressionType::None;
    std::size_t block_threshold_ = SIZE_MAX;
    ByteBuffer output_;  // closed blocks
    // The stream checksum of every closed block; none while no block was closed, as a stream of
    // one block is hashed in one go when it is finished.
    std::optional<Xxh64Stream> closed_checksum_;
    LongWork* long_work_ = nullptr;
    std::uint64_t hash_seed_ = 0;
};

}  // namespace dral_core
