// Reads a Dral stream from a borrowed byte slice, one top-level value at a time, under the
// reading limits. Values are produced through a sink (value/sink.hpp) so that one reader serves
// both the Value tree and direct builders (the Python binding's): the bytes decide every result
// and every error, whatever the sink builds. Every container's count is read before its elements,
// so containers are opened with KnownCount; string text goes unchecked only to a sink that
// validates UTF-8 itself.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/base/long_work.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/binary/string_table.hpp"
#include "dral_core/checksum/xxh64.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/value/sink.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

class Decoder {
public:
    // Each data block's checksum is verified before any of its values is read, so a block whose
    // checksum fails hands out nothing and reports that failure before any other of its own.
    // A stream ends only with its end block, whose own checksum and the stream checksum it holds
    // (of every byte before it) must match; input that stops anywhere before it is cut short.
    // Values of a compressed block are read from its decompressed content, and offsets in their
    // errors count from the start of that content. Checksums and decompression of large blocks
    // run through `long_work` when one is given.
    Decoder(std::span<const std::uint8_t> input, DecodeLimits limits,
            LongWork* long_work = nullptr);

    // A reader that holds the stream a block at a time hands it over in windows: each
    // starts at a block boundary, `origin` bytes into the stream (error offsets count from the
    // stream's start), and follows the last without a gap. With windows, the end of one is not
    // the end of the stream: decode_next gives nothing and window_done() is true, and the
    // reader either gives the next window or, when the stream has no more bytes, reports it cut.
    // The memory limit then applies to each window on its own.
    void enable_windows() { windowed_ = true; }
    // Done with the current window: its bytes may go once this returned.
    void close_window();
    void set_window(std::span<const std::uint8_t> window, std::uint64_t origin);
    bool window_done() const { return window_done_; }
    bool ended() const { return ended_; }

    // The next top-level value, or nothing once the stream ended cleanly: at a block boundary
    // or at the end block's type byte, with no dictionary waiting for its data block. Running
    // out of input anywhere else is an error. A value is only sound once the stream has been
    // read to its end: a later error may still condemn the block it came from.
    template <KnownCountSink Sink>
    Result<std::optional<typename Sink::Node>> decode_next(Sink& sink);

    Result<std::optional<Value>> decode_next_owned();
    Result<std::vector<Value>> decode_all_owned();

private:
    struct Block {
        std::uint8_t type;
        std::uint8_t compression;
        std::size_t start;
        std::size_t end;
        std::uint64_t checksum;  // as stored
    };

    // Inlined into enter_next_data_block, its one caller: a stream is one data block more often
    // than not, and the Result of a call costs as much as reading a header.
    [[gnu::always_inline]] inline Result<std::optional<Block>> read_next_block();
    Result<bool> enter_next_data_block();
    Status check_block_checksum(std::uint64_t stored, std::size_t start, std::size_t end);
    [[gnu::noinline]] Status check_end_block();
    struct CompressedContent {
        std::size_t size;   // declared
        std::size_t start;  // of the compressed bytes
    };
    // What a compressed block declares, once it passed the size and ratio limits.
    Result<CompressedContent> compressed_content(const Block& block) const;
    // Makes the decompressed content of a verified data block the one values are read from.
    Status open_compressed_block(const Block& block);

    template <KnownCountSink Sink>
    Result<typename Sink::Node> read_value(Sink& sink);
    // Inlined into read_value's loop: for most scalars the call and the Result it returns cost
    // more than reading them.
    template <KnownCountSink Sink>
    [[gnu::always_inline]] inline Result<typename Sink::Node> read_scalar(Sink& sink,
                                                                          std::uint8_t tag);
    template <KnownCountSink Sink>
    Result<typename Sink::Node> read_blob(Sink& sink);
    // Inlined into read_value's loop: keys come once per entry, and the call with its Status
    // costs as much as reading a short key.
    [[gnu::always_inline]] Status read_key(std::string_view& key, bool& ascii) {
        DRAL_ASSIGN_OR_RETURN(std::uint64_t length, read_block_varint());
        if (length > remaining()) [[unlikely]] {
            std::uint64_t key_end = cursor_ + length < cursor_ ? UINT64_MAX : cursor_ + length;
            return fail(DralError::unexpected_eof(key_end));
        }
        DRAL_TRY(memory_.charge(length));
        const std::uint8_t* bytes = data_ + cursor_;
        Utf8Class utf8 = classify_utf8(bytes, length);
        if (utf8 == Utf8Class::Invalid) [[unlikely]]
            return fail(DralError::invalid_utf8(cursor_));
        cursor_ += length;
        key = std::string_view(reinterpret_cast<const char*>(bytes), length);
        ascii = utf8 == Utf8Class::Ascii;
        return {};
    }

