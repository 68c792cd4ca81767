// Where the binary API's encoders get their memory, and how their streams become bytes objects:
// the shared one-shot encoder, the spare memory of incremental ones, the buffer policy for large
// streams.
#pragma once

#include <Python.h>

#include <optional>

#include "dral_core/binary/encoder.hpp"

namespace dral_python {

// The encoder of a one-shot call (dumps and its kin: finished once, dropped after any failure),
// which finishes large streams without copying them. A few shared encoders serve every such
// call, each reset for the next, so that their memory stays in place between calls: growing
// fresh buffers and faulting in their pages costs more than encoding small and medium values.
// Callers hold the interpreter lock when they take and return one, and run no Python code
// meanwhile; threads whose calls overlap take one each, and a call that finds all in use gets
// its own.
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
    bool* in_use_ = nullptr;  // of the shared encoder taken
    std::optional<dral_core::Encoder> own_;
};

// A new incremental encoder (one that must survive failed values), writing into the memory the
// last finished one left behind, if any.
dral_core::Encoder new_incremental_encoder();

// Finishes `encoder` into a new bytes object (nullptr with MemoryError set).
PyObject* finish_to_bytes(dral_core::Encoder& encoder);

// Keeps the memory of a finished incremental encoder for the next one.
void recycle(dral_core::Encoder& encoder);

}  // namespace dral_python
