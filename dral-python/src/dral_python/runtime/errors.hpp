// The module's exception classes and the mapping of core errors onto them.
#pragma once

#include <Python.h>

#include "dral_core/base/error.hpp"

namespace dral_python {

struct ExceptionClasses {
    PyObject* dral_error;
    PyObject* encode_error;
    PyObject* decode_error;
    PyObject* checksum_error;
    PyObject* type_error;
    PyObject* rfc_error;
};

// Makes the classes (once per process, with the module state); false with an exception set.
bool create_exception_classes(ExceptionClasses& out);

// Each sets the Python exception for `error` and returns nullptr, for `return map_...(e);`.
PyObject* map_decode_error(const dral_core::DralError& error);
PyObject* map_encode_error(const dral_core::DralError& error);
PyObject* map_rfc_error(const dral_core::DralError& error);

// Raises one of the module's classes with a fixed message; returns nullptr.
PyObject* raise_encode_error(const char* message);
PyObject* raise_decode_error(const char* message);
PyObject* raise_type_error(PyObject* message);

// Adds `__version__` and the six exception classes to `module`.
int init_errors(PyObject* module);

}  // namespace dral_python
