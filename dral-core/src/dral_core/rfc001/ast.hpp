// The typed document tree that every part of the RFC-001 language reads or builds: CTN text is
// parsed into it and formatted from it, CBF compiles it and decodes into it, CQL walks it. An
// owned tree of plain values: copying a node copies its subtree, and nothing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dral_core/base/box.hpp"
#include "dral_core/base/bytes.hpp"
#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"

namespace dral_core::rfc001 {

// ---------------------------------------------------------------------------------------------
// Scalars

// In the order of the variants; the numbers are part of the model.
enum class ScalarType : std::uint8_t {
    Null,
    Unit,
    Bool,
    I64,
    U64,
    VI64,
    VU64,
    F32,
    F64,
    Str,
    Bytes,
    Sym,
    Tagged,
};

// "null", "unit", "bool", "i64", ... as the dictionaries and models name the type.
std::string_view type_name_of(ScalarType type);

struct TaggedText {
    std::string tag;
    std::string value;
};

class Scalar {
public:
    static Scalar null() { return Scalar(std::in_place_index<0>); }
    static Scalar unit() { return Scalar(std::in_place_index<1>); }
    static Scalar boolean(bool b) { return Scalar(std::in_place_index<2>, b); }
    static Scalar i64(std::int64_t v) { return Scalar(std::in_place_index<3>, v); }
    static Scalar u64(std::uint64_t v) { return Scalar(std::in_place_index<4>, v); }
    static Scalar vi64(std::int64_t v) { return Scalar(std::in_place_index<5>, v); }
    static Scalar vu64(std::uint64_t v) { return Scalar(std::in_place_index<6>, v); }
    static Scalar f32(float v) { return Scalar(std::in_place_index<7>, v); }
    static Scalar f64(double v) { return Scalar(std::in_place_index<8>, v); }
    static Scalar str(std::string&& text) {
        return Scalar(std::in_place_index<9>, std::move(text));
    }
    static Scalar bytes(Bytes&& data) { return Scalar(std::in_place_index<10>, std::move(data)); }
    static Scalar sym(std::string&& name) {
        return Scalar(std::in_place_index<11>, std::move(name));
    }
    static Scalar tagged(std::string&& tag, std::string&& value) {
        return Scalar(std::in_place_index<12>, TaggedText{std::move(tag), std::move(value)});
    }

    ScalarType type() const { return static_cast<ScalarType>(storage_.index()); }
    std::string_view type_name() const { return type_name_of(type()); }

    // Accessors for the held type; the caller checks type() first.
    bool as_bool() const { return std::get<2>(storage_); }
    // I64 or VI64.
    std::int64_t as_signed() const {
        return type() == ScalarType::I64 ? std::get<3>(storage_) : std::get<5>(storage_);
    }
    // U64 or VU64.
    std::uint64_t as_unsigned() const {
        return type() == ScalarType::U64 ? std::get<4>(storage_) : std::get<6>(storage_);
    }
    float as_f32() const { return std::get<7>(storage_); }
    double as_f64() const { return std::get<8>(storage_); }
    const Bytes& as_bytes() const { return std::get<10>(storage_); }
    // The text of a Str, the name of a Sym, the value text of a Tagged.
    const std::string& text() const {
        switch (type()) {
            case ScalarType::Str:
                return std::get<9>(storage_);
            case ScalarType::Sym:
                return std::get<11>(storage_);
            default:
                return std::get<12>(storage_)->value;
        }
    }
    // The tag of a Tagged.
    const std::string& tag() const { return std::get<12>(storage_)->tag; }

