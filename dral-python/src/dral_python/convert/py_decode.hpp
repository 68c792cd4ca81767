// Decoding of Dral bytes straight into Python objects, without building Value trees.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>

#include "dral_core/base/limits.hpp"
#include "dral_core/binary/decoder.hpp"
#include "dral_python/cpython/arguments.hpp"

namespace dral_python {

// Every top-level value as a new list, or nullptr with the mapped decode error set.
PyObject* decode_to_list(std::span<const std::uint8_t> data, const dral_core::DecodeLimits& limits);

// The single top-level value itself, or a list of all of them when there are zero or several.
PyObject* decode_single_or_list(std::span<const std::uint8_t> data,
                                const dral_core::DecodeLimits& limits);

// The next top-level value of `decoder` as a new reference; nullptr with the mapped decode error
// set, or nullptr with no exception set when it gives no more (at the stream's end, or at the end
// of its window).
PyObject* decode_next_to_py(dral_core::Decoder& decoder);

// The reference path (Value trees, then value_to_py), for differential checks.
PyObject* decode_to_list_reference(std::span<const std::uint8_t> data,
                                   const dral_core::DecodeLimits& limits);

// Limits as the Python functions configure them from `strict` and `max_depth`.
dral_core::DecodeLimits limits_for(bool strict, std::uint64_t max_depth);

// Reads the `strict` and `max_depth` arguments at `args[first]` and `args[first + 1]` (nullptr
// when omitted) into limits; nullopt with the argument error set.
std::optional<dral_core::DecodeLimits> decode_options(const Signature& signature, PyObject** args,
                                                      int first);

// The content of a bytes object.
std::span<const std::uint8_t> bytes_span(PyObject* bytes);

}  // namespace dral_python
