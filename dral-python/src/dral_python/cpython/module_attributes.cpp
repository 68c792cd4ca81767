#include "dral_python/cpython/module_attributes.hpp"

#include <cstring>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {

int add_public_attribute(PyObject* module, const char* name, PyObject* value) {
    PyRef owned(value);
    if (!owned) return -1;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    PyRef all_owned(all);
    PyRef name_object(PyUnicode_FromString(name));
    if (!name_object || PyList_Append(all, name_object.get()) < 0) return -1;
    return PyModule_AddObjectRef(module, name, owned.get());
}

int add_public_function(PyObject* module, PyMethodDef* function) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    return add_public_attribute(module, function->ml_name,
                                PyCMethod_New(function, module, module_name.get(), nullptr));
}

int add_public_functions(PyObject* module, PyMethodDef* functions) {
    for (PyMethodDef* def = functions; def->ml_name != nullptr; ++def)
        if (add_public_function(module, def) < 0) return -1;
    return 0;
}

int add_class(PyObject* module, PyType_Spec* spec, PyTypeObject*& type, vectorcallfunc call) {
    if (type == nullptr) {
        spec->flags |= kClassFlags;
        PyObject* made = PyType_FromModuleAndSpec(module, spec, nullptr);
        if (made == nullptr) return -1;
        type = reinterpret_cast<PyTypeObject*>(made);
        if (call != nullptr) type->tp_vectorcall = call;
    }
    const char* dot = std::strrchr(spec->name, '.');
    return add_public_attribute(module, dot ? dot + 1 : spec->name,
                                Py_NewRef(reinterpret_cast<PyObject*>(type)));
}

}  // namespace dral_python
