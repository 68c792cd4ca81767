#include "dral_python/rfc/typed_dict.hpp"

#include <array>
#include <string_view>

#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;
using rfc::ValueKind;

// Every key and every kind or type string the dictionaries hold, created once per process and
// shared by all of them: str objects are immutable, and a shared key keeps its cached hash.
enum Name : std::size_t {
    kKind,
    kType,
    kValue,
    kTag,
    kTypeName,
    kFields,
    kName,
    kVariant,
    kPayload,
    kElemType,
    kItems,
    kPairs,
    kReferenceKind,
    kElementType,
    kShape,
    kAnnotations,
    kData,
    kValues,
    kBytes,
    kItemType,
    kTypeTag,
    kUses,
    kBindings,
    kRoot,
    kNameCount,
};
constexpr std::array<const char*, kNameCount> kNameTexts{
    "kind",           "type",         "value",    "tag",         "type_name", "fields",
    "name",           "variant",      "payload",  "elem_type",   "items",     "pairs",
    "reference_kind", "element_type", "shape",    "annotations", "data",      "values",
    "bytes",          "item_type",    "type_tag", "uses",        "bindings",  "root",
};

static_assert(kNameCount == kTypedDictNameCount);

TypedDictStrings& strings() { return module_state().typed_dict; }

PyObject* interned(std::string_view text) {
    PyObject* str = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (str != nullptr) PyUnicode_InternInPlace(&str);
    return str;
}

template <std::size_t N, class Namer>
bool fill(PyObject* (&out)[N], Namer namer) {
    for (std::size_t i = 0; i < N; ++i)
        if ((out[i] = interned(namer(i))) == nullptr) return false;
    return true;
}

PyObject* name(Name which) { return strings().names[which]; }

template <class Enum, std::size_t N>
PyObject* new_ref(PyObject* const (&table)[N], Enum which) {
    return Py_NewRef(table[static_cast<std::size_t>(which)]);
}

PyObject* text(std::string_view value) { return new_utf8_str(value); }

PyObject* optional_text(const std::optional<std::string>& value) {
    return value ? text(*value) : Py_NewRef(Py_None);
}

PyObject* new_bytes(const dral_core::Bytes& bytes) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

// Stores `value` (a new reference, or nullptr after a failure) under `key`; false with the
// exception set.
bool put(PyObject* dict, Name key, PyObject* value) {
    if (value == nullptr) return false;
    const int status = PyDict_SetItem(dict, name(key), value);
    Py_DECREF(value);
    return status == 0;
}

// A new dict whose "kind" is `kind`.
PyRef kind_dict(PyObject* kind) {
    PyRef dict(PyDict_New());
    if (dict && !put(dict.get(), kKind, Py_NewRef(kind))) return PyRef();
    return dict;
}

PyObject* value_dict(const rfc::Value& value);
PyObject* annotation_dict(const rfc::Annotation& annotation);
PyObject* named_dict(std::string_view entry_name, const rfc::Value& value);

PyObject* field_list(const std::vector<rfc::Field>& fields) {
    return build_list(fields.size(),
                      [&](std::size_t i) { return named_dict(fields[i].name, fields[i].value); });
}

PyObject* value_list(const std::vector<rfc::Value>& values) {
    return build_list(values.size(), [&](std::size_t i) { return value_dict(values[i]); });
}

PyObject* annotation_list(const std::vector<rfc::Annotation>& annotations) {
    return build_list(annotations.size(),
                      [&](std::size_t i) { return annotation_dict(annotations[i]); });
}

PyObject* payload_to_py(const rfc::SumPayload& payload) {
    PyRef dict = kind_dict(strings().payloads[static_cast<std::size_t>(payload.kind)]);
    if (!dict) return nullptr;
    if (payload.kind == rfc::SumPayloadKind::Tuple &&
        !put(dict.get(), kItems, value_list(payload.items)))
        return nullptr;
    if (payload.kind == rfc::SumPayloadKind::Struct &&
        !put(dict.get(), kFields, field_list(payload.fields)))
        return nullptr;
    return dict.release();
}

template <class Number, class Make>
PyObject* number_list(const std::vector<Number>& numbers, Make make) {
    return build_list(numbers.size(), [&](std::size_t i) { return make(numbers[i]); });
}

