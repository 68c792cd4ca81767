#include "dral_python/runtime/errors.hpp"

#include <string>

#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

PyObject* new_class(const char* name, const char* doc, PyObject* base) {
    return PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
}

PyObject* raise_with(PyObject* type, const std::string& message) {
    PyRef text(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace

// Classes live for the whole process: every import of the module shares them, so an exception
// raised by one import is caught by `except` clauses written against another.
bool create_exception_classes(ExceptionClasses& c) {
    c.dral_error =
        new_class("_dral_native.DralError", "Base exception for all Dral errors.", PyExc_Exception);
    if (!c.dral_error) return false;
    c.encode_error =
        new_class("_dral_native.DralEncodeError", "Error during encoding.", c.dral_error);
    if (!c.encode_error) return false;
    c.decode_error =
        new_class("_dral_native.DralDecodeError", "Error during decoding.", c.dral_error);
    if (!c.decode_error) return false;
    c.checksum_error = new_class("_dral_native.DralChecksumError", "Checksum verification failed.",
                                 c.decode_error);
    if (!c.checksum_error) return false;
    c.type_error =
        new_class("_dral_native.DralTypeError", "Type cannot be serialized.", c.encode_error);
    if (!c.type_error) return false;
    c.rfc_error = new_class("_dral_native.DralRfcError", "Error in RFC-001 CTN/CBF/CQL processing.",
                            c.dral_error);
    return c.rfc_error != nullptr;
}

PyObject* map_decode_error(const dral_core::DralError& error) {
    const ExceptionClasses* classes = &module_state().errors;
    std::string message = error.message();
    bool checksum = message.find("Checksum mismatch") != std::string::npos;
    return raise_with(checksum ? classes->checksum_error : classes->decode_error, message);
}

PyObject* map_encode_error(const dral_core::DralError& error) {
    return raise_with(module_state().errors.encode_error, error.message());
}

PyObject* map_rfc_error(const dral_core::DralError& error) {
    return raise_with(module_state().errors.rfc_error, error.message());
}

PyObject* raise_encode_error(const char* message) {
    PyErr_SetString(module_state().errors.encode_error, message);
    return nullptr;
}

PyObject* raise_decode_error(const char* message) {
    PyErr_SetString(module_state().errors.decode_error, message);
    return nullptr;
}

PyObject* raise_type_error(PyObject* message) {
    PyErr_SetObject(module_state().errors.type_error, message);
    return nullptr;
}

int init_errors(PyObject* module) {
    const ExceptionClasses* c = &module_state().errors;
    if (add_public_attribute(module, "__version__", PyUnicode_FromString("1.0.2")) < 0) return -1;
    const std::pair<const char*, PyObject*> classes[] = {
        {"DralError", c->dral_error},         {"DralEncodeError", c->encode_error},
        {"DralDecodeError", c->decode_error}, {"DralChecksumError", c->checksum_error},
        {"DralTypeError", c->type_error},     {"DralRfcError", c->rfc_error},
    };
    for (const auto& [name, type] : classes)
        if (add_public_attribute(module, name, Py_NewRef(type)) < 0) return -1;
    return 0;
}

}  // namespace dral_python
