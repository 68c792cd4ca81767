// Where the binary API's encoders get their memory, and how their streams become bytes objects:
// the shared one-shot encoder, the spare memory of incremental ones, the buffer policy for large
// streams.
#pragma once

#include <Python.h>

#include <optional>

#include "dral_core/binary/encoder.hpp"

namespace dral_python {

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

}  // namespace dral_python
