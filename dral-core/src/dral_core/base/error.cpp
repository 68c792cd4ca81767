#include "dral_core/base/error.hpp"

#include <array>
#include <cstdio>
#include <string_view>

namespace dral_core {
namespace {

struct KindText {
    ErrorKind kind;
    // Placeholders: {a} {b} {c} decimal fields, {a:02x} {a:016x} {b:016x} zero-padded lowercase
    // hex, {r} the ratio with one decimal, {t} the embedded text.
    std::string_view format;
};

constexpr std::array<KindText, static_cast<std::size_t>(ErrorKind::Count)> kTexts{{
    {ErrorKind::Io, "I/O error: {t}"},
    {ErrorKind::InvalidMagic, "Invalid magic bytes"},
    {ErrorKind::UnsupportedVersion, "Unsupported format version: {a}"},
    {ErrorKind::InvalidWireType, "Invalid wire type tag: 0x{a:02x}"},
    {ErrorKind::VarintOverflow, "Varint overflow: encoded integer exceeds 64 bits"},
    {ErrorKind::UnexpectedEof, "Unexpected end of input at offset {a}"},
    {ErrorKind::ChecksumMismatch, "Checksum mismatch: expected 0x{a:016x}, got 0x{b:016x}"},
    {ErrorKind::InvalidUtf8, "Invalid UTF-8 in string field at offset {a}"},
    {ErrorKind::DepthExceeded, "Nesting depth {a} exceeds maximum {b}"},
    {ErrorKind::BlockTooLarge, "Block size {a} exceeds maximum {b}"},
    {ErrorKind::TooManyItems, "Item count {a} exceeds maximum {b}"},
    {ErrorKind::UnknownCompression, "Unknown compression type: {a}"},
    {ErrorKind::DecompressionFailed, "Decompression error: {t}"},
    {ErrorKind::InvalidBlockType, "Invalid block type: {a}"},
    {ErrorKind::TextParse, "Text parse error at line {a}, col {b}: {t}"},
    {ErrorKind::SchemaMismatch, "Schema mismatch: {t}"},
    {ErrorKind::MemoryLimitExceeded, "Memory limit exceeded: requested {a} bytes, limit {b}"},
    {ErrorKind::InvalidBase64, "Invalid base64 data: {t}"},
    {ErrorKind::InvalidData, "Invalid data: {t}"},
    {ErrorKind::LengthOverflow, "Length overflow: {a} exceeds platform maximum"},
    {ErrorKind::InvalidReference,
     "Invalid reference: index {a} out of bounds (dictionary has {b} entries)"},
    {ErrorKind::DecompressionRatioExceeded,
     "Decompression ratio {r}:1 exceeds maximum {a}:1 (compressed: {b}, uncompressed: {c})"},
    {ErrorKind::StringTooLong, "String length {a} exceeds maximum {b}"},
}};

constexpr bool table_is_in_kind_order() {
    for (std::size_t i = 0; i < kTexts.size(); ++i)
        if (static_cast<std::size_t>(kTexts[i].kind) != i) return false;
    return true;
}
static_assert(table_is_in_kind_order(), "error texts must be listed in ErrorKind order");

void append_number(std::string& out, const char* format, std::uint64_t value) {
    char buffer[32];
    int n = std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned long long>(value));
    out.append(buffer, static_cast<std::size_t>(n));
}

}  // namespace

