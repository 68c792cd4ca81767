// RfcField: one named field of a product or of a struct payload.
#include "rfc/models/named_model.hpp"

namespace dral_python {
namespace {

using Node = dral_core::rfc001::Field;

PyTypeObject* g_type = nullptr;

constexpr char kClassName[] = "RfcField";

PyGetSetDef kProperties[] = {
    {"name", named_model::get_name<Node>, nullptr, "The field's name.", nullptr},
    {"value", named_model::get_value<Node>, nullptr, "The field's value, as a new RfcValue.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"to_dict", named_model::to_dict<Node>, METH_NOARGS,
     "to_dict($self, /)\n--\n\n"
     "The field as a dict {\"name\": name, \"value\": the typed dictionary of the value}."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(named_model::repr<Node, kClassName>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("A read-only named field of an RFC-001 product or struct "
                                  "payload, held on the native side.")},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "_dral_native.RfcField", sizeof(ModelObject<Node>), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE, kSlots};

}  // namespace

PyObject* new_rfc_field(Shared<Node> node) { return new_model(g_type, std::move(node)); }

int init_rfc_field(PyObject* module) { return add_model_class(module, &kSpec, &g_type); }

}  // namespace dral_python
