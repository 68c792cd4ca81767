#include "dral_python/cpython/file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <string>

#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/replace_file.hpp"

namespace dral_python {
namespace {

class File {
public:
    File(const char* name, const char* mode) : file_(std::fopen(name, mode)) {}
    ~File() {
        if (file_) std::fclose(file_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

PyObject* raise_os_error(PyObject* path) {
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
}

}  // namespace

PyObject* fspath(PyObject* path) { return PyOS_FSPath(path); }

bool write_file(PyObject* path, std::span<const std::uint8_t> data) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return false;
    PyRef name(encoded);
    const std::string target(PyBytes_AS_STRING(encoded),
                             static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    // The bytes are immutable and held by the caller: others may run while the file is written.
    PyThreadState* state = PyEval_SaveThread();
    const int error = replace_file(target, data);
    PyEval_RestoreThread(state);
    if (error == 0) return true;
    errno = error;
    return raise_os_error(path), false;
}

PyObject* read_file(PyObject* path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return nullptr;
    PyRef name(encoded);
    File file(PyBytes_AS_STRING(encoded), "rb");
    if (file.get() == nullptr) return raise_os_error(path);
    // Reads in chunks rather than trusting a size taken before reading.
    std::size_t size = 0, capacity = 1 << 16;
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
    if (bytes == nullptr) return nullptr;
    while (true) {
        std::size_t got =
            std::fread(PyBytes_AS_STRING(bytes) + size, 1, capacity - size, file.get());
        size += got;
        if (size < capacity) break;
        capacity *= 2;
        if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(capacity)) < 0) return nullptr;
    }
    if (std::ferror(file.get())) {
        Py_DECREF(bytes);
        return raise_os_error(path);
    }
    if (_PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(size)) < 0) return nullptr;
    return bytes;
}

}  // namespace dral_python
