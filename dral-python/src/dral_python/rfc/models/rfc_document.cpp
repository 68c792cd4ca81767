// RfcDocument: a whole document, its uses, bindings, root and annotations.
#include <string>

#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/model_object.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

namespace rfc = dral_core::rfc001;
using Node = rfc::Document;

const Shared<Node>& document_of(PyObject* self) { return shared_node<Node>(self); }

PyObject* get_uses(PyObject* self, void*) {
    const auto& uses = document_of(self)->uses;
    return build_list(uses.size(), [&](std::size_t i) { return new_utf8_str(uses[i]); });
}

PyObject* get_bindings(PyObject* self, void*) {
    const Shared<Node>& document = document_of(self);
    return shared_list(document, document->bindings, new_rfc_binding);
}

PyObject* get_root(PyObject* self, void*) {
    const Shared<Node>& document = document_of(self);
    if (!document->root) Py_RETURN_NONE;
    return new_rfc_value(share(document, *document->root));
}

PyObject* get_annotations(PyObject* self, void*) {
    const Shared<Node>& document = document_of(self);
    return shared_list(document, document->annotations, new_rfc_annotation);
}

constexpr const char* kNameNames[] = {"name"};
constexpr Signature kBinding{"binding", kNameNames, 1, 1, 1};

PyObject* document_binding(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* parsed[1];
    if (!parse_arguments(kBinding, args, nargs, kwnames, parsed) ||
        !check_str_argument(kBinding, 0, parsed[0]))
        return nullptr;
    auto name = utf8_of(parsed[0]);
    if (!name) {
        // A lone surrogate names no binding: every stored name is valid UTF-8.
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    const Shared<Node>& document = document_of(self);
    const rfc::Binding* binding = document->binding(*name);
    if (binding == nullptr) Py_RETURN_NONE;
    return new_rfc_binding(share(document, *binding));
}

PyObject* document_binding_names(PyObject* self, PyObject*) {
    return str_list(document_of(self)->binding_names());
}

PyObject* document_annotation_names(PyObject* self, PyObject*) {
    return str_list(document_of(self)->annotation_names());
}

PyObject* document_effective_root(PyObject* self, PyObject*) {
    const Shared<Node>& document = document_of(self);
    const rfc::Value* root = document->effective_root_ptr();
    if (root == nullptr) return map_rfc_error(rfc::no_root_error());
    return new_rfc_value(share(document, *root));
}

PyObject* document_to_ctn(PyObject* self, PyObject*) { return ctn_str_of(*document_of(self)); }

PyObject* document_to_dict(PyObject* self, PyObject*) {
    return rfc_document_to_py(*document_of(self));
}

PyObject* document_repr(PyObject* self) {
    const Node& document = *document_of(self);
    std::string text = "RfcDocument(bindings=";
    text += std::to_string(document.bindings.size());
    text += document.root ? ", root=true)" : ", root=false)";
    return new_ascii_str(text);
}

PyGetSetDef kProperties[] = {
    {"uses", guarded<get_uses>, nullptr,
     "The operands of the document's use statements, as a list of str.", nullptr},
    {"bindings", guarded<get_bindings>, nullptr, "The top-level bindings, as a list of RfcBinding.",
     nullptr},
    {"root", guarded<get_root>, nullptr,
     "The root value as an RfcValue, or None when there is none.", nullptr},
    {"annotations", guarded<get_annotations>, nullptr,
     "The document-level annotations, as a list of RfcAnnotation.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"binding", fastcall(guarded<document_binding>), kFastcallKeywords,
     "binding($self, /, name)\n--\n\n"
     "The first binding with this name as an RfcBinding, or None when there is none."},
    {"binding_names", guarded<document_binding_names>, METH_NOARGS,
     "binding_names($self, /)\n--\n\nThe names of all bindings in order, duplicates kept."},
    {"annotation_names", guarded<document_annotation_names>, METH_NOARGS,
     "annotation_names($self, /)\n--\n\nThe names of the document-level annotations in order."},
    {"effective_root", guarded<document_effective_root>, METH_NOARGS,
     "effective_root($self, /)\n--\n\n"
     "The root value, else the last binding's value, as an RfcValue; raises DralRfcError when\n"
     "the document has neither."},
    {"to_ctn", guarded<document_to_ctn>, METH_NOARGS,
     "to_ctn($self, /)\n--\n\nThe whole document as canonical CTN text."},
    {"to_dict", guarded<document_to_dict>, METH_NOARGS,
     "to_dict($self, /)\n--\n\nThe document as a typed Python dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<document_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("A read-only RFC-001 document held on the native side.\n\n"
                                  "Its parts are handed out as new model objects; all of them\n"
                                  "share the one tree, which is never changed.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.RfcDocument", sizeof(ModelObject<Node>), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_rfc_document(Shared<Node> node) {
    return new_model(module_state().classes.rfc_document, std::move(node));
}

int init_rfc_document(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.rfc_document);
}

}  // namespace dral_python
