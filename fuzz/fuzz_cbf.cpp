// Compiled files: whatever decodes compiles again to a file that decodes to the same root (save
// the element type of an empty sequence, which a file does not keep). From then on nothing is
// lost: the second file decodes exactly, and compiles to itself. And whatever decodes formats to
// CTN text that reads back, compiles and decodes to the same root, save what the README says
// CTN text does not keep.
#include <cstdint>
#include <span>
#include <string>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "support/check.hpp"
#include "support/mutators.hpp"
#include "support/rfc_equal.hpp"

namespace {

using namespace dral_core;
using namespace dral_core::rfc001;

// Every decoded document compiles: it has a root and no bindings to resolve.
Bytes compile(const Document& document) {
    const Result<Bytes> file = cbf::encode_document(document, {});
    FUZZ_CHECK(file, "a decoded document compiles", file.error().message());
    return *file;
}

cbf::DecodedDocument decode_compiled(const Bytes& file, const std::string& origin) {
    Result<cbf::DecodedDocument> decoded = cbf::decode_document(file);
    FUZZ_CHECK(decoded, "a compiled document decodes", decoded.error().message() + "\n" + origin);
    return std::move(*decoded);
}

// A decoded file is at most as large as the input, which is small: its text fits the limit.
std::string text_of(const Document& document) {
    Result<std::string> text = ctn::format_document(document);
    FUZZ_CHECK(text, "a decoded document formats", text.error().message());
    return std::move(*text);
}

void check_text_reads_back(const cbf::DecodedDocument& decoded, const std::string& text) {
    if (dral_fuzz::has_unreadable_ctn(decoded.document)) return;
    const Result<Document> parsed = ctn::parse_document(text);
    FUZZ_CHECK(parsed, "the text of a decoded document parses",
               parsed.error().message() + "\n" + text);
    const cbf::DecodedDocument again = decode_compiled(compile(*parsed), text);
    FUZZ_CHECK(dral_fuzz::same_value(*decoded.document.root, *again.document.root,
                                     dral_fuzz::RfcEquality::ReadBack),
               "the text of a decoded document reads back as the same root",
               text + "\nreads back as\n" + text_of(again.document));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Result<cbf::DecodedDocument> decoded = cbf::decode_document({data, size});
    if (!decoded) return 0;
    const std::string text = text_of(decoded->document);
    check_text_reads_back(*decoded, text);
    const Bytes file = compile(decoded->document);
    const cbf::DecodedDocument again = decode_compiled(file, text);
    FUZZ_CHECK(dral_fuzz::same_value(*decoded->document.root, *again.document.root,
                                     dral_fuzz::RfcEquality::Compiled),
               "a compiled document decodes to the same root",
               text + "\ndecodes as\n" + text_of(again.document));
    const Bytes second = compile(again.document);
    const cbf::DecodedDocument third = decode_compiled(second, text);
    FUZZ_CHECK(dral_fuzz::same_value(*again.document.root, *third.document.root,
                                     dral_fuzz::RfcEquality::Exact),
               "a compiled decoded document decodes exactly", text);
    FUZZ_CHECK(compile(third.document) == second, "a compiled decoded document compiles to itself",
               text);
    return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed) {
    return dral_fuzz::mutate_file(data, size, max_size, seed);
}
