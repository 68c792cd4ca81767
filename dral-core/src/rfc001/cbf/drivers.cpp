// Compiling a whole document to a file and decoding a file back to a root-only document.
#include "base/byte_buffer.hpp"
#include "rfc001/cbf/cbf.hpp"
#include "rfc001/cbf/container.hpp"
#include "rfc001/cbf/open_document.hpp"
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

Result<OpenedDocument> open_document(std::span<const std::uint8_t> file,
                                     ChecksumObserver* observer) {
    DRAL_ASSIGN_OR_RETURN(const OpenedFile opened, open_file(file, observer));
    OpenedDocument document{opened.header, opened.body, {}};
    if (opened.header.has_symtab()) {
        DRAL_ASSIGN_OR_RETURN(document.symbols,
                              read_symbol_table(opened.body, opened.header.symtab_offset));
    }
    if (opened.header.root_offset >= opened.body.size())
        return fail(DralError::unexpected_eof(opened.header.root_offset));
    return document;
}

Result<DecodedDocument> decode_document(std::span<const std::uint8_t> bytes) {
    DRAL_ASSIGN_OR_RETURN(OpenedDocument file, open_document(bytes));
    DRAL_ASSIGN_OR_RETURN(DecodedSegment root,
                          decode_root_segment(file.body, file.header.root_offset, file.symbols));
    DecodedDocument decoded;
    decoded.document.root = std::move(root.value);
    decoded.symbols = std::move(file.symbols);
    decoded.header = file.header;
    return decoded;
}

}  // namespace dral_core::rfc001::cbf
