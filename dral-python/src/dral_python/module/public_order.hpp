// The order of the module's public attributes, written once: `__all__`, the stub's `__all__`
// (checked against it by the tests) and the package's re-exports follow it.
#pragma once

#include <Python.h>

namespace dral_python {

// Puts the public attributes, once all are added, in their order, in `__all__` and in the
// module's namespace; fails (SystemError) on one added but not in the order or in it but never
// added. -1 with an exception set.
int order_public_attributes(PyObject* module);

}  // namespace dral_python
