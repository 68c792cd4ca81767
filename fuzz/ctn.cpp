// CTN documents: whatever parses formats to canonical text that parses again and formats to the
// same text (save the documented losses), and compiles to a file that decodes.
#include "rfc001/ctn/ctn.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/utf8.hpp"
#include "rfc001/cbf/cbf.hpp"
#include "support/check.hpp"
#include "support/rfc_equal.hpp"

namespace {

using namespace dral_core;
using namespace dral_core::rfc001;

void check_canonical_text(const Document& document) {
    const std::string text = ctn::format_document(document);
    if (dral_fuzz::has_unreadable_ctn(document)) return;
    const Result<Document> again = ctn::parse_document(text);
    FUZZ_CHECK(again, "canonical text parses", again.error().message() + "\n" + text);
    const std::string text_again = ctn::format_document(*again);
    FUZZ_CHECK(text_again == text, "canonical text formats to itself",
               text + "\nformats as\n" + text_again);
}

void check_compiled(const Document& document, bool with_symtab) {
    const Result<Bytes> file = cbf::encode_document(document, {with_symtab, 0});
    if (!file) return;
    const Result<cbf::DecodedDocument> decoded = cbf::decode_document(*file);
    // The writer nests as deep as the document does; the reader stops 64 levels down.
    FUZZ_CHECK(decoded || decoded.error().kind() == ErrorKind::DepthExceeded,
               "a compiled document decodes", decoded.error().message());
    if (decoded) (void)ctn::format_document(decoded->document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!is_valid_utf8(data, size)) return 0;  // the reader takes valid text only
    const Result<Document> document =
        ctn::parse_document(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!document) return 0;
    check_canonical_text(*document);
    check_compiled(*document, true);
    check_compiled(*document, false);
    return 0;
}
