// RfcField and RfcBinding: a name and a value. The two classes have the same members over two
// node types, so one template makes both.
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/models/model_object.hpp"
#include "dral_python/rfc/typed_dict.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;

struct NamedClassTexts {
    PyTypeObject* BindingClasses::*type;  // where the module state keeps the class
    const char* class_name;
    const char* qualified_name;
    const char* class_doc;
    const char* name_doc;
    const char* value_doc;
    const char* to_dict_doc;
};

constexpr NamedClassTexts kFieldTexts{
    &BindingClasses::rfc_field,
    "RfcField",
    "_dral_native.RfcField",
    "A read-only named field of an RFC-001 product or struct payload, held on the native side.",
    "The field's name.",
    "The field's value, as a new RfcValue.",
    "to_dict($self, /)\n--\n\n"
    "The field as a dict {\"name\": name, \"value\": the typed dictionary of the value}.",
};

constexpr NamedClassTexts kBindingTexts{
    &BindingClasses::rfc_binding,
    "RfcBinding",
    "_dral_native.RfcBinding",
    "A read-only named top-level value of an RFC-001 document, held on the native side.",
    "The binding's name.",
    "The binding's value, as a new RfcValue.",
    "to_dict($self, /)\n--\n\n"
    "The binding as a dict {\"name\": name, \"value\": the typed dictionary of the value}.",
};

template <class Node>
PyObject* get_name(PyObject* self, void*) {
    return new_utf8_str(node_of<Node>(self).name);
}

template <class Node>
PyObject* get_value(PyObject* self, void*) {
    const Shared<Node>& node = shared_node<Node>(self);
    return new_rfc_value(share(node, node->value));
}

template <class Node>
PyObject* to_dict(PyObject* self, PyObject*) {
    const Node& node = node_of<Node>(self);
    return rfc_named_value_to_py(node.name, node.value);
}

template <class Node, const NamedClassTexts& kTexts>
PyObject* repr(PyObject* self) {
    return named_repr(kTexts.class_name, node_of<Node>(self).name);
}

template <class Node, const NamedClassTexts& kTexts>
int init_named_class(PyObject* module) {
    static PyGetSetDef properties[] = {
        {"name", guarded<get_name<Node>>, nullptr, kTexts.name_doc, nullptr},
        {"value", guarded<get_value<Node>>, nullptr, kTexts.value_doc, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyMethodDef methods[] = {
        {"to_dict", guarded<to_dict<Node>>, METH_NOARGS, kTexts.to_dict_doc},
        {nullptr, nullptr, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
        {Py_tp_repr, reinterpret_cast<void*>(guarded<repr<Node, kTexts>>)},
        {Py_tp_getset, properties},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char*>(kTexts.class_doc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {kTexts.qualified_name, sizeof(ModelObject<Node>), 0,
                               Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return add_class(module, &spec, (module_state().classes.*kTexts.type));
}

}  // namespace

PyObject* new_rfc_field(Shared<rfc::Field> node) {
    return new_model(module_state().classes.rfc_field, std::move(node));
}

PyObject* new_rfc_binding(Shared<rfc::Binding> node) {
    return new_model(module_state().classes.rfc_binding, std::move(node));
}

int init_rfc_field(PyObject* module) { return init_named_class<rfc::Field, kFieldTexts>(module); }

int init_rfc_binding(PyObject* module) {
    return init_named_class<rfc::Binding, kBindingTexts>(module);
}

}  // namespace dral_python