    // Varints inside a data block never read past the block. The one-byte varints of most
    // counts, lengths and small numbers are read inline: a call and its Result cost more.
    [[gnu::always_inline]] Result<std::uint64_t> read_block_varint() {
        if (cursor_ < block_end_ && data_[cursor_] < 0x80) [[likely]]
            return data_[cursor_++];
        return read_longer_block_varint();
    }
    [[gnu::noinline]] Result<std::uint64_t> read_longer_block_varint() {
        DRAL_ASSIGN_OR_RETURN(auto varint, decode_varint({data_, block_end_}, cursor_));
        cursor_ += varint.length;
        return varint.value;
    }
    Status enter_container() {
        if (depth_ >= max_depth_) [[unlikely]]
            return fail(DralError::depth_exceeded(depth_, max_depth_));
        return {};
    }
    void leave_container(WireType end_tag) {
        --depth_;
        // The end tag is optional on reading: anything else is left for what follows.
        if (cursor_ < block_end_ && data_[cursor_] == static_cast<std::uint8_t>(end_tag)) ++cursor_;
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
    // Where the current block's values are read: the input itself (offsets stay those of the
    // input), or the decompressed content of a compressed block.
    const std::uint8_t* data_ = nullptr;
    DecodeLimits limits_;
    LongWork* long_work_;
    std::uint64_t max_depth_;
    std::size_t position_ = 0;  // of the next block header
    bool in_block_ = false;
    std::size_t cursor_ = 0;
    std::size_t block_end_ = 0;
    std::size_t depth_ = 0;
    std::size_t reserved_bytes_ = 0;
    MemoryMeter memory_;
    bool dictionary_pending_ = false;
    bool ended_ = false;
    bool windowed_ = false;
    bool window_done_ = false;
    std::uint64_t origin_ = 0;  // of the window in the stream
    // What error offsets add: origin_, or 0 where they count from elsewhere (a dictionary's
    // payload, a compressed block's content).
    std::uint64_t error_origin_ = 0;
    // The stream checksum of the bytes before `stream_hashed_` (and of earlier windows): large
    // blocks are added as their own checksum is checked, the rest when the end block is reached.
    // None until then, as a stream of small blocks in one window is hashed in one go at its end.
    std::optional<Xxh64Stream> stream_hash_;
    std::size_t stream_hashed_ = 0;
    Xxh64Stream& stream_hash() { return stream_hash_ ? *stream_hash_ : stream_hash_.emplace(); }
    ByteBuffer dictionary_storage_;
    ByteBuffer decompressed_;
    std::uint64_t decompressed_charged_ = 0;
    StringTable table_;
};

template <KnownCountSink Sink>
Result<std::optional<typename Sink::Node>> Decoder::decode_next(Sink& sink) {
    if (!in_block_ || cursor_ >= block_end_) {
        auto found = enter_next_data_block();
        if (!found) [[unlikely]]
            return fail(error_origin_ == 0 ? std::move(found.error())
                                           : std::move(found.error()).moved_by(error_origin_));
        if (!*found) return std::nullopt;
    }
    DRAL_TRY(memory_.charge(kTopLevelCost));
    auto node = read_value(sink);
    if (!node) [[unlikely]]
        return fail(error_origin_ == 0 ? std::move(node.error())
                                       : std::move(node.error()).moved_by(error_origin_));
    return std::optional<typename Sink::Node>(std::move(*node));
}

}  // namespace dral_core

#include "dral_core/binary/decoder_values.hpp"
