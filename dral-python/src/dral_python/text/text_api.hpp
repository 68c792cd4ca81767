// The text notation functions and the constructors of DralValue views.
#pragma once

#include <Python.h>

namespace dral_python {

// Adds parse_text, pretty_print, to_value, loads_value, parse_text_value.
int init_text_api(PyObject* module);

// Adds the reference path of pretty_print, for differential tests.
int init_text_api_private(PyObject* module);

}  // namespace dral_python
