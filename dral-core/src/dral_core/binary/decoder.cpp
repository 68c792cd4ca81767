#include "dral_core/binary/decoder.hpp"

#include "dral_core/base/byte_order.hpp"
#include "dral_core/binary/stream.hpp"
#include "dral_core/binary/string_dict.hpp"
#include "dral_core/compression/codec.hpp"
#include "dral_core/value/value_sink.hpp"

namespace dral_core {

Decoder::Decoder(std::span<const std::uint8_t> input, DecodeLimits limits, LongWork* long_work)
    : input_(input),
      data_(input.data()),
      limits_(limits),
      long_work_(long_work),
      max_depth_(std::min<std::uint64_t>(limits.max_depth, kMaxNestingDepth)),
      memory_(limits.max_memory) {}

Result<std::optional<Value>> Decoder::decode_next_owned() {
    ValueSink sink;
    return decode_next(sink);
}

Result<std::vector<Value>> Decoder::decode_all_owned() {
    std::vector<Value> values;
    ValueSink sink;
    while (true) {
        DRAL_ASSIGN_OR_RETURN(auto value, decode_next(sink));
        if (!value) return values;
        values.push_back(std::move(*value));
    }
}

void Decoder::close_window() {
    // What the stream checksum has not seen of the window goes in before its bytes go away.
    stream_hash().update(input_.subspan(stream_hashed_, input_.size() - stream_hashed_));
    input_ = {};
    stream_hashed_ = 0;
}

void Decoder::set_window(std::span<const std::uint8_t> window, std::uint64_t origin) {
    // A window is one block: the memory budget is the block's, as a reader holds one at a time.
    memory_ = MemoryMeter(limits_.max_memory);
    decompressed_charged_ = 0;
    input_ = window;
    data_ = window.data();
    origin_ = error_origin_ = origin;
    position_ = stream_hashed_ = 0;
    in_block_ = window_done_ = false;
    cursor_ = block_end_ = reserved_bytes_ = 0;
}

inline Result<std::optional<Decoder::Block>> Decoder::read_next_block() {
    while (true) {
        if (position_ >= input_.size()) {
            if (!windowed_) return fail(DralError::unexpected_eof(input_.size()));
            window_done_ = true;
            return std::nullopt;
        }
        std::uint8_t type = input_[position_];
        if (type == static_cast<std::uint8_t>(BlockType::End)) return std::nullopt;
        if (type == 0 || type > static_cast<std::uint8_t>(BlockType::StringDict))
            return fail(DralError::invalid_block_type(type));

        DRAL_ASSIGN_OR_RETURN(auto length, decode_varint(input_, position_ + 1));
        if (length.value > limits_.max_block_size)
            return fail(DralError::block_too_large(length.value, limits_.max_block_size));
        std::size_t at = position_ + 1 + length.length;
        if (at >= input_.size()) return fail(DralError::unexpected_eof(at));
        std::uint8_t compression = input_[at++];
        if (compression > kMaxCompressionCode)
            return fail(DralError::unknown_compression(compression));
        if (input_.size() - at < kChecksumSize) return fail(DralError::unexpected_eof(at));
        std::uint64_t stored = load_u64_le(input_.data() + at);
        std::size_t start = at + kChecksumSize;
        if (length.value > input_.size() - start) {
            std::uint64_t end = start + length.value < start ? UINT64_MAX : start + length.value;
            return fail(DralError::unexpected_eof(end));
        }
        std::size_t end = start + length.value;
        position_ = end;

        if (type == static_cast<std::uint8_t>(BlockType::StringDict)) {
            DRAL_TRY(check_block_checksum(stored, start, end));
            error_origin_ = 0;  // a dictionary's errors count from its payload
            DRAL_ASSIGN_OR_RETURN(auto dict, parse_string_dict(input_.subspan(start, end - start),
                                                               limits_.max_items, memory_));
            error_origin_ = origin_;
            dictionary_storage_ = std::move(dict.storage);
            table_.assign(dict.strings);
            dictionary_pending_ = true;
            continue;
        }
        Block block{type, compression, start, end, stored};
        // A data block is verified by its reader, before its values are read; a reserved block
        // is verified here and skipped, compressed or not.
        if (type != static_cast<std::uint8_t>(BlockType::Data)) {
            DRAL_TRY(check_block_checksum(stored, start, end));
            if (compression != static_cast<std::uint8_t>(CompressionType::None))
                DRAL_TRY(compressed_content(block));
        }
        return block;
    }
}

Result<bool> Decoder::enter_next_data_block() {
    in_block_ = false;
    error_origin_ = origin_;
    if (ended_) return false;
    while (true) {
        DRAL_ASSIGN_OR_RETURN(auto block, read_next_block());
        if (!block) {
            if (window_done_) return false;
            // A writer always follows a dictionary with its data block: without one the stream
            // was cut short, and reading it as complete would lose every value.
            if (dictionary_pending_) return fail(DralError::unexpected_eof(position_));
            DRAL_TRY(check_end_block());
            return false;
        }
        if (block->type != static_cast<std::uint8_t>(BlockType::Data)) continue;
        if (!dictionary_pending_) table_.clear();
        dictionary_pending_ = false;
        DRAL_TRY(check_block_checksum(block->checksum, block->start, block->end));
        if (block->compression != static_cast<std::uint8_t>(CompressionType::None)) {
            DRAL_TRY(open_compressed_block(*block));
            error_origin_ = 0;
        } else {
            error_origin_ = origin_;
            data_ = input_.data();
            cursor_ = block->start;
            block_end_ = block->end;
        }
        if (cursor_ == block_end_) continue;
        in_block_ = true;
        return true;
    }
}

namespace {
// From this size on, a payload goes into the stream checksum in the pass that checks its own:
// below it, hashing the whole stream at its end reads the bytes from the cache again, which
// costs less than keeping the two hashes in step.
constexpr std::size_t kHashTogetherFrom = 16384;
}  // namespace

Status Decoder::check_block_checksum(std::uint64_t stored, std::size_t start, std::size_t end) {
    const auto payload = input_.subspan(start, end - start);
    std::uint64_t computed = 0;
    if (payload.size() >= kHashTogetherFrom) {
        run_long_work(long_work_, payload.size(), [&] {
            Xxh64Stream& stream = stream_hash();
            stream.update(input_.subspan(stream_hashed_, start - stream_hashed_));
            computed = xxh64_and_update(payload, stream);
        });
        stream_hashed_ = end;
    } else {
        computed = xxh64(payload);
    }
    if (computed != stored) return fail(DralError::checksum_mismatch(stored, computed));
    return {};
}

Status Decoder::check_end_block() {
    const std::size_t at = position_;
    if (input_.size() - at < kEndBlockSize) return fail(DralError::unexpected_eof(input_.size()));
    const std::uint8_t* block = input_.data() + at;
    if (block[1] != kChecksumSize || block[2] != static_cast<std::uint8_t>(CompressionType::None))
        return fail(DralError::invalid_data("malformed end block"));
    const std::uint64_t stored = load_u64_le(block + 3);
    const std::uint64_t stream_checksum = load_u64_le(block + 3 + kChecksumSize);
    if (const std::uint64_t computed = xxh64_of_u64(stream_checksum); computed != stored)
        return fail(DralError::checksum_mismatch(stored, computed));
    std::uint64_t computed = 0;
    const auto rest = input_.subspan(stream_hashed_, at - stream_hashed_);
    run_long_work(long_work_, rest.size(), [&] {
        if (stream_hash_) {
            stream_hash_->update(rest);
            computed = stream_hash_->digest();
        } else {
            computed = xxh64(rest);
        }
    });
    if (computed != stream_checksum)
        return fail(DralError::checksum_mismatch(stream_checksum, computed));
    ended_ = true;
    return {};
}

Result<Decoder::CompressedContent> Decoder::compressed_content(const Block& block) const {
    DRAL_ASSIGN_OR_RETURN(auto size, decode_varint(input_.first(block.end), block.start));
    if (size.value > limits_.max_block_size)
        return fail(DralError::block_too_large(size.value, limits_.max_block_size));
    std::uint64_t compressed = block.end - block.start - size.length;
    if (compressed != 0 && size.value / compressed > limits_.max_decompression_ratio)
        return fail(DralError::decompression_ratio_exceeded(
            static_cast<double>(size.value) / static_cast<double>(compressed),
            limits_.max_decompression_ratio, compressed, size.value));
    // Whatever the limits, a size the compressed bytes cannot stand for is refused before any
    // memory is set aside for it.
    const Codec& codec = codec_for(static_cast<CompressionType>(block.compression));
    if (compressed == 0) return fail(decompression_error(codec, "no compressed data"));
    if (size.value / compressed > codec.max_expansion)
        return fail(decompression_error(codec, "declared size exceeds what the data can hold"));
    return CompressedContent{static_cast<std::size_t>(size.value), block.start + size.length};
}

Status Decoder::open_compressed_block(const Block& block) {
    DRAL_ASSIGN_OR_RETURN(CompressedContent content, compressed_content(block));
    const Codec& codec = codec_for(static_cast<CompressionType>(block.compression));
    const std::size_t size = content.size, start = content.start;
    // One buffer serves every block: only what it grows by is new memory.
    if (size > decompressed_charged_) {
        DRAL_TRY(memory_.charge(size - decompressed_charged_));
        decompressed_charged_ = size;
    }
    Status status;
    run_long_work(long_work_, size, [&] {
        status = codec.decompress(input_.subspan(start, block.end - start), size, decompressed_);
    });
    DRAL_TRY(status);
    data_ = decompressed_.data();
    cursor_ = 0;
    block_end_ = size;
    return {};
}

}  // namespace dral_core
