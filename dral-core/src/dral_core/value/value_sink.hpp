// The sink that builds owned Value trees, for both readers (`decode`, `parse`). Containers are
// Values from the start and are filled in place, whether or not their count is known.
#pragma once

#include <algorithm>
#include <string>

#include "dral_core/base/limits.hpp"
#include "dral_core/value/sink.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {

class ValueSink {
public:
    using Node = Value;
    using Key = std::string;
    static constexpr bool kValidatesUtf8 = false;

    static bool failed(const Value&) { return false; }
    static bool failed(const std::string&) { return false; }
    Value null() { return Value::null(); }
    Value boolean(bool b) { return Value::boolean(b); }
    Value uint(std::uint64_t u) { return Value::uint(u); }
    Value integer(std::int64_t i) { return Value::integer(i); }
    Value floating(double d) { return Value::floating(d); }
    Value str(std::string_view text, bool) { return Value::str(std::string(text)); }
    Value bytes(std::span<const std::uint8_t> data) {
        return Value::bytes(Bytes(data.begin(), data.end()));
    }
    std::string key(std::string_view text, bool) { return std::string(text); }

    Value begin_array(KnownCount count) {
        Array items;
        items.reserve(std::min(count.capacity, kMaxReservedItems));
        return Value::array(std::move(items));
    }
    Value begin_object(KnownCount count) {
        Object entries;
        entries.reserve(std::min(count.capacity, kMaxReservedItems));
        return Value::object(std::move(entries));
    }
    Value begin_array(UnknownCount) { return Value::array({}); }
    Value begin_object(UnknownCount) { return Value::object({}); }
    bool add_item(Value& array, std::size_t, Value item) {
        return add_item(array, std::move(item));
    }
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

static_assert(KnownCountSink<ValueSink> && UnknownCountSink<ValueSink>);

}  // namespace dral_core
