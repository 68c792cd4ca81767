// Binary files as the stream reader and writer use them: a file object given by the caller, or
// one opened here from a path (written through a temporary file that replaces the target only
// once complete).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "base/byte_buffer.hpp"

namespace dral_python {

// A file object, or a str, bytes or path-like argument, as a readable binary file: a new
// reference to the object to read from, or nullptr with an exception set. `*opened` tells
// whether it was opened here (and must be closed by the caller).
PyObject* open_for_reading(PyObject* source, bool* opened);

// Reads at most `room` bytes more into `buffer` (`readinto` where the file has it, else
// `read`); returns the number read, 0 at the end of the file, or -1 with an exception set.
Py_ssize_t read_some(PyObject* file, dral_core::ByteBuffer& buffer, std::size_t room);

// Moves a readable file to `offset`; false with an exception set.
bool seek_to(PyObject* file, std::uint64_t offset);

// A file being written: the caller's file object, or a temporary file beside a path.
struct OutputFile {
    PyObject* file = nullptr;       // owned reference
    PyObject* target = nullptr;     // the path to replace on commit, or nullptr
    PyObject* temporary = nullptr;  // the temporary file's path, or nullptr
};

// Opens `destination` (a file object with `write`, or a path) for writing; false with an
// exception set.
bool open_for_writing(PyObject* destination, OutputFile& out);

// Writes all of `bytes` (a bytes object); false with an exception set.
bool write_bytes(const OutputFile& out, PyObject* bytes);

// The file is complete: a temporary file is flushed, closed and renamed over its target. The
// caller's file object is left open. False with an exception set (the temporary is then gone).
bool commit(OutputFile& out);

// The file is abandoned: a temporary file is closed and removed (the target never changes); the
// caller's file object keeps what was written, a stream without its end block. Never fails; an
// exception already set is kept.
void abandon(OutputFile& out);

}  // namespace dral_python
