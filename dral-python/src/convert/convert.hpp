// Conversion between Python objects and core Values: the reference path that defines what every
// Python-facing function accepts and returns.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

#include "value/value.hpp"

namespace dral_python {

// Nullopt with a Python exception set when `object` cannot be converted.
std::optional<dral_core::Value> py_to_value(PyObject* object, bool sort_keys);

// A new reference, or nullptr with an exception set (interpreter failures only).
PyObject* value_to_py(const dral_core::Value& value);

// The str of a dict key, `key` being valid UTF-8: ASCII keys, which repeat across a document,
// come from the shared cache. A new reference, or nullptr with an exception set.
PyObject* key_to_py(std::string_view key);

// The error for a Python object nested deeper than the native converters allow.
PyObject* raise_too_deep();

// Name of the object's type as `type.__name__` gives it.
PyObject* type_name(PyObject* object);

}  // namespace dral_python
