// Encoding of Python objects straight into a core Encoder, without building a Value tree.
#pragma once

#include <Python.h>

#include "binary/encoder.hpp"

namespace dral_python {

// Appends `object` as one top-level value. On failure the encoder is restored and the error is
// the one the reference path (py_to_value, then Encoder::encode_value) raises; returns false
// with that exception set.
bool encode_object(dral_core::Encoder& encoder, PyObject* object, bool sort_keys);

// A new encoder, writing into the block buffer a finished one of its kind left behind, if any.
// A one-shot encoder (finished once, dropped after any failure) finishes large streams without
// copying them; an incremental one must survive failed values.
dral_core::Encoder new_encoder(bool one_shot);

// Finishes `encoder` into a new bytes object (nullptr with MemoryError set) and keeps its block
// buffer for the next new_encoder.
PyObject* finish_to_bytes(dral_core::Encoder& encoder);

// Keeps the block buffer of an encoder that will not be finished.
void recycle(dral_core::Encoder& encoder);

// The reference path itself, for differential checks.
bool encode_object_reference(dral_core::Encoder& encoder, PyObject* object, bool sort_keys);

}  // namespace dral_python