PyObject* tensor_data_to_py(const rfc::TensorData& data) {
    PyRef dict = kind_dict(strings().data_kinds[static_cast<std::size_t>(data.kind())]);
    if (!dict) return nullptr;
    PyObject* content = nullptr;
    switch (data.kind()) {
        case rfc::TensorDataKind::DenseF64:
            content = number_list(std::get<0>(data.storage), PyFloat_FromDouble);
            break;
        case rfc::TensorDataKind::DenseI64:
            content = number_list(std::get<1>(data.storage),
                                  [](std::int64_t v) { return PyLong_FromLongLong(v); });
            break;
        case rfc::TensorDataKind::DenseU64:
            content = number_list(std::get<2>(data.storage),
                                  [](std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); });
            break;
        case rfc::TensorDataKind::BinaryBlob:
            return put(dict.get(), kBytes, new_bytes(std::get<3>(data.storage))) ? dict.release()
                                                                                 : nullptr;
    }
    return put(dict.get(), kValues, content) ? dict.release() : nullptr;
}

PyObject* shape_to_py(const std::vector<std::optional<std::uint64_t>>& shape) {
    return build_list(shape.size(), [&](std::size_t i) {
        return shape[i] ? PyLong_FromUnsignedLongLong(*shape[i]) : Py_NewRef(Py_None);
    });
}

bool fill_value(PyObject* dict, const rfc::Value& value) {
    switch (value.kind()) {
        case ValueKind::Scalar:
            return true;  // handled by the caller
        case ValueKind::Product: {
            const rfc::Product& product = value.product();
            return put(dict, kTypeName, optional_text(product.type_name)) &&
                   put(dict, kFields, field_list(product.fields));
        }
        case ValueKind::Sum: {
            const rfc::Sum& sum = value.sum();
            return put(dict, kTypeName, optional_text(sum.type_name)) &&
                   put(dict, kVariant, text(sum.variant)) &&
                   put(dict, kPayload, payload_to_py(sum.payload));
        }
        case ValueKind::Sequence: {
            const rfc::Sequence& sequence = value.sequence();
            return put(dict, kElemType, optional_text(sequence.elem_type)) &&
                   put(dict, kItems, value_list(sequence.items));
        }
        case ValueKind::Association: {
            const auto& pairs = value.association().pairs;
            return put(dict, kPairs, build_list(pairs.size(), [&](std::size_t i) -> PyObject* {
                           PyRef key(value_dict(pairs[i].first));
                           if (!key) return nullptr;
                           PyObject* pair_value = value_dict(pairs[i].second);
                           if (pair_value == nullptr) return nullptr;
                           PyObject* pair = PyList_New(2);
                           if (pair == nullptr) {
                               Py_DECREF(pair_value);
                               return nullptr;
                           }
                           PyList_SET_ITEM(pair, 0, key.release());
                           PyList_SET_ITEM(pair, 1, pair_value);
                           return pair;
                       }));
        }
        case ValueKind::Reference: {
            const rfc::Reference& reference = value.reference();
            if (!put(dict, kReferenceKind, new_ref(strings().references, reference.kind)))
                return false;
            return reference.kind == rfc::ReferenceKind::Binding
                       ? put(dict, kName, text(reference.name))
                       : put(dict, kValue, value_dict(**reference.boxed));
        }
        case ValueKind::Tensor: {
            const rfc::Tensor& tensor = value.tensor();
            return put(dict, kElementType, text(tensor.element_type)) &&
                   put(dict, kShape, shape_to_py(tensor.shape)) &&
                   put(dict, kAnnotations, annotation_list(tensor.annotations)) &&
                   put(dict, kData, tensor_data_to_py(tensor.data));
        }
        case ValueKind::Stream: {
            const rfc::Stream& stream = value.stream();
            return put(dict, kItemType, text(stream.item_type)) &&
                   put(dict, kAnnotations, annotation_list(stream.annotations));
        }
        case ValueKind::Opaque: {
            const rfc::Opaque& opaque = value.opaque();
            return put(dict, kTypeTag, text(opaque.type_tag)) &&
                   put(dict, kBytes, new_bytes(opaque.bytes));
        }
    }
    return true;
}

PyObject* scalar_dict(const rfc::Scalar& scalar) {
    PyRef dict = kind_dict(strings().kinds[static_cast<std::size_t>(ValueKind::Scalar)]);
    if (!dict || !put(dict.get(), kType, new_ref(strings().types, scalar.type()))) return nullptr;
    if (scalar.type() == rfc::ScalarType::Tagged && !put(dict.get(), kTag, text(scalar.tag())))
        return nullptr;
    return put(dict.get(), kValue, rfc_scalar_value_to_py(scalar)) ? dict.release() : nullptr;
}

