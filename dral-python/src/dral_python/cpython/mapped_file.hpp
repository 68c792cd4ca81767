// A file mapped read-only for the length of a call, so that a reader touches only the pages it
// reads. What cannot be mapped (a pipe, a character device) is read whole instead.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dral_python {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the file at `path` (str, bytes or path-like). Returns false with OSError (TypeError
    // for a path of another type) set. The file must not shrink while it is mapped: reading a
    // page past its new end would stop the process.
    bool open(PyObject* path);

    std::span<const std::uint8_t> bytes() const;

    // Drops the pages that hold `piece` from the process's memory; touching them again reads
    // them back from the file (from the page cache, mostly).
    void release(std::span<const std::uint8_t> piece) const;

private:
    bool read_all(int fd, PyObject* path);

    void* map_ = nullptr;
    std::size_t size_ = 0;
    std::vector<std::uint8_t> read_;  // when not mapped
};

}  // namespace dral_python
