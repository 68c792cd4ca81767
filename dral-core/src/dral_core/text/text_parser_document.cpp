// `parse`: the text notation read into a Value tree.
#include "dral_core/text/text.hpp"
#include "dral_core/text/text_parser_tree.hpp"
#include "dral_core/value/value_sink.hpp"

namespace dral_core {

Result<Value> parse(std::string_view text) {
    ValueSink sink;
    return parse_document(text, sink);
}

Result<Value> parse_valid(std::string_view text, bool ascii) {
    ValueSink sink;
    return parse_valid_document(text, ascii, sink);
}

}  // namespace dral_core
