#include "convert/py_kind.hpp"

#include "convert/convert.hpp"
#include "cpython/py_ref.hpp"
#include "module/errors.hpp"

namespace dral_python {

PyKind classify_other(PyObject* object) {
    if (PyLong_Check(object)) return PyKind::Int;  // bool is exact: it cannot be subclassed
    if (PyFloat_Check(object)) return PyKind::Float;
    if (PyUnicode_Check(object)) return PyKind::Str;
    if (PyBytes_Check(object)) return PyKind::Bytes;
    if (PyDict_Check(object) || PyList_Check(object) || PyTuple_Check(object))
        return PyKind::SubclassedContainer;
    return PyKind::Unsupported;
}

bool raise_unconvertible(PyObject* object, PyKind kind) {
    if (kind == PyKind::SubclassedContainer) {
        const char* base = PyDict_Check(object) ? "dict" : PyList_Check(object) ? "list" : "tuple";
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to '%s'",
                     Py_TYPE(object)->tp_name, base);
        return false;
    }
    PyRef name(type_name(object));
    if (name) {
        // %S: a metaclass may make __name__ anything, not only a str.
        PyRef message(PyUnicode_FromFormat("cannot convert %S to Dral value", name.get()));
        if (message) raise_type_error(message.get());
    }
    return false;
}

bool raise_bad_key() {
    PyErr_Clear();  // a str without a UTF-8 form is reported as any other bad key
    PyRef message(PyUnicode_FromString("dict keys must be strings"));
    if (message) raise_type_error(message.get());
    return false;
}

}  // namespace dral_python
