#include "dral_core/value/value.hpp"

#include <new>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"

namespace dral_core {

namespace {

// Inline, unlike size(): moved-from and empty containers are the most common ones freed.
bool holds_something(const Value& value) {
    switch (value.kind()) {
        case Kind::Array:
            return !value.as_array().empty();
        case Kind::Object:
            return !value.as_object().empty();
        default:
            return false;
    }
}

}  // namespace

// Frees the containers nested in the value first, so that destroying the elements themselves
// never recurses.
Value::~Value() {
    if (holds_something(*this)) free_nested(kRecursiveFreeLevels);
}

void Value::free_nested(std::size_t levels) noexcept {
    auto free_child = [levels](Value& child) {
        if (!holds_something(child)) return;
        if (levels == 0) {
            child.dismantle();
            return;
        }
        child.free_nested(levels - 1);
        // Its elements hold nothing nested now: freeing them recurses no further.
        if (child.kind() == Kind::Array)
            Array().swap(child.as_array());
        else
            Object().swap(child.as_object());
    };
    if (kind() == Kind::Array) {
        for (Value& item : as_array()) free_child(item);
    } else {
        for (Entry& entry : as_object()) free_child(entry.second);
    }
}

void Value::dismantle() noexcept {
    try {
        // Children that hold something are taken out and freed one at a time, each once it
        // holds no container with anything in it.
        std::vector<Value> pending;
        move_nested_into(pending);
        while (!pending.empty()) {
            Value last = std::move(pending.back());
            pending.pop_back();
            last.move_nested_into(pending);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory for the list: what is left goes by recursion, as far as the stack allows.
    }
    storage_.emplace<0>();
}

void Value::move_nested_into(std::vector<Value>& pending) {
    if (kind() == Kind::Array) {
        for (Value& item : as_array())
            if (holds_something(item)) pending.push_back(std::move(item));
    } else if (kind() == Kind::Object) {
        for (Entry& entry : as_object())
            if (holds_something(entry.second)) pending.push_back(std::move(entry.second));
    }
}

Value::Value(const Value& other) : storage_(shallow_copy(other)) {
    if (holds_something(other)) copy_elements(other);
}

Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}

Value& Value::operator=(Value&&) noexcept = default;

Value::Storage Value::shallow_copy(const Value& value) {
    if (value.kind() == Kind::Array) {
        Array items;
        items.reserve(value.as_array().size());
        return Storage(std::in_place_index<7>, std::move(items));
    }
    if (value.kind() == Kind::Object) {
        Object entries;
        entries.reserve(value.as_object().size());
        return Storage(std::in_place_index<8>, std::move(entries));
    }
    return value.storage_;
}

void Value::copy_elements(const Value& source) {
    // Every container is made with room for all of its elements, so the targets recorded here
    // stay where they are while their siblings are added.
    struct Copy {
        const Value* source;
        Value* target;
    };
    SmallStack<Copy, 16> pending;
    pending.push_back({&source, this});
    while (!pending.empty()) {
        const Copy copy = pending.back();
        pending.pop_back();
        if (copy.source->kind() == Kind::Array) {
            Array& items = copy.target->as_array();
            for (const Value& item : copy.source->as_array()) {
                items.push_back(Value(shallow_copy(item)));
                if (holds_something(item)) pending.push_back({&item, &items.back()});
            }
        } else {
            Object& entries = copy.target->as_object();
            for (const auto& [key, value] : copy.source->as_object()) {
                entries.emplace_back(key, Value(shallow_copy(value)));
                if (holds_something(value)) pending.push_back({&value, &entries.back().second});
            }
        }
    }
}

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
