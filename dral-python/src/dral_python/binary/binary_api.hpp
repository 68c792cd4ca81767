// The binary API functions of the module.
#pragma once

#include <Python.h>

namespace dral_python {

// Adds dumps, loads, dump, load, encode, decode, encode_to_file, decode_from_file.
int init_binary_api(PyObject* module);

// Adds the reference-path twins used by differential tests (not part of __all__).
int init_binary_api_private(PyObject* module);

}  // namespace dral_python
