// RfcValue: one value of a tree. Its properties describe the value itself; lookups (get,
// subscription, membership, keys, values) look through references by id, as the tree's own
// accessors do.
#include <string>
#include <string_view>

#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/cpython/view_lookup.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/model_object.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;
using rfc::ValueKind;
using Node = rfc::Value;

const Shared<Node>& value_of(PyObject* self) { return shared_node<Node>(self); }

// The length of the value itself, references not followed: what len() gives and what negative
// indexes count back from.
std::size_t length_of(const Node& value) {
    switch (value.kind()) {
        case ValueKind::Product:
            return value.product().fields.size();
        case ValueKind::Sum: {
            const rfc::SumPayload& payload = value.sum().payload;
            switch (payload.kind) {
                case rfc::SumPayloadKind::Unit:
                    return 0;
                case rfc::SumPayloadKind::Tuple:
                    return payload.items.size();
                case rfc::SumPayloadKind::Struct:
                    return payload.fields.size();
            }
            return 0;
        }
        case ValueKind::Sequence:
            return value.sequence().items.size();
        case ValueKind::Association:
            return value.association().pairs.size();
        case ValueKind::Tensor:
            return value.tensor().data.size();
        case ValueKind::Stream:
            return value.stream().annotations.size();
        default:
            return 0;
    }
}

PyObject* optional_str(const std::optional<std::string>& text) {
    return text ? new_utf8_str(*text) : Py_NewRef(Py_None);
}

// ---------------------------------------------------------------------------------------------
// Lookup

struct ValueParts {
    static constexpr const char* kBadKey = "RfcValue keys must be str or int";

    static std::size_t length(PyObject* self) { return length_of(*value_of(self)); }

    static const Node* item(PyObject* self, std::size_t index) {
        return value_of(self)->get_index(index);
    }

    static const Node* entry(PyObject* self, std::string_view key) {
        return value_of(self)->get(key);
    }

    static PyObject* view_of(PyObject* self, const Node& part) {
        return new_rfc_value(share(value_of(self), part));
    }
};

using Lookup = ViewLookup<ValueParts>;

Py_ssize_t value_length(PyObject* self) {
    return static_cast<Py_ssize_t>(ValueParts::length(self));
}

// ---------------------------------------------------------------------------------------------
// Lists

PyObject* value_keys(PyObject* self, PyObject*) { return str_list(value_of(self)->keys()); }

PyObject* value_values(PyObject* self, PyObject*) {
    const Shared<Node>& value = value_of(self);
    const std::vector<const Node*> values = value->values();
    return build_list(values.size(),
                      [&](std::size_t i) { return new_rfc_value(share(value, *values[i])); });
}

PyObject* value_fields(PyObject* self, PyObject*) {
    const Shared<Node>& value = value_of(self);
    if (value->kind() == ValueKind::Product)
        return shared_list(value, value->product().fields, new_rfc_field);
    if (value->kind() == ValueKind::Sum && value->sum().payload.kind == rfc::SumPayloadKind::Struct)
        return shared_list(value, value->sum().payload.fields, new_rfc_field);
    return PyList_New(0);
}

PyObject* value_annotations(PyObject* self, PyObject*) {
    const Shared<Node>& value = value_of(self);
    if (value->kind() == ValueKind::Tensor)
        return shared_list(value, value->tensor().annotations, new_rfc_annotation);
    if (value->kind() == ValueKind::Stream)
        return shared_list(value, value->stream().annotations, new_rfc_annotation);
    return PyList_New(0);
}

PyObject* value_to_ctn(PyObject* self, PyObject*) { return ctn_str_of(*value_of(self)); }

PyObject* value_to_dict(PyObject* self, PyObject*) { return rfc_value_to_py(*value_of(self)); }

PyObject* value_repr(PyObject* self) {
    std::string text = "RfcValue(kind=\"";
    text += value_of(self)->kind_name();
    text += "\")";
    return new_ascii_str(text);
}

// ---------------------------------------------------------------------------------------------
// Properties

PyObject* get_kind(PyObject* self, void*) { return new_ascii_str(value_of(self)->kind_name()); }

PyObject* get_is_scalar(PyObject* self, void*) {
    return PyBool_FromLong(value_of(self)->is_scalar());
}

PyObject* get_is_empty(PyObject* self, void*) {
    return PyBool_FromLong(value_of(self)->is_empty());
}

PyObject* get_type_name(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() == ValueKind::Product) return optional_str(value.product().type_name);
    if (value.kind() == ValueKind::Sum) return optional_str(value.sum().type_name);
    Py_RETURN_NONE;
}

PyObject* get_variant(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Sum) Py_RETURN_NONE;
    return new_utf8_str(value.sum().variant);
}

PyObject* get_payload_kind(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Sum) Py_RETURN_NONE;
    return new_ascii_str(rfc::payload_kind_name(value.sum().payload.kind));
}

PyObject* get_elem_type(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Sequence) Py_RETURN_NONE;
    return optional_str(value.sequence().elem_type);
}

