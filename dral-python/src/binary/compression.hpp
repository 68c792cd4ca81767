// Compression names as the Python API accepts them.
#pragma once

#include <Python.h>

#include <optional>

#include "binary/stream.hpp"

namespace dral_python {

// The code for a compression argument (None or str), or nullopt for an unknown name; no
// exception is set, so that callers decide when the name error is raised.
std::optional<dral_core::CompressionType> lookup_compression(PyObject* name);

// Sets ValueError "unknown compression: ..." for `name`; returns nullptr.
PyObject* raise_unknown_compression(PyObject* name);

// lookup_compression, raising for an unknown name.
std::optional<dral_core::CompressionType> parse_compression(PyObject* name);

}  // namespace dral_python
