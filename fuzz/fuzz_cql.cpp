// CQL: the input's first line is the query, the rest a CTN document to query (a fixed one when
// the rest does not parse). The query runs over the parsed root and over the root compiled and
// decoded again; a query parses or fails whatever the root. The query over the text as the
// Python functions run it (over the compiled bytes) selects what the query over the decoded root
// selects.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dral_core/encoding/utf8.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_core/rfc001/cql/cql.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_core/rfc001/query_text.hpp"
#include "support/check.hpp"

namespace {

using namespace dral_core;
using namespace dral_core::rfc001;

constexpr std::string_view kFallback = R"(let name = "x"
config
  servers = seq<Server>
    Server
      host = "a"
      port = 80u64
    Server
      host = "b"
  pairs = map<str, any>["x" => 1, 'x => 2, 3 => [1, 2, 3]]
  shape = Shape::Circle(radius: 1.5, tags: ('a, 'b))
  point = Point::P(1, 2)
  ref = ref [1, &name]
  grid = tensor<f64>[2, 2]
    [1, 2]
    [3, 4])";

const Value& fallback_root() {
    static const Document document = *ctn::parse_document(kFallback);
    return *document.effective_root_ptr();
}

using Selection = Result<std::vector<const Value*>>;

Selection run(const Value& root, std::string_view expression) {
    Selection selected = cql::query(root, expression);
    if (selected)
        for (const Value* value : *selected) (void)ctn::format_value(*value);
    return selected;
}

void check_same_parse(const Selection& a, const Selection& b) {
    FUZZ_CHECK(a.has_value() == b.has_value() && (a || a.error().message() == b.error().message()),
               "whether a query parses does not depend on the root",
               (a ? std::string("parsed") : a.error().message()) + "\nagainst\n" +
                   (b ? std::string("parsed") : b.error().message()));
}

std::string shown(const Value& value) {
    const Result<std::string> text = ctn::format_value(value);
    return text ? *text : "(unformatted: " + text.error().message() + ")";
}

void check_same_selection(const std::vector<Value>& a, const std::vector<const Value*>& b) {
    FUZZ_CHECK(a.size() == b.size(), "the query over the text selects as many values",
               std::to_string(a.size()) + " against " + std::to_string(b.size()));
    for (std::size_t i = 0; i < a.size(); ++i)
        FUZZ_CHECK(shown(a[i]) == shown(*b[i]), "the query over the text selects the same values",
                   shown(a[i]) + "\nagainst\n" + shown(*b[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!is_valid_utf8(data, size)) return 0;  // the readers take valid text only
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t line_end = input.find('\n');
    const std::string_view expression = input.substr(0, line_end);
    const std::string_view text =
        line_end == std::string_view::npos ? std::string_view() : input.substr(line_end + 1);

    const Selection over_fallback = run(fallback_root(), expression);
    const Result<Document> document = ctn::parse_document(text);
    const Value* root = document ? document->effective_root_ptr() : nullptr;
    if (root == nullptr) return 0;
    check_same_parse(over_fallback, run(*root, expression));
    const Result<Bytes> file = cbf::encode_document(*document, {});
    if (!file) return 0;
    const Result<cbf::DecodedDocument> decoded = cbf::decode_document(*file);
    if (!decoded) return 0;
    const Selection over_decoded = run(*decoded->document.root, expression);
    check_same_parse(over_fallback, over_decoded);
    MemoryMeter meter(kMemoryLimit);
    const Result<std::vector<Value>> over_text = query_text(text, expression, {}, meter);
    if (over_text && over_decoded) check_same_selection(*over_text, *over_decoded);
    return 0;
}
