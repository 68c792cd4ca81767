// DralValue: a read-only view that keeps one core Value on the native side and converts it to
// Python objects only on request.
#pragma once

#include <Python.h>

#include "dral_core/value/value.hpp"

namespace dral_python {

// A new DralValue owning `value`, or nullptr with an exception set.
PyObject* new_dral_value(dral_core::Value value);

// Adds the DralValue class to `module`.
int init_dral_value(PyObject* module);

}  // namespace dral_python
