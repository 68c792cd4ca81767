// RfcAnnotation: a name with an optional scalar, on a document, a tensor or a stream.
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/models/model_object.hpp"
#include "dral_python/rfc/typed_dict.hpp"

namespace dral_python {
namespace {

using Node = dral_core::rfc001::Annotation;

PyObject* get_name(PyObject* self, void*) { return new_utf8_str(node_of<Node>(self).name); }

PyObject* get_value(PyObject* self, void*) {
    const Node& node = node_of<Node>(self);
    if (!node.value) Py_RETURN_NONE;
    return rfc_scalar_to_py(*node.value);
}

PyObject* annotation_to_dict(PyObject* self, PyObject*) {
    return rfc_annotation_to_py(node_of<Node>(self));
}

PyObject* annotation_repr(PyObject* self) {
    return named_repr("RfcAnnotation", node_of<Node>(self).name);
}

PyGetSetDef kProperties[] = {
    {"name", guarded<get_name>, nullptr, "The annotation's name.", nullptr},
    {"value", guarded<get_value>, nullptr,
     "The annotation's value as a typed scalar dictionary, or None when it has none.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"to_dict", guarded<annotation_to_dict>, METH_NOARGS,
     "to_dict($self, /)\n--\n\n"
     "The annotation as a dict {\"name\": name, \"value\": scalar dictionary or None}."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<annotation_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("A read-only RFC-001 annotation, a name with an optional "
                                  "scalar value, held on the native side.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.RfcAnnotation", sizeof(ModelObject<Node>), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_rfc_annotation(Shared<Node> node) {
    return new_model(module_state().classes.rfc_annotation, std::move(node));
}

int init_rfc_annotation(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.rfc_annotation);
}

}  // namespace dral_python
