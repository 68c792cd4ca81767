#include "support/rfc_equal.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace dral_fuzz {

using namespace dral_core::rfc001;

namespace {

bool same_float(double a, double b, RfcEquality equality);

bool same_scalar(const Scalar& a, const Scalar& b, RfcEquality equality) {
    // CTN writes a VU64 within the signed range as plain digits, which read back as a VI64.
    if (equality == RfcEquality::ReadBack && a.type() == ScalarType::VU64 &&
        b.type() == ScalarType::VI64)
        return b.as_signed() >= 0 && a.as_unsigned() == static_cast<std::uint64_t>(b.as_signed());
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
            if (equality == RfcEquality::ReadBack && std::isnan(a.as_f32()) &&
                std::isnan(b.as_f32()))
                return true;
            return std::bit_cast<std::uint32_t>(a.as_f32()) ==
                   std::bit_cast<std::uint32_t>(b.as_f32());
        case ScalarType::F64:
            return same_float(a.as_f64(), b.as_f64(), equality);
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

bool same_annotations(const std::vector<Annotation>& a, const std::vector<Annotation>& b,
                      RfcEquality equality) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].value.has_value() != b[i].value.has_value())
            return false;
        if (a[i].value && !same_scalar(*a[i].value, *b[i].value, equality)) return false;
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

bool same_data(const TensorData& a, const TensorData& b, RfcEquality equality) {
    if (a.kind() != b.kind()) return false;
    if (a.kind() == TensorDataKind::DenseF64) {
        const auto& x = std::get<0>(a.storage);
        const auto& y = std::get<0>(b.storage);
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!same_float(x[i], y[i], equality)) return false;
        return true;
    }
    if (a.kind() == TensorDataKind::BinaryBlob && equality == RfcEquality::ReadBack)
        return a.size() == b.size();
    return a.storage == b.storage;
}

// Where the formatter writes a value: on a line of its own (a root, a binding, an item of a
// block sequence, a field or map value of a block), or inside a one-line form, perhaps a tuple
// payload's.
struct Place {
    bool one_line = false;
    bool in_tuple = false;
};

bool unreadable(const Value& value, Place place);

bool any_unreadable(const std::vector<Value>& items, Place place) {
    return std::any_of(items.begin(), items.end(),
                       [&](const Value& item) { return unreadable(item, place); });
}

bool any_unreadable(const std::vector<Field>& fields, Place place) {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const Field& field) { return unreadable(field.value, place); });
}

// A sequence the formatter writes on one line wherever it stands.
bool one_line_sequence(const Sequence& sequence) {
    return sequence.items.size() <= 8 &&
           std::all_of(sequence.items.begin(), sequence.items.end(), [](const Value& item) {
               return item.kind() == ValueKind::Scalar || item.kind() == ValueKind::Reference;
           });
}

bool unreadable(const Value& value, Place place) {
    const Place inside{true, place.in_tuple};
    switch (value.kind()) {
        case ValueKind::Scalar:
            return false;
        case ValueKind::Product:
            return place.one_line || value.product().fields.empty() ||
                   any_unreadable(value.product().fields, Place{});
        case ValueKind::Sum: {
            const Sum& s = value.sum();
            if (!s.type_name || place.in_tuple) return true;
            if (s.payload.kind == SumPayloadKind::Tuple)
                return any_unreadable(s.payload.items, Place{true, true});
            if (s.payload.kind == SumPayloadKind::Unit) return false;
            if (s.payload.fields.empty()) return true;
            return any_unreadable(s.payload.fields,
                                  place.one_line || s.variant.empty() ? inside : Place{});
        }
        case ValueKind::Sequence: {
            const Sequence& s = value.sequence();
            return any_unreadable(s.items,
                                  place.one_line || one_line_sequence(s) ? inside : Place{});
        }
        case ValueKind::Association:
            for (const auto& [key, item] : value.association().pairs)
                if (unreadable(key, inside) || unreadable(item, place.one_line ? inside : Place{}))
                    return true;
            return false;
        case ValueKind::Reference:
            return value.reference().kind == ReferenceKind::ById &&
                   unreadable(**value.reference().boxed, inside);
        case ValueKind::Tensor: {
            const TensorDataKind kind = value.tensor().data.kind();
            return place.one_line || kind == TensorDataKind::DenseI64 ||
                   kind == TensorDataKind::DenseU64;
        }
        case ValueKind::Stream:
            return place.one_line;
        case ValueKind::Opaque:
            return true;
    }
    return true;
}

bool same_float(double a, double b, RfcEquality equality) {
    if (equality == RfcEquality::ReadBack && std::isnan(a) && std::isnan(b)) return true;
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

bool same_value(const Value& a, const Value& b, RfcEquality equality) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case ValueKind::Scalar:
            return same_scalar(a.scalar(), b.scalar(), equality);
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
            // Read back, a sequence written on one line has lost its element type, and one
            // written as a block without one has "any".
            const bool types_kept =
                equality == RfcEquality::Exact ||
                (!x.items.empty() && (equality == RfcEquality::Compiled ||
                                      (y.elem_type && (x.elem_type || *y.elem_type != "any"))));
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
                   same_data(x.data, y.data, equality) &&
                   same_annotations(x.annotations, y.annotations, equality);
        }
        case ValueKind::Stream:
            return a.stream().item_type == b.stream().item_type &&
                   same_annotations(a.stream().annotations, b.stream().annotations, equality);
        case ValueKind::Opaque:
            return a.opaque().type_tag == b.opaque().type_tag &&
                   a.opaque().bytes == b.opaque().bytes;
    }
    return false;
}

bool has_unreadable_ctn(const Document& document) {
    for (const Binding& binding : document.bindings)
        if (unreadable(binding.value, Place{})) return true;
    return document.root && unreadable(*document.root, Place{});
}

}  // namespace dral_fuzz
