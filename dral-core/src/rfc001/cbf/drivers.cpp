// Compiling a whole document to a file and decoding a file back to a root-only document.
#include "base/byte_buffer.hpp"
#include "rfc001/cbf/cbf.hpp"
#include "rfc001/cbf/container.hpp"
#include "rfc001/cbf/references.hpp"
#include "rfc001/cbf/segment.hpp"
#include "rfc001/cbf/symbols.hpp"

namespace dral_core::rfc001::cbf {

Status encode_document_into(const Document& document, const EncodeOptions& options,
                            ByteBuffer& out) {
    const Value* root = document.effective_root_ptr();
    if (root == nullptr) return fail(no_root_error());
    DRAL_ASSIGN_OR_RETURN(const ResolvedRoot resolved, resolve_references(document, *root));

    // Without a table nothing collected would be used; only symbols themselves are refused.
    CbfEncodeContext context;
    if (options.with_symtab) {
        SymbolSet symbols;
        collect_symbols(resolved, symbols);
        context.table = number_symbols(symbols);
    } else if (contains_symbol_value(resolved)) {
        return fail(DralError::invalid_data(
            "symbol values require symbol table; enable EncodeOptions::with_symtab"));
    }
    context.has_symtab = !context.table.empty();

    const std::size_t start = begin_file(out);
    if (context.has_symtab) write_symbol_table(context.table, out);
    const std::uint64_t root_offset = out.size() - start - kHeaderSize;
    if (Status status = encode_segment(resolved, resolved.root(), context, out); !status) {
        out.truncate(start);
        return status;
    }
    finish_file(out, start, context.has_symtab, options.alignment, root_offset);
    return {};
}

Result<Bytes> encode_document(const Document& document, const EncodeOptions& options) {
    ByteBuffer out;
    DRAL_TRY(encode_document_into(document, options, out));
    return Bytes(out.data(), out.data() + out.size());
}

Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes) {
    DRAL_ASSIGN_OR_RETURN(const OpenedFile file, open_file(bytes));
    DecodedDocument decoded;
    decoded.header = file.header;
    if (file.header.has_symtab()) {
        DRAL_ASSIGN_OR_RETURN(decoded.symbols,
                              read_symbol_table(file.body, file.header.symtab_offset));
    }
    if (file.header.root_offset >= file.body.size())
        return fail(DralError::unexpected_eof(file.header.root_offset));
    DRAL_ASSIGN_OR_RETURN(DecodedSegment root,
                          decode_root_segment(file.body, file.header.root_offset, decoded.symbols));
    decoded.document.root = std::move(root.value);
    return decoded;
}

}  // namespace dral_core::rfc001::cbf
