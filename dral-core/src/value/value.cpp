#include "value/value.hpp"

namespace dral_core {

Value::~Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;

bool Value::contains_key(std::string_view key) const { return get(key) != nullptr; }

const Value* Value::get(std::string_view key) const {
    if (kind() != Kind::Object) return nullptr;
    for (const auto& [entry_key, entry_value] : as_object())
        if (entry_key == key) return &entry_value;
    return nullptr;
}

std::vector<std::string_view> Value::keys() const {
    std::vector<std::string_view> keys;
    if (kind() != Kind::Object) return keys;
    keys.reserve(as_object().size());
    for (const auto& entry : as_object()) keys.emplace_back(entry.first);
    return keys;
}

std::vector<const Value*> Value::values() const {
    std::vector<const Value*> values;
    if (kind() == Kind::Object) {
        values.reserve(as_object().size());
        for (const auto& entry : as_object()) values.push_back(&entry.second);
    } else if (kind() == Kind::Array) {
        values.reserve(as_array().size());
        for (const auto& item : as_array()) values.push_back(&item);
    }
    return values;
}

std::size_t Value::size() const {
    if (kind() == Kind::Array) return as_array().size();
    if (kind() == Kind::Object) return as_object().size();
    return 0;
}

}  // namespace dral_core
