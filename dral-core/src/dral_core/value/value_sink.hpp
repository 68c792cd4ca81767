// The decoder sink that builds owned Value trees.
#pragma once

#include <algorithm>

#include "dral_core/base/limits.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

class ValueSink {
public:
    using Node = Value;
    static constexpr bool kValidatesUtf8 = false;

    static bool failed(const Value&) { return false; }
    Value null() { return Value::null(); }
    Value boolean(bool b) { return Value::boolean(b); }
    Value uint(std::uint64_t u) { return Value::uint(u); }
    Value integer(std::int64_t i) { return Value::integer(i); }
    Value floating(double d) { return Value::floating(d); }
    Value str(std::string_view text, bool, std::size_t) { return Value::str(std::string(text)); }
    Value table_str(std::size_t, std::string_view text) { return Value::str(std::string(text)); }
    Value bytes(const std::uint8_t* data, std::size_t length) {
        return Value::bytes(Bytes(data, data + length));
    }

    Value begin_array(std::size_t capacity) {
        Array items;
        items.reserve(std::min(capacity, kMaxReservedItems));
        return Value::array(std::move(items));
    }
    bool set_item(Value& array, std::size_t, Value item) {
        array.as_array().push_back(std::move(item));
        return true;
    }
    Value begin_object(std::size_t capacity) {
        Object entries;
        entries.reserve(std::min(capacity, kMaxReservedItems));
        return Value::object(std::move(entries));
    }
    bool set_entry(Value& object, std::string_view key, bool, Value value) {
        object.as_object().emplace_back(std::string(key), std::move(value));
        return true;
    }
};

}  // namespace dral_core
