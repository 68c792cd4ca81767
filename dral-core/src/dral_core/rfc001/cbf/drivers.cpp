// Compiling a whole document to a file and decoding a file back to a root-only document.
#include <span>
#include <string_view>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/encoding/varint.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/cbf/container.hpp"
#include "dral_core/rfc001/cbf/open_document.hpp"
#include "dral_core/rfc001/cbf/references.hpp"
#include "dral_core/rfc001/cbf/segment.hpp"
#include "dral_core/rfc001/cbf/symbols.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::cbf {
namespace {

std::uint64_t symbol_table_size(std::span<const std::string_view> entries) {
    std::uint64_t size = 4;
    for (std::string_view entry : entries) size += varint_size(entry.size()) + entry.size();
    return size;
}

}  // namespace

Status encode_document_into(const Document& document, const EncodeOptions& options, ByteBuffer& out,
                            MemoryMeter& meter) {
    const Value* root = document.effective_root_ptr();
    if (root == nullptr) return fail(no_root_error());
    DRAL_ASSIGN_OR_RETURN(const ResolvedRoot resolved,
                          resolve_references(document, *root, options.hash_seed));

    // Without a table nothing collected would be used; only symbols themselves are refused.
    CbfEncodeContext context;
    context.table.set_seed(options.hash_seed);
    if (options.with_symtab) {
        collect_symbols(resolved, context.table);
        context.table.number();
    } else if (contains_symbol_value(resolved)) {
        return fail(DralError::invalid_data(
            "symbol values require symbol table; enable EncodeOptions::with_symtab"));
    }
    context.has_symtab = context.table.size() != 0;

    // The file is charged as it is known: the table before it is written, the rest once the
    // root is, which the writer holds to what the meter has left.
    const std::uint64_t table_size =
        context.has_symtab ? symbol_table_size(context.table.entries()) : 0;
    DRAL_TRY(meter.charge(kOutputCopies * table_size));
    const std::size_t start = begin_file(out);
    if (context.has_symtab) write_symbol_table(context.table.entries(), out);
    const std::uint64_t root_offset = out.size() - start - kHeaderSize;
    if (Status status = encode_segment(resolved, resolved.root(), context, out, meter); !status) {
        out.truncate(start);
        return status;
    }
    finish_file(out, start, context.has_symtab, options.alignment, root_offset);
    if (Status status = meter.charge(kOutputCopies * (out.size() - start - table_size)); !status) {
        out.truncate(start);
        return status;
    }
    return {};
}

Status encode_document_into(const Document& document, const EncodeOptions& options,
                            ByteBuffer& out) {
    MemoryMeter meter(kMemoryLimit);
    return encode_document_into(document, options, out, meter);
}

Result<Bytes> encode_document(const Document& document, const EncodeOptions& options,
                              MemoryMeter& meter) {
    ByteBuffer out;
    DRAL_TRY(encode_document_into(document, options, out, meter));
    return Bytes(out.data(), out.data() + out.size());
}

Result<Bytes> encode_document(const Document& document, const EncodeOptions& options) {
    MemoryMeter meter(kMemoryLimit);
    return encode_document(document, options, meter);
}

Result<OpenedDocument> open_document(std::span<const std::uint8_t> file, MemoryMeter& meter,
                                     ChecksumObserver* observer) {
    DRAL_ASSIGN_OR_RETURN(const OpenedFile opened, open_file(file, observer));
    OpenedDocument document{opened.header, opened.body, {}};
    if (opened.header.has_symtab()) {
        DRAL_ASSIGN_OR_RETURN(document.symbols,
                              read_symbol_table(opened.body, opened.header.symtab_offset, meter));
    }
    if (opened.header.root_offset >= opened.body.size())
        return fail(DralError::unexpected_eof(opened.header.root_offset));
    return document;
}

Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes, MemoryMeter& meter) {
    DRAL_ASSIGN_OR_RETURN(OpenedDocument file, open_document(bytes, meter));
    // A query reads a file where it lies; a decode holds all of it in the tree it builds.
    DRAL_TRY(meter.charge(file.body.size()));
    DRAL_ASSIGN_OR_RETURN(
        DecodedSegment root,
        decode_root_segment(file.body, file.header.root_offset, file.symbols, meter));
    DecodedDocument decoded;
    decoded.document.root = std::move(root.value);
    decoded.symbols = std::move(file.symbols);
    decoded.header = file.header;
    return decoded;
}

Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes) {
    MemoryMeter meter(kMemoryLimit);
    return decode_document(bytes, meter);
}

}  // namespace dral_core::rfc001::cbf
