#include "encoder.hpp"

#include "string_dict.hpp"

namespace dral_core {

namespace {
constexpr std::size_t kInitialBufferSize = 4096;
}

Encoder::Encoder() : output_(kInitialBufferSize), block_(kInitialBufferSize) {}

Status Encoder::encode_value(const Value& value) {
    Checkpoint before = checkpoint();
    Status status = encode_value_inner(value);
    if (!status) rollback(before);
    return status;
}

void Encoder::rollback(const Checkpoint& checkpoint) {
    block_.truncate(checkpoint.block_size);
    strings_.truncate(checkpoint.strings);
    depth_ = checkpoint.depth;
}

void Encoder::write_deduplicated_str(std::string_view text) {
    std::uint64_t hash = StringIndex::hash(text);
    std::int64_t found = strings_.find(text, hash, block_);
    if (found >= 0) {
        write_tagged_varint(WireType::StringRef, static_cast<std::uint64_t>(found));
        return;
    }
    std::size_t offset = write_blob(0, text.data(), text.size());
    strings_.insert(hash, offset, text.size());
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

void Encoder::flush_block() {
    if (block_.empty()) return;
    if (dedup_ && !strings_.empty())
        append_block(output_, BlockType::StringDict, build_string_dict(strings_, block_).span());
    append_block(output_, BlockType::Data, block_.span());
    block_.clear();
    strings_.clear();
}

ByteBuffer Encoder::finish() {
    flush_block();
    append_end_block(output_);
    return std::move(output_);
}

}  // namespace dral_core
