#include "dral_python/binary/byte_files.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {
namespace {

bool is_path(PyObject* object) {
    return PyUnicode_Check(object) || PyBytes_Check(object) ||
           PyObject_HasAttrString(object, "__fspath__");
}

PyObject* call_io_open(PyObject* path, const char* mode) {
    PyRef io(PyImport_ImportModule("io"));
    if (!io) return nullptr;
    return PyObject_CallMethod(io.get(), "open", "Os", path, mode);
}

// A path opened here is read once, front to back: telling the kernel so doubles its read-ahead,
// and the speed of reading a stream that is not in the page cache.
PyObject* open_path_for_reading(PyObject* path) {
    PyObject* file = call_io_open(path, "rb");
#if defined(POSIX_FADV_SEQUENTIAL)
    if (file != nullptr) {
        const int fd = PyObject_AsFileDescriptor(file);
        if (fd >= 0)
            (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        else
            PyErr_Clear();
    }
#endif
    return file;
}

}  // namespace

PyObject* open_for_reading(PyObject* source, bool* opened) {
    *opened = is_path(source);
    if (*opened) return open_path_for_reading(source);
    if (!PyObject_HasAttrString(source, "read")) {
        PyErr_Format(PyExc_TypeError, "expected a binary file or a path, not %.200s",
                     Py_TYPE(source)->tp_name);
        return nullptr;
    }
    return Py_NewRef(source);
}

ReadSource::~ReadSource() {
    if (!opened_ || !file_) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyRef closed(PyObject_CallMethod(file_.get(), "close", nullptr));
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
}

Py_ssize_t read_some(PyObject* file, dral_core::ByteBuffer& buffer, std::size_t room) {
    std::uint8_t* free = buffer.prepare(room);
    PyRef got;
    if (PyObject_HasAttrString(file, "readinto")) {
        PyRef view(PyMemoryView_FromMemory(reinterpret_cast<char*>(free),
                                           static_cast<Py_ssize_t>(room), PyBUF_WRITE));
        if (!view) return -1;
        got = PyRef(PyObject_CallMethod(file, "readinto", "O", view.get()));
        // The file must not keep a view of memory that moves; the read's own error comes first.
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyRef released(PyObject_CallMethod(view.get(), "release", nullptr));
        if (type != nullptr) {
            PyErr_Clear();
            PyErr_Restore(type, value, traceback);
            return -1;
        }
        if (!released || !got) return -1;
        Py_ssize_t n = got.get() == Py_None ? 0 : PyLong_AsSsize_t(got.get());
        if (n < 0 || static_cast<std::size_t>(n) > room) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_ValueError, "readinto() returned an impossible count");
            return -1;
        }
        buffer.advance(static_cast<std::size_t>(n));
        return n;
    }
    got = PyRef(PyObject_CallMethod(file, "read", "n", static_cast<Py_ssize_t>(room)));
    if (!got) return -1;
    if (!PyBytes_Check(got.get())) {
        PyErr_Format(PyExc_TypeError, "read() should return bytes, not %.200s",
                     Py_TYPE(got.get())->tp_name);
        return -1;
    }
    const auto n =
        std::min<std::size_t>(static_cast<std::size_t>(PyBytes_GET_SIZE(got.get())), room);
    buffer.append(PyBytes_AS_STRING(got.get()), n);
    return static_cast<Py_ssize_t>(n);
}

bool seek_to(PyObject* file, std::uint64_t offset) {
    PyRef done(PyObject_CallMethod(file, "seek", "K", static_cast<unsigned long long>(offset)));
    return static_cast<bool>(done);
}

bool open_for_writing(PyObject* destination, OutputFile& out) {
    if (!is_path(destination)) {
        if (!PyObject_HasAttrString(destination, "write")) {
            PyErr_Format(PyExc_TypeError, "expected a binary file or a path, not %.200s",
                         Py_TYPE(destination)->tp_name);
            return false;
        }
        out.file = Py_NewRef(destination);
        return true;
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(destination, &encoded)) return false;
    PyRef name(encoded);
    auto replacing = std::make_unique<ReplacingFile>();
    const int error = replacing->open(std::string(
        PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded))));
    if (error != 0) {
        errno = error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, destination);
        return false;
    }
    out.path = Py_NewRef(destination);
    out.replacing = std::move(replacing);
    return true;
}

namespace {

bool failed_on(OutputFile& out, int error) {
    out.behind.reset();
    out.replacing.reset();
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, out.path);
    return false;
}

}  // namespace

bool write_bytes(OutputFile& out, std::span<const std::uint8_t> data) {
    if (out.replacing) {
        // The bytes are the writer's own, and nothing else touches them meanwhile.
        PyThreadState* state = PyEval_SaveThread();
        int error = out.behind ? out.behind->wait() : 0;  // the file keeps the blocks' order
        if (error == 0) error = out.replacing->write(data);
        PyEval_RestoreThread(state);
        return error == 0 || failed_on(out, error);
    }
    PyRef bytes(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                          static_cast<Py_ssize_t>(data.size())));
    if (!bytes) return false;
    PyRef done(PyObject_CallMethod(out.file, "write", "O", bytes.get()));
    return static_cast<bool>(done);
}

bool write_block(OutputFile& out, dral_core::ByteBuffer& block) {
    if (!out.replacing) {
        const bool written = write_bytes(out, block.span());
        block.clear();
        return written;
    }
    if (!out.behind) out.behind = std::make_unique<WriteBehind>(*out.replacing);
    PyThreadState* state = PyEval_SaveThread();
    const int error = out.behind->write(block);
    PyEval_RestoreThread(state);
    return error == 0 || failed_on(out, error);
}

bool commit(OutputFile& out) {
    if (!out.replacing) return true;
    PyThreadState* state = PyEval_SaveThread();
    int error = out.behind ? out.behind->wait() : 0;
    out.behind.reset();
    if (error == 0) error = out.replacing->commit();
    PyEval_RestoreThread(state);
    out.replacing.reset();
    return error == 0 || failed_on(out, error);
}

void abandon(OutputFile& out) {
    out.behind.reset();  // after the block in flight, of at most one block's size
    if (out.replacing) out.replacing->abandon();
    out.replacing.reset();
}

void release(OutputFile& out) {
    abandon(out);
    Py_CLEAR(out.file);
    Py_CLEAR(out.path);
}

}  // namespace dral_python
