// The text notation written straight from Python objects, without building a Value tree.
#pragma once

#include <Python.h>

#include <cstddef>

#include "dral_python/convert/convert.hpp"

namespace dral_python {

// The indented notation of `object` as a new str, or nullptr with the exception set: the one the
// reference path (py_to_value, then the writer of Value trees) raises for an object it refuses.
PyObject* pretty_print_to_str(PyObject* object, std::size_t indent, const ConvertOptions& options);

// The reference path itself, for differential checks.
PyObject* pretty_print_reference(PyObject* object, std::size_t indent,
                                 const ConvertOptions& options);

}  // namespace dral_python
