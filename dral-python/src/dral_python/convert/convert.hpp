// Conversion between Python objects and core Values: the reference path that defines what every
// Python-facing function accepts and returns.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "dral_core/value/value.hpp"
#include "dral_python/cpython/arguments.hpp"

namespace dral_python {

// How Python objects convert: the options of every entry point that converts them.
struct ConvertOptions {
    bool sort_keys = false;
    // Called with each object the rules refuse; its result converts in the object's place.
    // Borrowed from the caller.
    PyObject* default_hook = nullptr;
    // The encoder's nesting limit (at most the native bound), applied while converting with the
    // encoder's error; without it only the native bound applies (RecursionError).
    std::optional<std::uint64_t> max_depth;
};

// Reads the `default` argument at `args[default_index]` and, unless `max_depth_index` is
// negative, `max_depth` at `args[max_depth_index]` (any unsigned 64-bit number; the native
// bound applies above it) into `out`; false with the argument error set.
bool read_convert_arguments(const Signature& signature, PyObject** args, int default_index,
                            int max_depth_index, ConvertOptions& out);

// Nullopt with a Python exception set when `object` cannot be converted.
std::optional<dral_core::Value> py_to_value(PyObject* object, const ConvertOptions& options);

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
