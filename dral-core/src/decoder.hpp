// Reads a Dral stream from a borrowed byte slice, one top-level value at a time, under the
// reading limits. Values are produced through a sink so that one reader serves both the Value
// tree and direct builders (the Python binding's): the bytes decide every result and every error,
// whatever the sink builds.
//
// A sink provides a movable `Node` type and:
//   bool failed(const Node&)            a sink may refuse a node (its own failure); the reader
//                                       then stops and hands that node back unchanged
//   Node null(), boolean(bool), uint(u64), integer(i64), floating(double)
//   Node str(string_view, bool ascii, size_t table_index)   a string read in full; a sink with
//                                       kValidatesUtf8 checks non-ASCII text itself and, on
//                                       invalid UTF-8, fails the node and answers true to
//                                       take_utf8_rejection(); others get valid text only
//   Node table_str(size_t table_index, string_view)         a string reference
//   Node bytes(const uint8_t*, size_t)
//   Node begin_array(size_t capacity); bool set_item(Node& array, size_t index, Node item)
//   Node begin_object(size_t capacity); bool set_entry(Node& object, string_view key,
//                                                      bool ascii, Node value)
// `capacity` is how many elements the sink may allocate up front: all capacities together never
// exceed what the block could hold. Items arrive with indices 0, 1, 2...; an index at or past
// the capacity must be appended. When set_item or set_entry refuse, the reader returns a
// default-constructed Node, which such a sink must report as failed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "checksum.hpp"
#include "error.hpp"
#include "limits.hpp"
#include "nesting.hpp"
#include "string_table.hpp"
#include "utf8.hpp"
#include "value.hpp"
#include "varint.hpp"

namespace dral_core {

class Decoder {
public:
    Decoder(std::span<const std::uint8_t> input, DecodeLimits limits);

    // The next top-level value, or nothing once the stream ended cleanly: at a block boundary
    // or at the end block's type byte. Running out of input anywhere else is an error.
    template <class Sink>
    Result<std::optional<typename Sink::Node>> decode_next(Sink& sink);

    Result<std::optional<Value>> decode_next_owned();
    Result<std::vector<Value>> decode_all_owned();

private:
    struct Block {
        std::uint8_t type;
        std::size_t start;
        std::size_t end;
    };

    Result<std::optional<Block>> read_next_block();
    Result<bool> enter_next_data_block();
    Status check_block_checksum(std::uint64_t stored, std::size_t start, std::size_t end) const;
    Status read_compressed_block(std::uint8_t compression, std::size_t start,
                                 std::size_t end) const;

    template <class Sink>
    Result<typename Sink::Node> read_value(Sink& sink);
    template <class Sink>
    Result<typename Sink::Node> read_blob(Sink& sink);
    template <class Sink>
    Result<typename Sink::Node> read_array(Sink& sink);
    template <class Sink>
    Result<typename Sink::Node> read_object(Sink& sink);

    // Varints inside a data block never read past the block.
    Result<std::uint64_t> read_block_varint() {
        DRAL_ASSIGN_OR_RETURN(auto varint, decode_varint(input_.first(block_end_), cursor_));
        cursor_ += varint.length;
        return varint.value;
    }
    Status enter_container() {
        if (depth_ >= max_depth_) [[unlikely]]
            return fail(DralError::depth_exceeded(depth_, max_depth_));
        return {};
    }
    std::size_t remaining() const { return block_end_ - cursor_; }

    // Room a container of `count` elements of at least `element_size` bytes each may have
    // allocated up front. The bytes promised to the unread elements of enclosing containers
    // are not available to it, so all preallocation together stays within the block however
    // the containers nest: declared counts never drive allocation.
    std::size_t reserve_room(std::uint64_t count, std::size_t element_size) {
        std::size_t available = remaining() > reserved_bytes_ ? remaining() - reserved_bytes_ : 0;
        std::size_t capacity = std::min<std::uint64_t>(count, available / element_size);
        reserved_bytes_ += capacity * element_size;
        return capacity;
    }

