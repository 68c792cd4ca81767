// `parse`: the text notation read into a Value tree.
#include <string>
#include <utility>

#include "dral_core/text/text.hpp"
#include "dral_core/text/text_parser_tree.hpp"

namespace dral_core {
namespace {

// Containers are Values from the start and are filled in place.
class ValueSink {
public:
    using Node = Value;
    using Key = std::string;
    using Frame = Value;

    static bool failed(const Value&) { return false; }
    static bool failed(const std::string&) { return false; }
    Value null() { return Value::null(); }
    Value boolean(bool b) { return Value::boolean(b); }
    Value uint(std::uint64_t u) { return Value::uint(u); }
    Value integer(std::int64_t i) { return Value::integer(i); }
    Value floating(double d) { return Value::floating(d); }
    Value str(std::string_view text, bool) { return Value::str(std::string(text)); }
    Value bytes(Bytes&& bytes) { return Value::bytes(std::move(bytes)); }
    std::string key(std::string_view text, bool) { return std::string(text); }

    Value begin_array() { return Value::array({}); }
    Value begin_object() { return Value::object({}); }
    bool add_item(Value& array, Value item) {
        array.as_array().push_back(std::move(item));
        return true;
    }
    bool add_entry(Value& object, std::string key, Value value) {
        object.as_object().emplace_back(std::move(key), std::move(value));
        return true;
    }
    Value end_array(Value& array) { return std::move(array); }
    Value end_object(Value& object) { return std::move(object); }
};

}  // namespace

Result<Value> parse(std::string_view text) {
    ValueSink sink;
    return parse_document(text, sink);
}

Result<Value> parse_valid(std::string_view text, bool ascii) {
    ValueSink sink;
    return parse_valid_document(text, ascii, sink);
}

}  // namespace dral_core
