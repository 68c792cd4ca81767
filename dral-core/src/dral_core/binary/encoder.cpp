#include "dral_core/binary/encoder.hpp"

#include <algorithm>

#include "dral_core/base/small_stack.hpp"
#include "dral_core/checksum/xxh64.hpp"

namespace dral_core {

namespace {
constexpr std::size_t kInitialBufferSize = 4096;
// The piecewise checksum's setup costs as much as hashing a small message in one go.
constexpr std::size_t kMoveAndHashFrom = 4096;
}  // namespace

Encoder::Encoder() : block_(kInitialBufferSize) {}

Encoder::Encoder(EncoderMemory&& memory)
    : block_(std::move(memory.block)), dedup_memory_(std::move(memory.dedup)) {
    block_.clear();
    if (dedup_memory_) dedup_memory_->strings.clear();
    block_.reserve(kInitialBufferSize);
}

void Encoder::reset() {
    block_.clear();
    block_.reserve(kInitialBufferSize);
    if (dedup_memory_) dedup_memory_->strings.clear();
    depth_ = 0;
    limits_ = DecodeLimits();
    dedup_ = false;
    needs_dictionary_ = false;
    compression_ = CompressionType::None;
    block_threshold_ = SIZE_MAX;
    output_.clear();
    closed_checksum_.reset();
}

void Encoder::start_block() {
    block_.clear();
    if (dedup_memory_) dedup_memory_->strings.clear();
    needs_dictionary_ = false;
}

Status Encoder::encode_value(const Value& value) {
    Checkpoint before = checkpoint();
    Status status = encode_value_inner(value);
    if (!status) {
        rollback(before);
        return status;
    }
    end_value();
    return status;
}

void Encoder::rollback(const Checkpoint& checkpoint) {
    block_.truncate(checkpoint.block_size);
    if (dedup_memory_) dedup_memory_->strings.truncate(checkpoint.strings, block_);
    depth_ = checkpoint.depth;
}

Status Encoder::recount_container(std::size_t start, std::uint64_t count) {
    if (count > limits_.max_items) return fail(DralError::too_many_items(count, limits_.max_items));
    const std::size_t at = start + 1;  // after the tag
    auto old = decode_varint(block_.span(), at);
    if (!old) return fail(old.error());
    const std::size_t length = varint_size(count), rest = at + old->length;
    if (length != old->length) {
        const std::size_t tail = block_.size() - rest;
        if (length > old->length) block_.prepare(length - old->length);
        std::memmove(block_.data() + at + length, block_.data() + rest, tail);
        block_.truncate(at + length + tail);
        block_.advance(at + length + tail - block_.size());
        const auto shift =
            static_cast<std::ptrdiff_t>(length) - static_cast<std::ptrdiff_t>(old->length);
        if (dedup_memory_) dedup_memory_->strings.move_from(rest, shift);
    }
    write_varint(block_.data() + at, count);
    return {};
}

void Encoder::deduplicate_last_str(std::size_t value_start, std::size_t text_offset) {
    std::size_t length = block_.size() - text_offset;
    std::string_view text = block_.view(text_offset, length);
    if (!dedup_memory_) {
        dedup_memory_ = std::make_unique<DedupMemory>();
        dedup_memory_->strings.set_seed(hash_seed_);
    }
    StringIndex& strings = dedup_memory_->strings;
    std::uint64_t hash = strings.hash(text);
    std::int64_t found = strings.find(text, hash, block_);
    // A reference longer than the text it stands for (a short string far down a large table)
    // would make the stream larger: the text stays in full and, as readers number every string
    // written in full, takes the next index too.
    if (found < 0 ||
        1 + varint_size(static_cast<std::uint64_t>(found)) > block_.size() - value_start) {
        strings.insert(hash, text_offset, length, block_);
        return;
    }
    block_.truncate(value_start);
    write_tagged_varint(WireType::StringRef, static_cast<std::uint64_t>(found));
}

// Nesting is followed with a stack of its own, not by recursion: a value as deep as any limit
// allows fits a small thread stack.
Status Encoder::encode_value_inner(const Value& root) {
    struct Open {
        const Value* container;
        std::size_t next;  // index of its next item or entry
    };
    SmallStack<Open, 16> open;
    for (const Value* value = &root; value != nullptr;) {
        switch (value->kind()) {
            case Kind::Null:
                write_null();
                break;
            case Kind::Bool:
                write_bool(value->as_bool());
                break;
            case Kind::UInt:
                write_uint(value->as_uint());
                break;
            case Kind::Int:
                write_int(value->as_int());
                break;
            case Kind::Float:
                write_float(value->as_float());
                break;
            case Kind::Str:
                write_str(value->as_str());
                break;
            case Kind::Bytes:
                write_bytes(value->as_bytes());
                break;
            case Kind::Array:
                DRAL_TRY(begin_array(value->as_array().size()));
                open.push_back({value, 0});
                break;
            case Kind::Object:
                DRAL_TRY(begin_object(value->as_object().size()));
                open.push_back({value, 0});
                break;
        }
        // The next value to write, closing the containers that are complete.
        value = nullptr;
        while (value == nullptr && !open.empty()) {
            Open& top = open.back();
            if (top.container->kind() == Kind::Array) {
                const Array& items = top.container->as_array();
                if (top.next < items.size()) {
                    value = &items[top.next++];
                    continue;
                }
                end_array();
            } else {
                const Object& entries = top.container->as_object();
                if (top.next < entries.size()) {
                    const auto& [key, entry_value] = entries[top.next++];
                    write_key(key);
                    value = &entry_value;
                    continue;
                }
                end_object();
            }
            open.pop_back();
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
        layout.dictionary_checksum = xxh64(layout.dictionary);
    }
    layout.payload = block_.span();
    if (compression_ != CompressionType::None && compress_block()) {
        layout.compression = compression_;
        layout.payload = compressed_.span();
    }
    layout.payload_checksum = checksum_of(layout.payload);
    return layout;
}

bool Encoder::compress_block() {
    const Codec& codec = codec_for(compression_);
    const std::size_t size = block_.size();
    if (size < codec.smallest_worth_compressing) return false;
    const std::size_t bound = codec.bound(size);
    if (bound == 0) return false;
    compressed_.clear();
    std::uint8_t* const out = compressed_.prepare(kMaxVarintBytes + bound);
    const std::size_t prefix = write_varint(out, size);
    std::size_t written = 0;
    run_long_work(long_work_, size,
                  [&] { written = codec.compress(codec_state_, block_.span(), out + prefix); });
    if (written == 0 || prefix + written >= size) return false;
    compressed_.advance(prefix + written);
    return true;
}

namespace {

// Moves `payload` to `out`, which may overlap it but never lies after it, and adds it to
// `checksum`. A piece is hashed and then moved while it is in the cache: the move runs beside the
// hashing, and the payload is read from memory once.
void move_and_hash(std::uint8_t* out, std::span<const std::uint8_t> payload,
                   Xxh64Stream& checksum) {
    constexpr std::size_t kPiece = 2048;
    for (std::size_t done = 0; done < payload.size(); done += kPiece) {
        std::span<const std::uint8_t> piece =
            payload.subspan(done, std::min(kPiece, payload.size() - done));
        checksum.update(piece);
        // Forward, piece by piece: a piece never overwrites bytes of the pieces after it.
        std::memmove(out + done, piece.data(), piece.size());
    }
}

}  // namespace

std::uint8_t* Encoder::write_headers(const Layout& layout, std::uint8_t* out) {
    if (!layout.dictionary.empty()) {
        out += write_block_header(out, BlockType::StringDict, layout.dictionary.size(),
                                  layout.dictionary_checksum);
        std::memcpy(out, layout.dictionary.data(), layout.dictionary.size());
        out += layout.dictionary.size();
    }
    if (!layout.payload.empty())
        out += write_block_header(out, BlockType::Data, layout.payload.size(),
                                  layout.payload_checksum, layout.compression);
    return out;
}

std::uint8_t* Encoder::write_blocks(const Layout& layout, std::uint8_t* out,
                                    Xxh64Stream& checksum) {
    std::uint8_t* const payload = write_headers(layout, out);
    run_long_work(long_work_, layout.payload.size(), [&] {
        checksum.update({out, static_cast<std::size_t>(payload - out)});
        move_and_hash(payload, layout.payload, checksum);
    });
    return payload + layout.payload.size();
}

void Encoder::close_block() {
    if (block_.empty()) return;
    const Layout layout = lay_out();
    std::uint8_t* out = output_.prepare(layout.size() - kEndBlockSize);
    Xxh64Stream& checksum = closed_checksum_ ? *closed_checksum_ : closed_checksum_.emplace();
    output_.advance(static_cast<std::size_t>(write_blocks(layout, out, checksum) - out));
    start_block();
}

void Encoder::finish_closed() {
    close_block();
    write_end_block(output_.prepare(kEndBlockSize), closed_checksum_->digest());
    output_.advance(kEndBlockSize);
}

void Encoder::write_layout(const Layout& layout, std::uint8_t* out) {
    if (layout.payload.size() < kMoveAndHashFrom) {
        // Small: copied whole, then hashed in one go.
        std::uint8_t* end = write_headers(layout, out);
        if (!layout.payload.empty()) std::memcpy(end, layout.payload.data(), layout.payload.size());
        end += layout.payload.size();
        write_end_block(end, xxh64({out, static_cast<std::size_t>(end - out)}));
        return;
    }
    Xxh64Stream stream_checksum;
    std::uint8_t* const end = write_blocks(layout, out, stream_checksum);
    write_end_block(end, stream_checksum.digest());
}

std::size_t Encoder::finish_in_place() {
    const std::size_t front = block_.storage().front;
    if (block_.empty() || has_dictionary() || front == 0 || compression_ != CompressionType::None ||
        closed_checksum_)
        return 0;
    const std::size_t size = block_.size();
    std::uint8_t header[kMaxBlockHeaderSize];
    const std::size_t header_size =
        write_block_header(header, BlockType::Data, size, checksum_of(block_.span()));
    // A header longer than the room in front lifts the payload by the difference.
    const std::size_t lift = header_size > front ? header_size - front : 0;
    block_.reserve(size + lift + kEndBlockSize);
    std::uint8_t* const data = block_.data();
    std::uint8_t* const stream = data - front;
    std::uint8_t* const payload = stream + header_size;
    run_long_work(long_work_, size, [&] {
        std::uint64_t stream_checksum;
        if (payload < data) {
            // The payload moves down next to its header.
            std::memcpy(stream, header, header_size);
            Xxh64Stream checksum;
            checksum.update({stream, header_size});
            move_and_hash(payload, {data, size}, checksum);
            stream_checksum = checksum.digest();
        } else {
            if (payload > data) std::memmove(payload, data, size);
            std::memcpy(stream, header, header_size);
            stream_checksum = xxh64({stream, header_size + size});
        }
        write_end_block(payload + size, stream_checksum);
    });
    return header_size + size + kEndBlockSize;
}

ByteBuffer Encoder::finish() {
    if (closed_checksum_) {
        finish_closed();
        return std::move(output_);
    }
    ByteBuffer stream;
    finish_into([&](std::size_t size) {
        stream.reserve(size);
        stream.advance(size);
        return stream.data();
    });
    return stream;
}

}  // namespace dral_core
