// The decoder's value reader, included by decoder.hpp (its templates must be visible to every
// sink's translation unit).
#pragma once

#include "dral_core/base/byte_order.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/binary/decoder.hpp"

namespace dral_core {

// Containers are read with an explicit stack of the open ones rather than by recursion, so the
// nesting of the input never decides the depth of the call stack.
template <KnownCountSink Sink>
Result<typename Sink::Node> Decoder::read_value(Sink& sink) {
    using Node = typename Sink::Node;
    struct Open {
        FrameOf<Sink, KnownCount> container;
        std::uint64_t count;
        std::uint64_t next;  // index of the element being read
        std::size_t capacity;
        bool object;
        std::string_view key;
        bool key_ascii;
    };
    SmallStack<Open, 16> open;
    while (true) {
        if (!open.empty()) {
            Open& parent = open.back();
            if (parent.next < parent.capacity) reserved_bytes_ -= parent.object ? 2 : 1;
            if (parent.object) DRAL_TRY(read_key(parent.key, parent.key_ascii));
        }
        if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
        std::uint8_t tag = data_[cursor_++];
        auto type = static_cast<WireType>(tag & 0x0F);
        Node value;
        if (type == WireType::ArrayStart || type == WireType::ObjectStart) {
            bool object = type == WireType::ObjectStart;
            DRAL_TRY(enter_container());
            DRAL_ASSIGN_OR_RETURN(std::uint64_t count, read_block_varint());
            if (count > limits_.max_items)
                return fail(DralError::too_many_items(count, limits_.max_items));
            // Charged before anything is allocated for the elements, at what they cost at least.
            DRAL_TRY(memory_.charge_each(kContainerCost, count,
                                         object ? kValueCost + kEntryCost : kValueCost));
            // An item takes at least one byte, an entry two (key length and tag).
            std::size_t capacity = reserve_room(count, object ? 2 : 1);
            auto container = object ? sink.begin_object(KnownCount{capacity})
                                    : sink.begin_array(KnownCount{capacity});
            if (sink.failed(container)) return Node();
            ++depth_;
            if (count != 0) {
                open.emplace_back(std::move(container), count, std::uint64_t{0}, capacity, object,
                                  std::string_view(), false);
                continue;
            }
            leave_container(object ? WireType::ObjectEnd : WireType::ArrayEnd);
            value = object ? sink.end_object(container) : sink.end_array(container);
        } else {
            DRAL_ASSIGN_OR_RETURN(value, read_scalar(sink, tag));
            if (sink.failed(value)) return value;
        }
        // Hand the complete value to its container, closing every container that completes.
        while (true) {
            if (open.empty()) return value;
            Open& parent = open.back();
            bool stored;
            if (parent.object) {
                // Made once its value stands: until then the key is a view into the block.
                auto key = sink.key(parent.key, parent.key_ascii);
                stored = !sink.failed(key) &&
                         sink.add_entry(parent.container, std::move(key), std::move(value));
            } else {
                stored = sink.add_item(parent.container, parent.next, std::move(value));
            }
            if (!stored) return Node();
            if (++parent.next < parent.count) break;
            leave_container(parent.object ? WireType::ObjectEnd : WireType::ArrayEnd);
            value = parent.object ? sink.end_object(parent.container)
                                  : sink.end_array(parent.container);
            open.pop_back();
        }
    }
}

template <KnownCountSink Sink>
Result<typename Sink::Node> Decoder::read_scalar(Sink& sink, std::uint8_t tag) {
    switch (static_cast<WireType>(tag & 0x0F)) {
        case WireType::Null:
            return sink.null();
        case WireType::Bool:
            if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
            return sink.boolean(data_[cursor_++] != 0);
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
            std::uint64_t bits = load_u64_le(data_ + cursor_);
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
            std::string_view text = table_[index];
            DRAL_TRY(memory_.charge(kStringCost + text.size()));
            // Checked as the dictionary or the inline string that put it there was.
            return sink.str(text, false);
        }
        default:  // the end tags and codes 11 to 15
            return fail(DralError::invalid_wire_type(tag));
    }
}

template <KnownCountSink Sink>
Result<typename Sink::Node> Decoder::read_blob(Sink& sink) {
    if (cursor_ >= block_end_) return fail(DralError::unexpected_eof(cursor_));
    std::uint8_t subtype = data_[cursor_++];
    DRAL_ASSIGN_OR_RETURN(std::uint64_t length, read_block_varint());
    if (length > limits_.max_string_length)
        return fail(DralError::string_too_long(length, limits_.max_string_length));
    DRAL_TRY(memory_.charge(kStringCost + length));
    if (length > remaining()) {
        std::uint64_t data_end = cursor_ + length < cursor_ ? UINT64_MAX : cursor_ + length;
        return fail(DralError::unexpected_eof(data_end));
    }
    const std::uint8_t* data = data_ + cursor_;
    std::size_t start = cursor_;
    cursor_ += length;
    if (subtype != 0) return sink.bytes(std::span<const std::uint8_t>(data, length));

    std::string_view text(reinterpret_cast<const char*>(data), length);
    bool ascii = is_ascii(data, length);
    if constexpr (Sink::kValidatesUtf8) {
        auto node = sink.str(text, ascii);
        if (!ascii && sink.failed(node) && sink.take_utf8_rejection())
            return fail(DralError::invalid_utf8(start));
        table_.push_back(text);
        return node;
    } else {
        if (!ascii && !is_valid_utf8(data, length)) return fail(DralError::invalid_utf8(start));
        table_.push_back(text);
        return sink.str(text, ascii);
    }
}

}  // namespace dral_core
