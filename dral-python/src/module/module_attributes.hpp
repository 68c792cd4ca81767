// Adds module attributes in registration order, each also appended to `__all__`.
#pragma once

#include <Python.h>

namespace dral_python {

// A METH_FASTCALL (| METH_KEYWORDS) function as the PyCFunction a PyMethodDef stores.
template <class Function>
PyCFunction fastcall(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}
inline constexpr int kFastcallKeywords = METH_FASTCALL | METH_KEYWORDS;

// Steals `value`. Returns -1 with an exception set on failure.
int add_public_attribute(PyObject* module, const char* name, PyObject* value);

// Adds one function; `function` must outlive the module (a static table entry).
int add_public_function(PyObject* module, PyMethodDef* function);

// Adds each function of a null-terminated table, in table order.
int add_public_functions(PyObject* module, PyMethodDef* functions);

// Adds a heap type created from `spec`; stores a new reference in `*type_out` when given.
int add_public_type(PyObject* module, PyType_Spec* spec, PyTypeObject** type_out);

}  // namespace dral_python