    std::span<const std::uint8_t> input_;
    DecodeLimits limits_;
    std::uint64_t max_depth_;
    std::size_t position_ = 0;  // of the next block header
    bool in_block_ = false;
    std::size_t cursor_ = 0;
    std::size_t block_end_ = 0;
    std::size_t depth_ = 0;
    std::size_t reserved_bytes_ = 0;
    std::uint64_t memory_used_ = 0;
    bool dictionary_pending_ = false;
    std::vector<char> dictionary_storage_;
    StringTable table_;
};

template <class Sink>
Result<std::optional<typename Sink::Node>> Decoder::decode_next(Sink& sink) {
    if (!in_block_ || cursor_ >= block_end_) {
        DRAL_ASSIGN_OR_RETURN(bool found, enter_next_data_block());
        if (!found) return std::nullopt;
    }
    DRAL_ASSIGN_OR_RETURN(auto node, read_value(sink));
    return std::optional<typename Sink::Node>(std::move(node));
}

template <class Sink>
Result<typename Sink::Node> Decoder::read_value(Sink& sink) {
    if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
    std::uint8_t tag = input_[cursor_++];
    switch (static_cast<WireType>(tag & 0x0F)) {
        case WireType::Null:
            return sink.null();
        case WireType::Bool:
            if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
            return sink.boolean(input_[cursor_++] != 0);
        case WireType::VarUInt: {
            DRAL_ASSIGN_OR_RETURN(std::uint64_t u, read_block_varint());
            return sink.uint(u);
        }
        case WireType::VarInt: {
            DRAL_ASSIGN_OR_RETURN(std::uint64_t u, read_block_varint());
            return sink.integer(zigzag_decode(u));
        }
        case WireType::Float64: {
            if (remaining() < 8) return fail(DralError::unexpected_eof(cursor_));
            std::uint64_t bits = load_u64_le(input_.data() + cursor_);
            cursor_ += 8;
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return sink.floating(d);
        }
        case WireType::Blob:
            return read_blob(sink);
        case WireType::StringRef: {
            DRAL_ASSIGN_OR_RETURN(std::uint64_t index, read_block_varint());
            if (index >= table_.size())
                return fail(DralError::invalid_reference(index, table_.size()));
            return sink.table_str(index, table_[index]);
        }
        case WireType::ArrayStart:
            return read_array(sink);
        case WireType::ObjectStart:
            return read_object(sink);
        default:
            return fail(DralError::invalid_wire_type(tag));
    }
}

template <class Sink>
Result<typename Sink::Node> Decoder::read_blob(Sink& sink) {
    if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
    std::uint8_t subtype = input_[cursor_++];
    DRAL_ASSIGN_OR_RETURN(std::uint64_t length, read_block_varint());
    if (length > limits_.max_string_length)
        return fail(DralError::string_too_long(length, limits_.max_string_length));
    memory_used_ = memory_used_ + length < memory_used_ ? UINT64_MAX : memory_used_ + length;
    if (memory_used_ > limits_.max_memory)
        return fail(DralError::memory_limit_exceeded(memory_used_, limits_.max_memory));
    if (length > remaining()) {
        std::uint64_t data_end = cursor_ + length < cursor_ ? UINT64_MAX : cursor_ + length;
        return fail(DralError::unexpected_eof(data_end));
    }
    const std::uint8_t* data = input_.data() + cursor_;
    std::size_t start = cursor_;
    cursor_ += length;
    if (subtype != 0) return sink.bytes(data, length);

    std::string_view text(reinterpret_cast<const char*>(data), length);
    bool ascii = is_ascii(data, length);
    if constexpr (Sink::kValidatesUtf8) {
        auto node = sink.str(text, ascii, table_.size());
        if (!ascii && sink.failed(node) && sink.take_utf8_rejection())
            return fail(DralError::invalid_utf8(start));
        table_.push_back(text);
        return node;
    } else {
        if (!ascii && !is_valid_utf8(data, length)) return fail(DralError::invalid_utf8(start));
        table_.push_back(text);
        return sink.str(text, ascii, table_.size() - 1);
    }
}

template <class Sink>
Result<typename Sink::Node> Decoder::read_array(Sink& sink) {
    DRAL_TRY(enter_container());
    DRAL_ASSIGN_OR_RETURN(std::uint64_t count, read_block_varint());
    if (count > limits_.max_items) return fail(DralError::too_many_items(count, limits_.max_items));
    // Each item takes at least one byte.
    std::size_t capacity = reserve_room(count, 1);
    auto array = sink.begin_array(capacity);
    if (sink.failed(array)) return array;
    ++depth_;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i < capacity) reserved_bytes_ -= 1;
        DRAL_ASSIGN_OR_RETURN(auto item, read_value(sink));
        if (sink.failed(item)) return item;
        if (!sink.set_item(array, i, std::move(item))) return typename Sink::Node();
    }
    --depth_;
    if (cursor_ < block_end_ && input_[cursor_] == static_cast<std::uint8_t>(WireType::ArrayEnd))
        ++cursor_;
    return array;
}

template <class Sink>
Result<typename Sink::Node> Decoder::read_object(Sink& sink) {
    DRAL_TRY(enter_container());
    DRAL_ASSIGN_OR_RETURN(std::uint64_t count, read_block_varint());
    if (count > limits_.max_items) return fail(DralError::too_many_items(count, limits_.max_items));
    // Each entry takes at least two bytes (key length and tag).
    std::size_t capacity = reserve_room(count, 2);
    auto object = sink.begin_object(capacity);
    if (sink.failed(object)) return object;
    ++depth_;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i < capacity) reserved_bytes_ -= 2;
        DRAL_ASSIGN_OR_RETURN(std::uint64_t key_length, read_block_varint());
        if (key_length > remaining()) {
            std::uint64_t key_end =
                cursor_ + key_length < cursor_ ? UINT64_MAX : cursor_ + key_length;
            return fail(DralError::unexpected_eof(key_end));
        }
        const std::uint8_t* key = input_.data() + cursor_;
        Utf8Class utf8 = classify_utf8(key, key_length);
        if (utf8 == Utf8Class::Invalid) return fail(DralError::invalid_utf8(cursor_));
        cursor_ += key_length;
        DRAL_ASSIGN_OR_RETURN(auto value, read_value(sink));
        if (sink.failed(value)) return value;
        std::string_view key_text(reinterpret_cast<const char*>(key), key_length);
        if (!sink.set_entry(object, key_text, utf8 == Utf8Class::Ascii, std::move(value)))
            return typename Sink::Node();
    }
    --depth_;
    if (cursor_ < block_end_ && input_[cursor_] == static_cast<std::uint8_t>(WireType::ObjectEnd))
        ++cursor_;
    return object;
}

}  // namespace dral_core