    // Whether this is a Str or a Sym, the scalars that name things.
    bool is_text() const { return type() == ScalarType::Str || type() == ScalarType::Sym; }

private:
    using Storage = std::variant<std::monostate, std::monostate, bool, std::int64_t, std::uint64_t,
                                 std::int64_t, std::uint64_t, float, double, std::string, Bytes,
                                 std::string, Box<TaggedText>>;
    // The held value is built in place: a short string's every move is a call to copy its bytes.
    template <std::size_t I, class... Args>
    explicit Scalar(std::in_place_index_t<I> index, Args&&... args)
        : storage_(index, std::forward<Args>(args)...) {}
    Storage storage_;
};

struct Annotation {
    std::string name;
    std::optional<Scalar> value;  // absent for a bare annotation
};

// ---------------------------------------------------------------------------------------------
// Values

// In the order of the variants; the numbers are part of the model.
enum class ValueKind : std::uint8_t {
    Scalar,
    Product,
    Sum,
    Sequence,
    Association,
    Reference,
    Tensor,
    Stream,
    Opaque,
};

// "scalar", "product", "sum", ... as the dictionaries and models name the kind.
std::string_view kind_name_of(ValueKind kind);

struct Product;
struct Sum;
struct Sequence;
struct Association;
struct Reference;
struct Tensor;
struct Stream;
struct Opaque;

class Value {
public:
    // By rvalue, as the factories of Scalar take their strings: each part of a tree is moved once
    // on its way in, where a parameter by value would cost a move more.
    explicit Value(Scalar&& scalar) : storage_(std::in_place_index<0>, std::move(scalar)) {}
    explicit Value(Product&& product);
    explicit Value(Sum&& sum);
    explicit Value(Sequence&& sequence);
    explicit Value(Association&& association);
    explicit Value(Reference&& reference);
    explicit Value(Tensor&& tensor);
    explicit Value(Stream&& stream);
    explicit Value(Opaque&& opaque);

    // Out of line: keeps the variant's copies and destruction from being inlined everywhere.
    ~Value();
    Value(const Value&);
    Value(Value&&) noexcept;
    Value& operator=(const Value&);
    Value& operator=(Value&&) noexcept;

    ValueKind kind() const { return static_cast<ValueKind>(storage_.index()); }
    std::string_view kind_name() const { return kind_name_of(kind()); }
    bool is_scalar() const { return kind() == ValueKind::Scalar; }

    // Accessors for the held kind; the caller checks kind() first. The mutable ones are for
    // builders filling a node they just created.
    const Scalar& scalar() const { return std::get<0>(storage_); }
    const Product& product() const { return *std::get<1>(storage_); }
    const Sum& sum() const { return *std::get<2>(storage_); }
    const Sequence& sequence() const { return *std::get<3>(storage_); }
    const Association& association() const { return *std::get<4>(storage_); }
    const Reference& reference() const { return *std::get<5>(storage_); }
    const Tensor& tensor() const { return *std::get<6>(storage_); }
    const Stream& stream() const { return *std::get<7>(storage_); }
    const Opaque& opaque() const { return *std::get<8>(storage_); }
    Product& product() { return *std::get<1>(storage_); }
    Sum& sum() { return *std::get<2>(storage_); }
    Sequence& sequence() { return *std::get<3>(storage_); }
    Association& association() { return *std::get<4>(storage_); }
    Reference& reference() { return *std::get<5>(storage_); }
    Tensor& tensor() { return *std::get<6>(storage_); }
    Stream& stream() { return *std::get<7>(storage_); }
    Opaque& opaque() { return *std::get<8>(storage_); }

    // This value with references by id followed to the value they box. A reference to a binding
    // is returned as it is: the tree has no document to look the name up in.
    const Value& resolved() const;

