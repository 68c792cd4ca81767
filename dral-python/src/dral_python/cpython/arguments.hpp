// Argument parsing for METH_FASTCALL | METH_KEYWORDS entry points, with the interpreter's own
// wording for missing, extra and mistyped arguments.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

namespace dral_python {

struct Signature {
    const char* function;      // as named in messages, e.g. "dumps"
    const char* const* names;  // every parameter, positional ones first
    int count;                 // number of names
    int positional;            // how many may be given by position
    int required;              // how many leading parameters must be given
};

bool parse_any_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames, PyObject** out);

// Fills `out[0..count)` with borrowed references, nullptr for omitted optional parameters.
// Returns false with TypeError set.
inline bool parse_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** out) {
    // Most calls pass positional arguments only; inlined, this takes no call and no loop.
    if (kwnames != nullptr || nargs < signature.required || nargs > signature.positional)
        return parse_any_arguments(signature, args, nargs, kwnames, out);
    for (int i = 0; i < signature.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    return true;
}

// The same for a classic (args tuple, kwargs dict) call, as tp_new receives it.
bool parse_classic_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                             PyObject** out);

// Typed readers of optional arguments: `fallback` when omitted; nullopt with an exception set
// when the value has the wrong type or range.
std::optional<bool> bool_argument(const Signature& signature, int index, PyObject* value,
                                  bool fallback);
std::optional<std::uint64_t> u64_argument(const Signature& signature, int index, PyObject* value,
                                          std::uint64_t fallback);
// `bytes` or a subclass; returns false with TypeError naming the argument.
bool check_bytes_argument(const Signature& signature, int index, PyObject* value);
// `str` or a subclass.
bool check_str_argument(const Signature& signature, int index, PyObject* value);

}  // namespace dral_python
