#include "binary/encoder.hpp"

#include <algorithm>

#include "encoding/checksum.hpp"

namespace dral_core {

namespace {
constexpr std::size_t kInitialBufferSize = 4096;
// The streaming checksum's setup costs as much as hashing a small message in one go.
constexpr std::size_t kPiecewiseFrom = 1u << 20;
}  // namespace

Encoder::Encoder() : block_(kInitialBufferSize) {}

Encoder::Encoder(EncoderMemory&& memory)
    : block_(std::move(memory.block)), dedup_memory_(std::move(memory.dedup)) {
    block_.clear();
    if (dedup_memory_) dedup_memory_->strings.clear();
    block_.reserve(kInitialBufferSize);
}

Status Encoder::encode_value(const Value& value) {
    Checkpoint before = checkpoint();
    Status status = encode_value_inner(value);
    if (!status) rollback(before);
    return status;
}

void Encoder::rollback(const Checkpoint& checkpoint) {
    block_.truncate(checkpoint.block_size);
    if (dedup_memory_) dedup_memory_->strings.truncate(checkpoint.strings);
    depth_ = checkpoint.depth;
}

void Encoder::deduplicate_last_str(std::size_t value_start, std::size_t text_offset) {
    std::size_t length = block_.size() - text_offset;
    std::string_view text = block_.view(text_offset, length);
    std::uint64_t hash = StringIndex::hash(text);
    if (!dedup_memory_) dedup_memory_ = std::make_unique<DedupMemory>();
    StringIndex& strings = dedup_memory_->strings;
    std::int64_t found = strings.find(text, hash, block_);
    if (found < 0) {
        strings.insert(hash, text_offset, length);
        return;
    }
    block_.truncate(value_start);
    write_tagged_varint(WireType::StringRef, static_cast<std::uint64_t>(found));
}

// Recursion is bounded by limits_.max_depth: containers deeper than it are refused before
// descending.
Status Encoder::encode_value_inner(const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            write_null();
            return {};
        case Kind::Bool:
            write_bool(value.as_bool());
            return {};
        case Kind::UInt:
            write_uint(value.as_uint());
            return {};
        case Kind::Int:
            write_int(value.as_int());
            return {};
        case Kind::Float:
            write_float(value.as_float());
            return {};
        case Kind::Str:
            write_str(value.as_str());
            return {};
        case Kind::Bytes:
            write_bytes(value.as_bytes());
            return {};
        case Kind::Array: {
            const Array& items = value.as_array();
            DRAL_TRY(begin_array(items.size()));
            for (const Value& item : items) DRAL_TRY(encode_value_inner(item));
            end_array();
            return {};
        }
        case Kind::Object: {
            const Object& entries = value.as_object();
            DRAL_TRY(begin_object(entries.size()));
            for (const auto& [key, entry_value] : entries) {
                write_key(key);
                DRAL_TRY(encode_value_inner(entry_value));
            }
            end_object();
            return {};
        }
    }
    return {};
}

Encoder::Layout Encoder::lay_out() {
    Layout layout;
    if (block_.empty()) return layout;
    if (has_dictionary()) {
        layout.dictionary =
            build_string_dict(dedup_memory_->strings, block_, dedup_memory_->dictionary);
        layout.dictionary_header_size =
            write_block_header(layout.dictionary_header, BlockType::StringDict,
                               layout.dictionary.size(), xxh64(layout.dictionary));
    }
    layout.header_size =
        write_block_header(layout.header, BlockType::Data, block_.size(), xxh64(block_.span()));
    layout.payload = block_.span();
    return layout;
}

void Encoder::write_layout(const Layout& layout, std::uint8_t* out) {
    std::uint8_t* stream = out;
    auto copy = [&](std::span<const std::uint8_t> bytes) {
        if (bytes.empty()) return;
        std::memcpy(out, bytes.data(), bytes.size());
        out += bytes.size();
    };
    copy({layout.dictionary_header, layout.dictionary_header_size});
    copy(layout.dictionary);
    copy({layout.header, layout.header_size});
    if (layout.payload.size() < kPiecewiseFrom) {
        copy(layout.payload);
        write_end_block(out, xxh64({stream, static_cast<std::size_t>(out - stream)}));
        return;
    }
    // A large payload is copied and hashed in cache-sized pieces, so it is read from memory
    // only once here.
    Xxh64Stream stream_checksum;
    stream_checksum.update({stream, static_cast<std::size_t>(out - stream)});
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t done = 0; done < layout.payload.size(); done += kPiece) {
        std::size_t n = std::min(kPiece, layout.payload.size() - done);
        copy(layout.payload.subspan(done, n));
        stream_checksum.update({out - n, n});
    }
    write_end_block(out, stream_checksum.digest());
}

std::size_t Encoder::finish_in_place() {
    if (block_.empty() || has_dictionary() || block_.storage().front < kMaxBlockHeaderSize)
        return 0;
    std::size_t size = block_.size();
    std::uint8_t header[kMaxBlockHeaderSize];
    std::size_t header_size =
        write_block_header(header, BlockType::Data, size, xxh64(block_.span()));
    block_.reserve(size + kEndBlockSize);
    std::uint8_t* stream = block_.data() - kMaxBlockHeaderSize;
    std::memcpy(stream, header, header_size);
    Xxh64Stream stream_checksum;
    stream_checksum.update({stream, header_size});
    // The payload moves down next to its header, in cache-sized pieces hashed as they land;
    // moving forward piece by piece never overwrites bytes still to be moved.
    std::uint8_t* payload = stream + header_size;
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t done = 0; done < size; done += kPiece) {
        std::size_t n = std::min(kPiece, size - done);
        std::memmove(payload + done, block_.data() + done, n);
        stream_checksum.update({payload + done, n});
    }
    write_end_block(payload + size, stream_checksum.digest());
    return header_size + size + kEndBlockSize;
}

ByteBuffer Encoder::finish() {
    ByteBuffer stream;
    finish_into([&](std::size_t size) {
        stream.reserve(size);
        stream.advance(size);
        return stream.data();
    });
    return stream;
}

}  // namespace dral_core
