// Compression names as the Python API accepts them.
#pragma once

#include <Python.h>

#include <optional>

#include "dral_core/binary/stream.hpp"

namespace dral_python {

// The code for a compression name (a str), or nullopt for an unknown name.
std::optional<dral_core::CompressionType> lookup_named_compression(PyObject* name);

// The code for a compression argument (absent, None or str), or nullopt for an unknown name; no
// exception is set, so that callers decide when the name error is raised. Inline for the usual
// absent argument: a small dumps feels the call.
inline std::optional<dral_core::CompressionType> lookup_compression(PyObject* name) {
    if (name == nullptr || name == Py_None) [[likely]]
        return dral_core::CompressionType::None;
    return lookup_named_compression(name);
}

// Sets ValueError "unknown compression: ..." for `name`; returns nullptr.
PyObject* raise_unknown_compression(PyObject* name);

// lookup_compression, raising for an unknown name.
std::optional<dral_core::CompressionType> parse_compression(PyObject* name);

}  // namespace dral_python
