// The in-memory form of every datum: a JSON-like tree with distinct signed and unsigned integers
// and a byte-string kind. Built once, then only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dral_core/base/bytes.hpp"

namespace dral_core {

class Value;
using Array = std::vector<Value>;
using Entry = std::pair<std::string, Value>;
using Object = std::vector<Entry>;

// In the order of the variants; the numbers are part of the model.
enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Float, Str, Bytes, Array, Object };

class Value {
public:
    using Storage = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
                                 std::string, Bytes, Array, Object>;

    Value() = default;
    // Copying and destroying follow nesting with a list on the heap, not by recursion, so that a
    // tree as deep as any reader allows fits a small thread stack. Out of line: keeps the
    // variant's destruction from being inlined into every producer.
    ~Value();
    Value(const Value&);
    Value(Value&&) noexcept = default;
    Value& operator=(const Value&);
    Value& operator=(Value&&) noexcept;
    static Value null() { return Value(); }
    static Value boolean(bool b) { return Value(Storage(std::in_place_index<1>, b)); }
    static Value uint(std::uint64_t u) { return Value(Storage(std::in_place_index<2>, u)); }
    static Value integer(std::int64_t i) { return Value(Storage(std::in_place_index<3>, i)); }
    static Value floating(double d) { return Value(Storage(std::in_place_index<4>, d)); }
    static Value str(std::string s) { return Value(Storage(std::in_place_index<5>, std::move(s))); }
    static Value bytes(Bytes b) { return Value(Storage(std::in_place_index<6>, std::move(b))); }
    static Value array(Array a) { return Value(Storage(std::in_place_index<7>, std::move(a))); }
    static Value object(Object o) { return Value(Storage(std::in_place_index<8>, std::move(o))); }

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool is_container() const { return kind() == Kind::Array || kind() == Kind::Object; }

    // Accessors for the held variant; the caller checks kind() first.
    bool as_bool() const { return *std::get_if<1>(&storage_); }
    std::uint64_t as_uint() const { return *std::get_if<2>(&storage_); }
    std::int64_t as_int() const { return *std::get_if<3>(&storage_); }
    double as_float() const { return *std::get_if<4>(&storage_); }
    const std::string& as_str() const { return *std::get_if<5>(&storage_); }
    const Bytes& as_bytes() const { return *std::get_if<6>(&storage_); }
    const Array& as_array() const { return *std::get_if<7>(&storage_); }
    const Object& as_object() const { return *std::get_if<8>(&storage_); }
    // For builders filling a container they just created.
    Array& as_array() { return *std::get_if<7>(&storage_); }
    Object& as_object() { return *std::get_if<8>(&storage_); }

    // Container views that never fail: lookups scan entries in order and take the first match.
    bool contains_key(std::string_view key) const;
    const Value* get(std::string_view key) const;
    std::vector<std::string_view> keys() const;
    std::vector<const Value*> values() const;

    // Number of array items or object entries; 0 for scalars.
    std::size_t size() const;

private:
    explicit Value(Storage storage) : storage_(std::move(storage)) {}
    // A scalar's copy, or an empty container of the same kind with room for all of its elements.
    static Storage shallow_copy(const Value& value);
    // Fills this empty container, made by shallow_copy of `source`, with copies of its elements.
    void copy_elements(const Value& source);
    // Empties every container nested in this one: those within `levels` by recursion, deeper
    // ones by dismantle.
    void free_nested(std::size_t levels) noexcept;
    // Frees everything this container holds without recursion, and leaves a null.
    void dismantle() noexcept;
    // Moves every child container that holds something to the back of `pending`.
    void move_nested_into(std::vector<Value>& pending);
    Storage storage_;
};

// The debugging form: variant name and payload, e.g. `Object([("a", Str("x"))])`.
std::string debug_string(const Value& value);

}  // namespace dral_core
