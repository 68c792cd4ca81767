// CTN documents: whatever parses formats to canonical text that parses again and formats to the
// same text (save the documented losses), and compiles to a file that decodes to the root the
// canonical text compiles and decodes to.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dral_core/encoding/utf8.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "support/check.hpp"
#include "support/rfc_equal.hpp"

namespace {

using namespace dral_core;
using namespace dral_core::rfc001;

// Small input formats within the default limit; a deep one may not (each line repeats its
// indent), and is no finding.
std::optional<std::string> text_of(const Document& document) {
    Result<std::string> text = ctn::format_document(document);
    if (!text) {
        FUZZ_CHECK(text.error().kind() == ErrorKind::MemoryLimitExceeded,
                   "a parsed document formats", text.error().message());
        return std::nullopt;
    }
    return std::move(*text);
}

// The root a document compiles and decodes to; nothing when it does not compile (a cycle, a
// depth that readers refuse) or when the file is deeper than readers read.
std::optional<Value> compiled_root(const Document& document, bool with_symtab) {
    const Result<Bytes> file = cbf::encode_document(document, {with_symtab, 0});
    if (!file) return std::nullopt;
    const Result<cbf::DecodedDocument> decoded = cbf::decode_document(*file);
    FUZZ_CHECK(decoded, "a compiled document decodes", decoded.error().message());
    (void)ctn::format_document(decoded->document);
    return std::move(*decoded->document.root);
}

void check_canonical_text(const Document& document) {
    const std::optional<std::string> text = text_of(document);
    if (!text || dral_fuzz::has_unreadable_ctn(document)) return;
    const Result<Document> again = ctn::parse_document(*text);
    FUZZ_CHECK(again, "canonical text parses", again.error().message() + "\n" + *text);
    const std::optional<std::string> text_again = text_of(*again);
    FUZZ_CHECK(text_again == text, "canonical text formats to itself",
               *text + "\nformats as\n" + text_again.value_or("(nothing)"));
    const std::optional<Value> root = compiled_root(document, true);
    if (!root) return;
    const std::optional<Value> root_again = compiled_root(*again, true);
    FUZZ_CHECK(
        root_again && dral_fuzz::same_value(*root, *root_again, dral_fuzz::RfcEquality::ReadBack),
        "canonical text compiles to the same root", *text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!is_valid_utf8(data, size)) return 0;  // the reader takes valid text only
    const Result<Document> document =
        ctn::parse_document(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!document) return 0;
    check_canonical_text(*document);
    (void)compiled_root(*document, false);
    return 0;
}