std::string DralError::message() const {
    std::string_view format = kTexts[static_cast<std::size_t>(kind_)].format;
    std::string out;
    while (!format.empty()) {
        std::size_t open = format.find('{');
        out.append(format.substr(0, open));
        if (open == std::string_view::npos) break;
        std::size_t close = format.find('}', open);
        std::string_view field = format.substr(open + 1, close - open - 1);
        format.remove_prefix(close + 1);

        std::uint64_t number = field[0] == 'a' ? a_ : field[0] == 'b' ? b_ : c_;
        if (field == "t") {
            out += text_;
        } else if (field == "r") {
            char buffer[64];
            int n = std::snprintf(buffer, sizeof buffer, "%.1f", ratio_);
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (field.ends_with(":02x")) {
            append_number(out, "%02llx", number);
        } else if (field.ends_with(":016x")) {
            append_number(out, "%016llx", number);
        } else {
            append_number(out, "%llu", number);
        }
    }
    return out;
}

DralError DralError::io(std::string detail) {
    return {ErrorKind::Io, 0, 0, 0, 0.0, std::move(detail)};
}
DralError DralError::invalid_magic() { return {ErrorKind::InvalidMagic}; }
DralError DralError::unsupported_version(std::uint8_t version) {
    return {ErrorKind::UnsupportedVersion, version};
}
DralError DralError::invalid_wire_type(std::uint8_t tag) {
    return {ErrorKind::InvalidWireType, tag};
}
DralError DralError::varint_overflow() { return {ErrorKind::VarintOverflow}; }
DralError DralError::unexpected_eof(std::uint64_t offset) {
    return {ErrorKind::UnexpectedEof, offset};
}
DralError DralError::checksum_mismatch(std::uint64_t expected, std::uint64_t actual) {
    return {ErrorKind::ChecksumMismatch, expected, actual};
}
DralError DralError::invalid_utf8(std::uint64_t offset) { return {ErrorKind::InvalidUtf8, offset}; }

DralError DralError::moved_by(std::uint64_t origin) && {
    if (kind_ == ErrorKind::UnexpectedEof || kind_ == ErrorKind::InvalidUtf8)
        a_ = a_ > UINT64_MAX - origin ? UINT64_MAX : a_ + origin;
    return std::move(*this);
}
DralError DralError::depth_exceeded(std::uint64_t depth, std::uint64_t max) {
    return {ErrorKind::DepthExceeded, depth, max};
}
DralError DralError::block_too_large(std::uint64_t size, std::uint64_t max) {
    return {ErrorKind::BlockTooLarge, size, max};
}
DralError DralError::too_many_items(std::uint64_t count, std::uint64_t max) {
    return {ErrorKind::TooManyItems, count, max};
}
DralError DralError::unknown_compression(std::uint8_t code) {
    return {ErrorKind::UnknownCompression, code};
}
DralError DralError::decompression_failed(std::string detail) {
    return {ErrorKind::DecompressionFailed, 0, 0, 0, 0.0, std::move(detail)};
}
DralError DralError::invalid_block_type(std::uint8_t code) {
    return {ErrorKind::InvalidBlockType, code};
}
DralError DralError::text_parse(std::string detail, std::uint64_t line, std::uint64_t col) {
    return {ErrorKind::TextParse, line, col, 0, 0.0, std::move(detail)};
}
DralError DralError::schema_mismatch(std::string detail) {
    return {ErrorKind::SchemaMismatch, 0, 0, 0, 0.0, std::move(detail)};
}
DralError DralError::memory_limit_exceeded(std::uint64_t requested, std::uint64_t limit) {
    return {ErrorKind::MemoryLimitExceeded, requested, limit};
}
DralError DralError::invalid_base64(std::string detail) {
    return {ErrorKind::InvalidBase64, 0, 0, 0, 0.0, std::move(detail)};
}
DralError DralError::invalid_data(std::string detail) {
    return {ErrorKind::InvalidData, 0, 0, 0, 0.0, std::move(detail)};
}
DralError DralError::length_overflow(std::uint64_t length) {
    return {ErrorKind::LengthOverflow, length};
}
DralError DralError::invalid_reference(std::uint64_t index, std::uint64_t size) {
    return {ErrorKind::InvalidReference, index, size};
}
DralError DralError::decompression_ratio_exceeded(double ratio, std::uint64_t max,
                                                  std::uint64_t compressed,
                                                  std::uint64_t uncompressed) {
    return {ErrorKind::DecompressionRatioExceeded, max, compressed, uncompressed, ratio};
}
DralError DralError::string_too_long(std::uint64_t length, std::uint64_t max) {
    return {ErrorKind::StringTooLong, length, max};
}

}  // namespace dral_core
