// Whole-file reads and writes for the path-taking functions, with OSError subclasses on failure.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

namespace dral_python {

// `os.fspath`-style conversion of a str or path-like argument; a new reference to the result
// (str or bytes), or nullptr with TypeError set.
PyObject* fspath(PyObject* path);

// Replaces the file with one holding `data`, as replace_file does. Returns false with OSError set.
bool write_file(PyObject* path, std::span<const std::uint8_t> data);

// The whole file as a new bytes object, or nullptr with OSError set.
PyObject* read_file(PyObject* path);

}  // namespace dral_python