PyObject* get_element_type(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Tensor) Py_RETURN_NONE;
    return new_utf8_str(value.tensor().element_type);
}

PyObject* get_shape(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Tensor) return PyList_New(0);
    const auto& shape = value.tensor().shape;
    return build_list(shape.size(), [&](std::size_t i) {
        return shape[i] ? PyLong_FromUnsignedLongLong(*shape[i]) : Py_NewRef(Py_None);
    });
}

PyObject* get_data_kind(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (value.kind() != ValueKind::Tensor) Py_RETURN_NONE;
    return new_ascii_str(rfc::data_kind_name(value.tensor().data.kind()));
}

PyObject* get_scalar_type(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (!value.is_scalar()) Py_RETURN_NONE;
    return new_ascii_str(value.scalar().type_name());
}

PyObject* get_scalar_value(PyObject* self, void*) {
    const Node& value = *value_of(self);
    if (!value.is_scalar()) Py_RETURN_NONE;
    return rfc_scalar_value_to_py(value.scalar());
}

PyGetSetDef kProperties[] = {
    {"kind", guarded<get_kind>, nullptr,
     "The kind: \"scalar\", \"product\", \"sum\", \"sequence\", \"association\", \"reference\", "
     "\"tensor\", \"stream\" or \"opaque\".",
     nullptr},
    {"is_scalar", guarded<get_is_scalar>, nullptr,
     "True for a scalar (not for a reference to one).", nullptr},
    {"is_empty", guarded<get_is_empty>, nullptr,
     "True when the value has no fields, items, pairs, elements or annotations; always True for "
     "scalars, references and opaque values.",
     nullptr},
    {"type_name", guarded<get_type_name>, nullptr,
     "The type name of a product or sum, or None when it has none or is of another kind.", nullptr},
    {"variant", guarded<get_variant>, nullptr, "The variant name of a sum; None for other kinds.",
     nullptr},
    {"payload_kind", guarded<get_payload_kind>, nullptr,
     "The payload kind of a sum: \"unit\", \"tuple\" or \"struct\"; None for other kinds.",
     nullptr},
    {"elem_type", guarded<get_elem_type>, nullptr,
     "The declared element type of a sequence, or None.", nullptr},
    {"element_type", guarded<get_element_type>, nullptr,
     "The element type of a tensor; None for other kinds.", nullptr},
    {"shape", guarded<get_shape>, nullptr,
     "The dimensions of a tensor, an int or None (open) each; empty for other kinds.", nullptr},
    {"data_kind", guarded<get_data_kind>, nullptr,
     "The data kind of a tensor: \"dense_f64\", \"dense_i64\", \"dense_u64\" or "
     "\"binary_blob\"; None for other kinds.",
     nullptr},
    {"scalar_type", guarded<get_scalar_type>, nullptr,
     "The type of a scalar; None for other kinds.", nullptr},
    {"scalar_value", guarded<get_scalar_value>, nullptr,
     "The plain Python value of a scalar (a tagged scalar gives its value text); None for other "
     "kinds.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"get", fastcall(guarded<Lookup::get>), kFastcallKeywords,
     "get($self, /, key)\n--\n\n"
     "The value under a str key, or the item at an int index (negative counts back from\n"
     "len()), as an RfcValue; None when there is none."},
    {"keys", guarded<value_keys>, METH_NOARGS,
     "keys($self, /)\n--\n\n"
     "The field names, or the str and symbol keys of an association, as a list of str."},
    {"values", guarded<value_values>, METH_NOARGS,
     "values($self, /)\n--\n\n"
     "The field values, items, or association values, as a list of RfcValue."},
    {"fields", guarded<value_fields>, METH_NOARGS,
     "fields($self, /)\n--\n\n"
     "The fields of a product or struct payload as a list of RfcField; empty otherwise."},
    {"annotations", guarded<value_annotations>, METH_NOARGS,
     "annotations($self, /)\n--\n\n"
     "The annotations of a tensor or stream as a list of RfcAnnotation; empty otherwise."},
    {"to_ctn", guarded<value_to_ctn>, METH_NOARGS,
     "to_ctn($self, /)\n--\n\nThe value as CTN text."},
    {"to_dict", guarded<value_to_dict>, METH_NOARGS,
     "to_dict($self, /)\n--\n\nThe value as a typed Python dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<value_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_mp_subscript, reinterpret_cast<void*>(guarded<Lookup::subscript>)},
    {Py_mp_length, reinterpret_cast<void*>(guarded<value_length>)},
    {Py_sq_contains, reinterpret_cast<void*>(guarded<Lookup::contains>)},
    {Py_tp_doc, const_cast<char*>("A read-only RFC-001 value held on the native side.\n\n"
                                  "Sub-values, fields and annotations are handed out as new\n"
                                  "model objects.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.RfcValue", sizeof(ModelObject<Node>), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_rfc_value(Shared<Node> node) {
    return new_model(module_state().classes.rfc_value, std::move(node));
}

int init_rfc_value(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.rfc_value);
}

}  // namespace dral_python
