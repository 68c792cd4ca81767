// A check that every function, method and slot of the module is registered through `guarded`.
#pragma once

#include <Python.h>

namespace dral_python {

// Adds `_entry_points()`: each native entry point of the module and its classes, as a list of
// (name, guarded) pairs, for tests.
int init_entry_points(PyObject* module);

}  // namespace dral_python
