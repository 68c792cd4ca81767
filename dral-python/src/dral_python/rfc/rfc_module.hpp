// Registration of the RFC-001 functions and classes.
#pragma once

#include <Python.h>

namespace dral_python {

// Adds every rfc_ function.
int init_rfc_functions(PyObject* module);

// Adds the Rfc model classes.
int init_rfc_classes(PyObject* module);

}  // namespace dral_python
