// Encoding of Python objects straight into a core Encoder, without building a Value tree.
#pragma once

#include <Python.h>

#include "dral_core/binary/encoder.hpp"
#include "dral_python/convert/convert.hpp"

namespace dral_python {

// Appends `object` as one top-level value, converted with `options`: the one way in for every
// writer of Dral streams from Python objects (dumps and its kin, Encoder, and any streaming writer
// to come, which would call it once per value). On failure the encoder is restored and the error
// is the one the reference path (py_to_value, then Encoder::encode_value) raises; returns false
// with that exception set.
bool encode_object(dral_core::Encoder& encoder, PyObject* object, const ConvertOptions& options);

// encode_object for an encoder that closes blocks as it goes: a block it closes is checksummed
// and compressed with the interpreter lock released. Its owner must refuse other calls meanwhile.
bool encode_object_releasing(dral_core::Encoder& encoder, PyObject* object,
                             const ConvertOptions& options);

// The reference path itself, for differential checks.
bool encode_object_reference(dral_core::Encoder& encoder, PyObject* object,
                             const ConvertOptions& options);

}  // namespace dral_python