PyObject* value_dict(const rfc::Value& value) {
    if (value.is_scalar()) return scalar_dict(value.scalar());
    PyRef dict = kind_dict(strings().kinds[static_cast<std::size_t>(value.kind())]);
    if (!dict || !fill_value(dict.get(), value)) return nullptr;
    return dict.release();
}

PyObject* annotation_dict(const rfc::Annotation& annotation) {
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), kName, text(annotation.name)) ||
        !put(dict.get(), kValue,
             annotation.value ? scalar_dict(*annotation.value) : Py_NewRef(Py_None)))
        return nullptr;
    return dict.release();
}

PyObject* named_dict(std::string_view entry_name, const rfc::Value& value) {
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), kName, text(entry_name)) ||
        !put(dict.get(), kValue, value_dict(value)))
        return nullptr;
    return dict.release();
}

PyObject* document_dict(const rfc::Document& document) {
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), kAnnotations, annotation_list(document.annotations)) ||
        !put(dict.get(), kUses,
             build_list(document.uses.size(),
                        [&](std::size_t i) { return text(document.uses[i]); })) ||
        !put(dict.get(), kBindings,
             build_list(document.bindings.size(),
                        [&](std::size_t i) {
                            return named_dict(document.bindings[i].name,
                                              document.bindings[i].value);
                        })) ||
        !put(dict.get(), kRoot, document.root ? value_dict(*document.root) : Py_NewRef(Py_None)))
        return nullptr;
    return dict.release();
}

}  // namespace

PyObject* rfc_scalar_value_to_py(const rfc::Scalar& scalar) {
    using rfc::ScalarType;
    switch (scalar.type()) {
        case ScalarType::Null:
        case ScalarType::Unit:
            Py_RETURN_NONE;
        case ScalarType::Bool:
            return PyBool_FromLong(scalar.as_bool());
        case ScalarType::I64:
        case ScalarType::VI64:
            return PyLong_FromLongLong(scalar.as_signed());
        case ScalarType::U64:
        case ScalarType::VU64:
            return PyLong_FromUnsignedLongLong(scalar.as_unsigned());
        case ScalarType::F32:
            return PyFloat_FromDouble(static_cast<double>(scalar.as_f32()));
        case ScalarType::F64:
            return PyFloat_FromDouble(scalar.as_f64());
        case ScalarType::Bytes:
            return new_bytes(scalar.as_bytes());
        case ScalarType::Str:
        case ScalarType::Sym:
        case ScalarType::Tagged:
            return text(scalar.text());
    }
    Py_RETURN_NONE;
}

// The converters pause the cyclic collector: it would only scan the containers being built,
// which cannot be garbage yet, and no Python code runs meanwhile.
PyObject* rfc_document_to_py(const rfc::Document& document) {
    GcPause pause;
    return document_dict(document);
}

PyObject* rfc_value_to_py(const rfc::Value& value) {
    GcPause pause;
    return value_dict(value);
}

PyObject* rfc_scalar_to_py(const rfc::Scalar& scalar) {
    GcPause pause;
    return scalar_dict(scalar);
}

PyObject* rfc_annotation_to_py(const rfc::Annotation& annotation) {
    GcPause pause;
    return annotation_dict(annotation);
}

PyObject* rfc_named_value_to_py(std::string_view name, const rfc::Value& value) {
    GcPause pause;
    return named_dict(name, value);
}

bool create_typed_dict_strings(TypedDictStrings& s) {
    return fill(s.names, [](std::size_t i) { return std::string_view(kNameTexts[i]); }) &&
           fill(s.kinds,
                [](std::size_t i) { return rfc::kind_name_of(static_cast<ValueKind>(i)); }) &&
           fill(s.types,
                [](std::size_t i) { return rfc::type_name_of(static_cast<rfc::ScalarType>(i)); }) &&
           fill(s.payloads,
                [](std::size_t i) {
                    return rfc::payload_kind_name(static_cast<rfc::SumPayloadKind>(i));
                }) &&
           fill(s.references,
                [](std::size_t i) {
                    return rfc::reference_kind_name(static_cast<rfc::ReferenceKind>(i));
                }) &&
           fill(s.data_kinds, [](std::size_t i) {
               return rfc::data_kind_name(static_cast<rfc::TensorDataKind>(i));
           });
}

}  // namespace dral_python
