#include "module/errors.hpp"

#include <string>

#include "cpython/py_ref.hpp"
#include "module/module_attributes.hpp"

namespace dral_python {
namespace {

ExceptionClasses g_classes;
bool g_created = false;

PyObject* new_class(const char* name, const char* doc, PyObject* base) {
    return PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
}

bool create_classes() {
    ExceptionClasses c{};
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
    if (!c.rfc_error) return false;
    g_classes = c;
    return true;
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
const ExceptionClasses* exception_classes() {
    if (!g_created) g_created = create_classes();
    return g_created ? &g_classes : nullptr;
}

PyObject* map_decode_error(const dral_core::DralError& error) {
    const ExceptionClasses* classes = exception_classes();
    if (!classes) return nullptr;
    std::string message = error.message();
    bool checksum = message.find("Checksum mismatch") != std::string::npos;
    return raise_with(checksum ? classes->checksum_error : classes->decode_error, message);
}

PyObject* map_encode_error(const dral_core::DralError& error) {
    const ExceptionClasses* classes = exception_classes();
    return classes ? raise_with(classes->encode_error, error.message()) : nullptr;
}

PyObject* map_rfc_error(const dral_core::DralError& error) {
    const ExceptionClasses* classes = exception_classes();
    return classes ? raise_with(classes->rfc_error, error.message()) : nullptr;
}

PyObject* raise_encode_error(const char* message) {
    const ExceptionClasses* classes = exception_classes();
    if (classes) PyErr_SetString(classes->encode_error, message);
    return nullptr;
}

PyObject* raise_decode_error(const char* message) {
    const ExceptionClasses* classes = exception_classes();
    if (classes) PyErr_SetString(classes->decode_error, message);
    return nullptr;
}

PyObject* raise_type_error(PyObject* message) {
    const ExceptionClasses* classes = exception_classes();
    if (classes) PyErr_SetObject(classes->type_error, message);
    return nullptr;
}

int init_errors(PyObject* module) {
    const ExceptionClasses* c = exception_classes();
    if (!c) return -1;
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
