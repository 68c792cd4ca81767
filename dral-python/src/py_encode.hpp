// Encoding of Python objects straight into a core Encoder, without building a Value tree.
#pragma once

#include <Python.h>

#include "encoder.hpp"

namespace dral_python {

// Appends `object` as one top-level value. On failure the encoder is restored and the error is
// the one the reference path (py_to_value, then Encoder::encode_value) raises; returns false
// with that exception set.
bool encode_object(dral_core::Encoder& encoder, PyObject* object, bool sort_keys);

// The reference path itself, for differential checks.
bool encode_object_reference(dral_core::Encoder& encoder, PyObject* object, bool sort_keys);

}  // namespace dral_python
