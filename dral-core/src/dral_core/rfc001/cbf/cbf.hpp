// CBF, the compiled binary form of an RFC-001 document: a 32-byte header, a body holding an
// optional symbol table and the root value as one segment, and a CRC-64 trailer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/base/bytes.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::cbf {

inline constexpr std::array<std::uint8_t, 4> kMagic{'D', 'R', 'A', 'L'};
// The magic as the text it is, for those who show it.
inline std::string_view magic_text() {
    return {reinterpret_cast<const char*>(kMagic.data()), kMagic.size()};
}
inline constexpr std::size_t kHeaderSize = 32;

// The header as read from a file (the magic is a constant and not kept).
struct CbfHeader {
    std::array<std::uint8_t, 8> schema_hash_prefix{};
    std::uint64_t root_offset = 0;
    std::uint32_t symtab_offset = 0;
    std::uint32_t index_offset = 0;
    std::uint8_t cbf_version = 0;
    std::uint8_t ctn_version = 0;
    std::uint8_t flags = 0;
    std::uint8_t alignment = 0;

    bool self_describing() const { return (flags & 0x01) != 0; }
    bool has_symtab() const { return (flags & 0x02) != 0; }
    bool has_index() const { return (flags & 0x04) != 0; }
};

struct EncodeOptions {
    bool with_symtab = true;
    std::uint8_t alignment = 0;  // recorded in the header only
    // The seed of the compiler's tables of names, which callers should draw at random: names
    // made to collide under one seed do not under another. The file does not depend on it.
    std::uint64_t hash_seed = 0;
};

struct DecodedDocument {
    Document document;  // the root only
    std::vector<std::string> symbols;
    CbfHeader header;
};

// Compiles the document's effective root, with references to bindings inlined. The file is
// charged to `meter` kOutputCopies times its size (the file and the copy the caller is handed);
// one that would pass what the meter has left fails with MemoryLimitExceeded before it is
// written in full. Without a meter, within the default limit.
Result<Bytes> encode_document(const Document& document, const EncodeOptions& options,
                              MemoryMeter& meter);
Result<Bytes> encode_document(const Document& document, const EncodeOptions& options);

// The same, appended to `out` (left as it was on failure): lets a caller own the file's storage.
Status encode_document_into(const Document& document, const EncodeOptions& options, ByteBuffer& out,
                            MemoryMeter& meter);
Status encode_document_into(const Document& document, const EncodeOptions& options,
                            ByteBuffer& out);

// Reads a whole file; `bytes` is only read. The body's size, the symbol table and the tree are
// charged to `meter` (see rfc001/memory.hpp). Without a meter, within the default limit.
Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes, MemoryMeter& meter);
Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes);

}  // namespace dral_core::rfc001::cbf