    // Read-only views that never fail. All but is_empty look through references by id first
    // (see resolved()); a reference to a binding answers with the empty result.
    //
    // get: the first product field, struct payload field, or association pair with a Str or Sym
    // key, whose name equals `key`.
    const Value* get(std::string_view key) const;
    bool contains_key(std::string_view key) const { return get(key) != nullptr; }
    // Field names, struct payload field names, or the Str and Sym keys of an association.
    std::vector<std::string_view> keys() const;
    // Field values, tuple items, struct payload field values, sequence items, or the value of
    // every association pair.
    std::vector<const Value*> values() const;
    // A sequence item or a tuple payload item.
    const Value* get_index(std::uint64_t index) const;
    // Without looking through references: no fields, items, pairs, elements or annotations.
    // Scalars, references and opaque values are always empty.
    bool is_empty() const;

private:
    using Storage = std::variant<Scalar, Box<Product>, Box<Sum>, Box<Sequence>, Box<Association>,
                                 Box<Reference>, Box<Tensor>, Box<Stream>, Box<Opaque>>;
    Storage storage_;
};

struct Field {
    std::string name;
    Value value;
};

struct Product {
    std::optional<std::string> type_name;
    std::vector<Field> fields;
};

// In the order of the variants.
enum class SumPayloadKind : std::uint8_t { Unit, Tuple, Struct };

// "unit", "tuple", "struct".
std::string_view payload_kind_name(SumPayloadKind kind);

struct SumPayload {
    SumPayloadKind kind = SumPayloadKind::Unit;
    std::vector<Value> items;   // Tuple
    std::vector<Field> fields;  // Struct
};

struct Sum {
    std::optional<std::string> type_name;
    std::string variant;
    SumPayload payload;
};

struct Sequence {
    std::optional<std::string> elem_type;
    std::vector<Value> items;
};

struct Association {
    std::vector<std::pair<Value, Value>> pairs;  // keys of any kind; order and duplicates kept
};

enum class ReferenceKind : std::uint8_t { Binding, ById };

// "binding", "by_id".
std::string_view reference_kind_name(ReferenceKind kind);

struct Reference {
    static Reference to_binding(std::string name) {
        return {ReferenceKind::Binding, std::move(name), std::nullopt};
    }
    static Reference by_id(Value value) {
        return {ReferenceKind::ById, {}, Box<Value>(std::move(value))};
    }

    ReferenceKind kind;
    std::string name;                 // Binding
    std::optional<Box<Value>> boxed;  // ById
};

// In the order of the variants.
enum class TensorDataKind : std::uint8_t { DenseF64, DenseI64, DenseU64, BinaryBlob };

// "dense_f64", "dense_i64", "dense_u64", "binary_blob".
std::string_view data_kind_name(TensorDataKind kind);

struct TensorData {
    using Storage = std::variant<std::vector<double>, std::vector<std::int64_t>,
                                 std::vector<std::uint64_t>, Bytes>;
    Storage storage;

    TensorDataKind kind() const { return static_cast<TensorDataKind>(storage.index()); }
    // Elements, or bytes of a blob.
    std::size_t size() const {
        return std::visit([](const auto& elements) { return elements.size(); }, storage);
    }
};

// The largest dimension a tensor's shape holds: what a signed 64-bit integer holds, as the text
// form reads it.
inline constexpr std::uint64_t kMaxTensorDimension = (std::uint64_t{1} << 63) - 1;

struct Tensor {
    std::string element_type;
    std::vector<std::optional<std::uint64_t>> shape;  // absent: a dimension left open
    TensorData data;
    std::vector<Annotation> annotations;
};

struct Stream {
    std::string item_type;
    std::vector<Annotation> annotations;
};

struct Opaque {
    std::string type_tag;
    Bytes bytes;
};

// ---------------------------------------------------------------------------------------------
// Documents

struct Binding {
    std::string name;
    Value value;
};

struct Document {
    std::vector<std::string> uses;
    std::vector<Binding> bindings;
    std::optional<Value> root;
    std::vector<Annotation> annotations;

    std::vector<std::string_view> binding_names() const;
    std::vector<std::string_view> annotation_names() const;
    // The first binding of that name.
    const Binding* binding(std::string_view name) const;
    // The value a document stands for: its root, else its last binding's value.
    const Value* effective_root_ptr() const;
    // A copy of effective_root_ptr(), or the data error when there is neither.
    Result<Value> effective_root() const;
};

// The data error of a document that has nothing to stand for.
[[gnu::cold]] DralError no_root_error();

}  // namespace dral_core::rfc001
