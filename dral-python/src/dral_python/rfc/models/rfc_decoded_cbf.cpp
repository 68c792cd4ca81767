// RfcDecodedCbf: a decoded compiled file, its header, symbol table and root-only document.
#include <string>

#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/cbf_api.hpp"
#include "dral_python/rfc/counted_results.hpp"
#include "dral_python/rfc/models/cbf_models.hpp"
#include "dral_python/rfc/models/model_object.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

using Node = dral_core::rfc001::cbf::DecodedDocument;

PyObject* get_header(PyObject* self, void*) { return new_rfc_header(node_of<Node>(self).header); }

PyObject* get_symbols(PyObject* self, void*) {
    const auto& symbols = node_of<Node>(self).symbols;
    return build_list(symbols.size(), [&](std::size_t i) { return new_utf8_str(symbols[i]); });
}

PyObject* get_document(PyObject* self, void*) {
    const Shared<Node>& decoded = shared_node<Node>(self);
    return new_rfc_document(share(decoded, decoded->document));
}

PyObject* get_ctn(PyObject* self, void*) { return ctn_str_of(node_of<Node>(self).document); }

PyObject* decoded_to_dict(PyObject* self, PyObject*) {
    return rfc_decoded_cbf_to_py(node_of<Node>(self));
}

PyObject* decoded_repr(PyObject* self) {
    const Node& decoded = node_of<Node>(self);
    auto ctn = dral_core::rfc001::ctn::format_document(decoded.document);
    if (!ctn) return map_rfc_error(ctn.error());
    std::string text = "RfcDecodedCbf(symbols=";
    text += std::to_string(decoded.symbols.size());
    text += ", ctn_len=";
    text += std::to_string(ctn->size());
    text += ')';
    return new_ascii_str(text);
}

PyGetSetDef kProperties[] = {
    {"header", guarded<get_header>, nullptr, "The file's header as a new RfcHeader.", nullptr},
    {"symbols", guarded<get_symbols>, nullptr, "The symbol table in file order, as a list of str.",
     nullptr},
    {"document", guarded<get_document>, nullptr,
     "The decoded document as an RfcDocument: its root only, without uses, bindings or "
     "annotations.",
     nullptr},
    {"ctn", guarded<get_ctn>, nullptr, "The decoded document as canonical CTN text.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"to_dict", guarded<decoded_to_dict>, METH_NOARGS,
     "to_dict($self, /)\n--\n\n"
     "The decoded file as rfc_decode_cbf returns it: header, symbols, document and ctn."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(model_dealloc<Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<decoded_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("A decoded compiled RFC-001 file held on the native side.\n\n"
                                  "Made by rfc_decode_cbf_model(); its document shares the one\n"
                                  "decoded tree, which is never changed.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.RfcDecodedCbf", sizeof(ModelObject<Node>), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_rfc_decoded_cbf(Shared<Node> decoded) {
    return new_model(module_state().classes.rfc_decoded_cbf, std::move(decoded));
}

int init_rfc_decoded_cbf(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.rfc_decoded_cbf);
}

}  // namespace dral_python
