// Reading of the text notation straight into Python objects, without building Value trees.
#pragma once

#include <Python.h>

#include "dral_core/base/error.hpp"

namespace dral_python {

// The document in the str `text` as a new reference, or nullptr with the exception set:
// ValueError for text that does not parse, UnicodeEncodeError for a str that has no UTF-8 form,
// MemoryError when the interpreter runs out of memory.
PyObject* parse_text_to_py(PyObject* text);

// Raises the ValueError of a text parse error; returns nullptr.
PyObject* raise_parse_error(const dral_core::DralError& error);

}  // namespace dral_python
