// The incremental classes Encoder and DralDecoder.
#pragma once

#include <Python.h>

namespace dral_python {

// Adds Encoder and DralDecoder to `module`.
int init_incremental(PyObject* module);

}  // namespace dral_python
