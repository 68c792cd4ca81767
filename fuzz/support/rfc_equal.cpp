#include "support/rfc_equal.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace dral_fuzz {

using namespace dral_core::rfc001;

namespace {

bool same_scalar(const Scalar& a, const Scalar& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case ScalarType::Null:
        case ScalarType::Unit:
            return true;
        case ScalarType::Bool:
            return a.as_bool() == b.as_bool();
        case ScalarType::I64:
        case ScalarType::VI64:
            return a.as_signed() == b.as_signed();
        case ScalarType::U64:
        case ScalarType::VU64:
            return a.as_unsigned() == b.as_unsigned();
        case ScalarType::F32:
            return std::bit_cast<std::uint32_t>(a.as_f32()) ==
                   std::bit_cast<std::uint32_t>(b.as_f32());
        case ScalarType::F64:
            return std::bit_cast<std::uint64_t>(a.as_f64()) ==
                   std::bit_cast<std::uint64_t>(b.as_f64());
        case ScalarType::Str:
        case ScalarType::Sym:
            return a.text() == b.text();
        case ScalarType::Bytes:
            return a.as_bytes() == b.as_bytes();
        case ScalarType::Tagged:
            return a.tag() == b.tag() && a.text() == b.text();
    }
    return false;
}

bool same_annotations(const std::vector<Annotation>& a, const std::vector<Annotation>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].value.has_value() != b[i].value.has_value())
            return false;
        if (a[i].value && !same_scalar(*a[i].value, *b[i].value)) return false;
    }
    return true;
}

bool same_values(const std::vector<Value>& a, const std::vector<Value>& b, RfcEquality equality) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same_value(a[i], b[i], equality)) return false;
    return true;
}

bool same_fields(const std::vector<Field>& a, const std::vector<Field>& b, RfcEquality equality) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || !same_value(a[i].value, b[i].value, equality)) return false;
    return true;
}

bool same_data(const TensorData& a, const TensorData& b) {
    if (a.kind() != b.kind()) return false;
    if (a.kind() == TensorDataKind::DenseF64) {
        const auto& x = std::get<0>(a.storage);
        const auto& y = std::get<0>(b.storage);
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (std::bit_cast<std::uint64_t>(x[i]) != std::bit_cast<std::uint64_t>(y[i]))
                return false;
        return true;
    }
    return a.storage == b.storage;
}

bool quoted(const std::string& text) { return text.find('"') != std::string::npos; }

// A name read from a line of its own keeps any brackets; where they do not pair up, the one-line
// forms that must hold it (a reference by id, a payload, a map key) split around it elsewhere.
bool unbalanced(const std::string& text) {
    const auto count = [&](char c) { return std::count(text.begin(), text.end(), c); };
    return count('(') != count(')') || count('[') != count(']') || count('<') != count('>');
}

bool unwritable_name(const std::string& text) { return quoted(text) || unbalanced(text); }

bool unreadable(const Value& value) {
    switch (value.kind()) {
        case ValueKind::Scalar: {
            const Scalar& s = value.scalar();
            return (s.type() == ScalarType::Str || s.type() == ScalarType::Tagged) &&
                   quoted(s.text());
        }
        case ValueKind::Product:
            for (const Field& f : value.product().fields)
                if (unreadable(f.value)) return true;
            return false;
        case ValueKind::Sum: {
            const Sum& s = value.sum();
            if (!s.type_name || unwritable_name(*s.type_name) || unwritable_name(s.variant))
                return true;
            for (const Value& item : s.payload.items)
                if (unreadable(item)) return true;
            for (const Field& f : s.payload.fields)
                if (unwritable_name(f.name) || unreadable(f.value)) return true;
            return false;
        }
        case ValueKind::Sequence:
            for (const Value& item : value.sequence().items)
                if (unreadable(item)) return true;
            return false;
        case ValueKind::Association:
            for (const auto& [key, item] : value.association().pairs)
                if (unreadable(key) || unreadable(item)) return true;
            return false;
        case ValueKind::Reference:
            return value.reference().kind == ReferenceKind::ById &&
                   unreadable(**value.reference().boxed);
        case ValueKind::Tensor:
            return value.tensor().element_type.find('[') != std::string::npos;
        default:
            return false;
    }
}

}  // namespace

bool same_value(const Value& a, const Value& b, RfcEquality equality) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case ValueKind::Scalar:
            return same_scalar(a.scalar(), b.scalar());
        case ValueKind::Product:
            return a.product().type_name == b.product().type_name &&
                   same_fields(a.product().fields, b.product().fields, equality);
        case ValueKind::Sum: {
            const Sum& x = a.sum();
            const Sum& y = b.sum();
            return x.type_name == y.type_name && x.variant == y.variant &&
                   x.payload.kind == y.payload.kind &&
                   same_values(x.payload.items, y.payload.items, equality) &&
                   same_fields(x.payload.fields, y.payload.fields, equality);
        }
        case ValueKind::Sequence: {
            const Sequence& x = a.sequence();
            const Sequence& y = b.sequence();
            const bool types_kept = equality == RfcEquality::Exact || !x.items.empty();
            return (!types_kept || x.elem_type == y.elem_type) &&
                   same_values(x.items, y.items, equality);
        }
        case ValueKind::Association: {
            const auto& x = a.association().pairs;
            const auto& y = b.association().pairs;
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!same_value(x[i].first, y[i].first, equality) ||
                    !same_value(x[i].second, y[i].second, equality))
                    return false;
            return true;
        }
        case ValueKind::Reference: {
            const Reference& x = a.reference();
            const Reference& y = b.reference();
            if (x.kind != y.kind) return false;
            return x.kind == ReferenceKind::Binding ? x.name == y.name
                                                    : same_value(**x.boxed, **y.boxed, equality);
        }
        case ValueKind::Tensor: {
            const Tensor& x = a.tensor();
            const Tensor& y = b.tensor();
            return x.element_type == y.element_type && x.shape == y.shape &&
                   same_data(x.data, y.data) && same_annotations(x.annotations, y.annotations);
        }
        case ValueKind::Stream:
            return a.stream().item_type == b.stream().item_type &&
                   same_annotations(a.stream().annotations, b.stream().annotations);
        case ValueKind::Opaque:
            return a.opaque().type_tag == b.opaque().type_tag &&
                   a.opaque().bytes == b.opaque().bytes;
    }
    return false;
}

bool has_unreadable_ctn(const Document& document) {
    for (const Binding& binding : document.bindings)
        if (unreadable(binding.value)) return true;
    return document.root && unreadable(*document.root);
}

}  // namespace dral_fuzz
