#include "dral_python/module/public_order.hpp"

#include <iterator>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {
namespace {

// Attributes added later come last, so that the earlier ones keep their places.
// clang-format off
constexpr const char* kPublicOrder[] = {
    "__version__",
    "DralError",
    "DralEncodeError",
    "DralDecodeError",
    "DralChecksumError",
    "DralTypeError",
    "DralRfcError",
    "dumps",
    "loads",
    "dump",
    "load",
    "encode",
    "decode",
    "encode_to_file",
    "decode_from_file",
    "parse_text",
    "pretty_print",
    "to_value",
    "loads_value",
    "parse_text_value",
    "RFC001_CBF_MAGIC",
    "RFC001_CBF_HEADER_SIZE",
    "rfc_parse_ctn",
    "rfc_format_ctn",
    "rfc_compile_ctn",
    "rfc_decode_cbf",
    "rfc_cbf_to_ctn",
    "rfc_query_cbf",
    "rfc_query_ctn",
    "rfc_parse_ctn_model",
    "rfc_decode_cbf_model",
    "rfc_query_cbf_model",
    "rfc_query_ctn_model",
    "Encoder",
    "DralDecoder",
    "DralValue",
    "RfcAnnotation",
    "RfcField",
    "RfcBinding",
    "RfcHeader",
    "RfcDocument",
    "RfcDecodedCbf",
    "RfcValue",
    "Writer",
    "Reader",
    "scan_blocks",
    "rfc_query_cbf_file",
    "rfc_query_cbf_file_model",
};
// clang-format on

}  // namespace

int order_public_attributes(PyObject* module) {
    PyRef added(PyObject_GetAttrString(module, "__all__"));
    PyRef ordered(PyList_New(0));
    if (!added || !ordered) return -1;
    PyObject* names = PyModule_GetDict(module);
    for (const char* name : kPublicOrder) {
        PyRef key(PyUnicode_InternFromString(name));
        if (!key) return -1;
        const int was_added = PySequence_Contains(added.get(), key.get());
        if (was_added < 0) return -1;
        PyObject* found = PyDict_GetItemWithError(names, key.get());
        if (found == nullptr && PyErr_Occurred()) return -1;
        if (was_added == 0 || found == nullptr) {
            PyErr_Format(PyExc_SystemError, "public attribute %s was never added", name);
            return -1;
        }
        PyRef value = PyRef::borrow(found);
        // Added again, it moves to the end of the namespace's order.
        if (PyDict_DelItem(names, key.get()) < 0 ||
            PyDict_SetItem(names, key.get(), value.get()) < 0 ||
            PyList_Append(ordered.get(), key.get()) < 0)
            return -1;
    }
    if (PyList_GET_SIZE(added.get()) != static_cast<Py_ssize_t>(std::size(kPublicOrder))) {
        PyErr_SetString(PyExc_SystemError, "a public attribute has no place in the order");
        return -1;
    }
    return PyObject_SetAttrString(module, "__all__", ordered.get());
}

}  // namespace dral_python
