// Adds module attributes, each public one also to `__all__` (put in order at the end).
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

// The flags of every class, beside those its spec gives (garbage collection, instantiation).
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// Adds the class made from `spec`, the one way every class is made. The first initialisation
// makes it, with `call` as its vectorcall when given, and keeps it in `type` (a member of the
// module state's classes); later ones add the same class, so objects made through any import
// are instances of the one class.
int add_class(PyObject* module, PyType_Spec* spec, PyTypeObject*& type,
              vectorcallfunc call = nullptr);

}  // namespace dral_python
