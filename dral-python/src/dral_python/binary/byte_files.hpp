// Binary files as the stream reader and writer use them: a file object given by the caller, or
// one opened here from a path (written through a temporary file that replaces the target only
// once complete).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/replace_file.hpp"
#include "dral_python/cpython/write_behind.hpp"

namespace dral_python {

// A file object, or a str, bytes or path-like argument, as a readable binary file: a new
// reference to the object to read from, or nullptr with an exception set. `*opened` tells
// whether it was opened here (and must be closed by the caller).
PyObject* open_for_reading(PyObject* source, bool* opened);

// The same for a call that reads the whole source: what was opened here is closed when it goes,
// keeping whatever exception is set.
class ReadSource {
public:
    explicit ReadSource(PyObject* source) : file_(open_for_reading(source, &opened_)) {}
    ~ReadSource();
    ReadSource(const ReadSource&) = delete;
    ReadSource& operator=(const ReadSource&) = delete;

    // nullptr, with an exception set, when the source could not be opened.
    PyObject* get() const { return file_.get(); }

private:
    bool opened_ = false;
    PyRef file_;
};

// Reads at most `room` bytes more into `buffer` (`readinto` where the file has it, else
// `read`); returns the number read, 0 at the end of the file, or -1 with an exception set.
Py_ssize_t read_some(PyObject* file, dral_core::ByteBuffer& buffer, std::size_t room);

// Moves a readable file to `offset`; false with an exception set.
bool seek_to(PyObject* file, std::uint64_t offset);

// A file being written: the caller's file object, or a path replaced once the file is complete.
struct OutputFile {
    PyObject* file = nullptr;  // owned reference; nullptr for a path
    PyObject* path = nullptr;  // owned reference, for error messages
    std::unique_ptr<ReplacingFile> replacing;
    std::unique_ptr<WriteBehind> behind;  // writes to `replacing`, so declared after it
};

// Opens `destination` (a file object with `write`, or a path) for writing; false with an
// exception set.
bool open_for_writing(PyObject* destination, OutputFile& out);

// Writes all of `data`; false with an exception set (a path's new file is then gone).
bool write_bytes(OutputFile& out, std::span<const std::uint8_t> data);

// Writes the bytes of `block`, leaving it empty to be filled again. A path's file is written on
// a thread of its own while the caller goes on; its failure is reported by the next call (or by
// `commit`). False with an exception set (a path's new file is then gone).
bool write_block(OutputFile& out, dral_core::ByteBuffer& block);

// The file is complete: a path is replaced by it. The caller's file object is left open. False
// with an exception set (the new file is then gone).
bool commit(OutputFile& out);

// The file is abandoned: a path keeps its old file; the caller's file object keeps what was
// written, a stream without its end block. Never fails.
void abandon(OutputFile& out);

// Releases the references `out` holds.
void release(OutputFile& out);

}  // namespace dral_python
