// Conversion between Python objects and core Values: the reference path that defines what every
// Python-facing function accepts and returns.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_core/value/value.hpp"
#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/py_ref.hpp"

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

// Calls of the default hook made while writing a value, in order: each object with what the hook
// returned for it.
using HookCalls = std::vector<std::pair<PyRef, PyRef>>;

// Nullopt with a Python exception set when `object` cannot be converted. With `made`, the hook is
// not called again for the calls it holds: while the objects met are those it holds, in order,
// their results are taken from it; from the first other one on, the hook is called.
std::optional<dral_core::Value> py_to_value(PyObject* object, const ConvertOptions& options,
                                            const HookCalls* made = nullptr);

// The error for a dict that changed size while it was converted; returns false.
bool raise_dict_changed();

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
