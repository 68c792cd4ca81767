#include "dral_core/rfc001/ast.hpp"

#include <array>

namespace dral_core::rfc001 {
namespace {

constexpr std::array<std::string_view, 13> kScalarTypeNames{
    "null", "unit", "bool", "i64",   "u64", "vi64",   "vu64",
    "f32",  "f64",  "str",  "bytes", "sym", "tagged",
};
constexpr std::array<std::string_view, 9> kKindNames{
    "scalar",    "product", "sum",    "sequence", "association",
    "reference", "tensor",  "stream", "opaque",
};

const std::vector<Field>* fields_of(const Value& value) {
    if (value.kind() == ValueKind::Product) return &value.product().fields;
    if (value.kind() == ValueKind::Sum && value.sum().payload.kind == SumPayloadKind::Struct)
        return &value.sum().payload.fields;
    return nullptr;
}

const std::vector<Value>* items_of(const Value& value) {
    if (value.kind() == ValueKind::Sequence) return &value.sequence().items;
    if (value.kind() == ValueKind::Sum && value.sum().payload.kind == SumPayloadKind::Tuple)
        return &value.sum().payload.items;
    return nullptr;
}

// The text of an association key that names something, or nothing.
const std::string* key_text(const Value& key) {
    return key.is_scalar() && key.scalar().is_text() ? &key.scalar().text() : nullptr;
}

}  // namespace

std::string_view type_name_of(ScalarType type) {
    return kScalarTypeNames[static_cast<std::size_t>(type)];
}

std::string_view kind_name_of(ValueKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

std::string_view payload_kind_name(SumPayloadKind kind) {
    constexpr std::array<std::string_view, 3> kNames{"unit", "tuple", "struct"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::string_view reference_kind_name(ReferenceKind kind) {
    return kind == ReferenceKind::Binding ? "binding" : "by_id";
}

std::string_view data_kind_name(TensorDataKind kind) {
    constexpr std::array<std::string_view, 4> kNames{"dense_f64", "dense_i64", "dense_u64",
                                                     "binary_blob"};
    return kNames[static_cast<std::size_t>(kind)];
}

Value::Value(Product&& product) : storage_(std::in_place_index<1>, std::move(product)) {}
Value::Value(Sum&& sum) : storage_(std::in_place_index<2>, std::move(sum)) {}
Value::Value(Sequence&& sequence) : storage_(std::in_place_index<3>, std::move(sequence)) {}
Value::Value(Association&& association)
    : storage_(std::in_place_index<4>, std::move(association)) {}
Value::Value(Reference&& reference) : storage_(std::in_place_index<5>, std::move(reference)) {}
Value::Value(Tensor&& tensor) : storage_(std::in_place_index<6>, std::move(tensor)) {}
Value::Value(Stream&& stream) : storage_(std::in_place_index<7>, std::move(stream)) {}
Value::Value(Opaque&& opaque) : storage_(std::in_place_index<8>, std::move(opaque)) {}

Value::~Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;

const Value& Value::resolved() const {
    const Value* value = this;
    while (value->kind() == ValueKind::Reference && value->reference().kind == ReferenceKind::ById)
        value = &**value->reference().boxed;
    return *value;
}

const Value* Value::get(std::string_view key) const {
    const Value& value = resolved();
    if (const auto* fields = fields_of(value)) {
        for (const Field& field : *fields)
            if (field.name == key) return &field.value;
    } else if (value.kind() == ValueKind::Association) {
        for (const auto& [pair_key, pair_value] : value.association().pairs) {
            const std::string* text = key_text(pair_key);
            if (text != nullptr && *text == key) return &pair_value;
        }
    }
    return nullptr;
}

std::vector<std::string_view> Value::keys() const {
    const Value& value = resolved();
    std::vector<std::string_view> keys;
    if (const auto* fields = fields_of(value)) {
        keys.reserve(fields->size());
        for (const Field& field : *fields) keys.emplace_back(field.name);
    } else if (value.kind() == ValueKind::Association) {
        for (const auto& pair : value.association().pairs)
            if (const std::string* text = key_text(pair.first)) keys.emplace_back(*text);
    }
    return keys;
}

std::vector<const Value*> Value::values() const {
    const Value& value = resolved();
    std::vector<const Value*> values;
    if (const auto* fields = fields_of(value)) {
        values.reserve(fields->size());
        for (const Field& field : *fields) values.push_back(&field.value);
    } else if (const auto* items = items_of(value)) {
        values.reserve(items->size());
        for (const Value& item : *items) values.push_back(&item);
    } else if (value.kind() == ValueKind::Association) {
        values.reserve(value.association().pairs.size());
        for (const auto& pair : value.association().pairs) values.push_back(&pair.second);
    }
    return values;
}

const Value* Value::get_index(std::uint64_t index) const {
    const auto* items = items_of(resolved());
    return items != nullptr && index < items->size() ? &(*items)[index] : nullptr;
}

bool Value::is_empty() const {
    switch (kind()) {
        case ValueKind::Product:
            return product().fields.empty();
        case ValueKind::Sum: {
            const SumPayload& payload = sum().payload;
            return payload.kind == SumPayloadKind::Unit ||
                   (payload.kind == SumPayloadKind::Tuple ? payload.items.empty()
                                                          : payload.fields.empty());
        }
        case ValueKind::Sequence:
            return sequence().items.empty();
        case ValueKind::Association:
            return association().pairs.empty();
        case ValueKind::Tensor:
            return tensor().data.size() == 0;
        case ValueKind::Stream:
            return stream().annotations.empty();
        default:
            return true;
    }
}

std::vector<std::string_view> Document::binding_names() const {
    std::vector<std::string_view> names;
    names.reserve(bindings.size());
    for (const Binding& binding : bindings) names.emplace_back(binding.name);
    return names;
}

std::vector<std::string_view> Document::annotation_names() const {
    std::vector<std::string_view> names;
    names.reserve(annotations.size());
    for (const Annotation& annotation : annotations) names.emplace_back(annotation.name);
    return names;
}

const Binding* Document::binding(std::string_view name) const {
    for (const Binding& binding : bindings)
        if (binding.name == name) return &binding;
    return nullptr;
}

const Value* Document::effective_root_ptr() const {
    if (root) return &*root;
    return bindings.empty() ? nullptr : &bindings.back().value;
}

Result<Value> Document::effective_root() const {
    const Value* value = effective_root_ptr();
    if (value == nullptr) return fail(no_root_error());
    return *value;
}

DralError no_root_error() {
    return DralError::invalid_data("document has no root value or bindings");
}

}  // namespace dral_core::rfc001
