// Encoding of Python objects straight into a core Encoder, without building a Value tree.
#pragma once

#include <Python.h>

#include <optional>

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

// The encoder of a one-shot call (dumps and its kin: finished once, dropped after any failure),
// which finishes large streams without copying them. One encoder serves every such call, reset
// for each, so its memory stays in place between calls: growing fresh buffers and faulting in
// their pages costs more than encoding small and medium values. Callers hold the interpreter lock
// and run no Python code while they use it; one that found it in use would get its own.
class OneShotEncoder {
public:
    OneShotEncoder();
    ~OneShotEncoder();
    OneShotEncoder(const OneShotEncoder&) = delete;
    OneShotEncoder& operator=(const OneShotEncoder&) = delete;
    dral_core::Encoder& operator*() { return *encoder_; }
    dral_core::Encoder* operator->() { return encoder_; }

private:
    dral_core::Encoder* encoder_;
    std::optional<dral_core::Encoder> own_;
};

struct EncoderPool;
// Makes the shared one-shot encoder (once per process, with the module state).
void create_one_shot_encoder(EncoderPool& pool);

// A new incremental encoder (one that must survive failed values), writing into the memory the
// last finished one left behind, if any.
dral_core::Encoder new_incremental_encoder();

// Finishes `encoder` into a new bytes object (nullptr with MemoryError set).
PyObject* finish_to_bytes(dral_core::Encoder& encoder);

// Keeps the memory of a finished incremental encoder for the next one.
void recycle(dral_core::Encoder& encoder);

// The reference path itself, for differential checks.
bool encode_object_reference(dral_core::Encoder& encoder, PyObject* object,
                             const ConvertOptions& options);

}  // namespace dral_python
