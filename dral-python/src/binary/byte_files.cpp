#include "binary/byte_files.hpp"

#include <unistd.h>

#include <algorithm>

#include "cpython/py_ref.hpp"

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

PyObject* call_os(const char* function, PyObject* first, PyObject* second = nullptr) {
    PyRef os(PyImport_ImportModule("os"));
    if (!os) return nullptr;
    return second ? PyObject_CallMethod(os.get(), function, "OO", first, second)
                  : PyObject_CallMethod(os.get(), function, "O", first);
}

// A name beside `target` that no other writer uses: the process id and a random part.
PyObject* temporary_beside(PyObject* target) {
    PyRef random(call_os("urandom", PyRef(PyLong_FromLong(6)).get()));
    if (!random) return nullptr;
    PyRef suffix(PyObject_CallMethod(random.get(), "hex", nullptr));
    if (!suffix) return nullptr;
    PyRef text(PyOS_FSPath(target));
    if (!text) return nullptr;
    if (PyBytes_Check(text.get())) {
        PyRef decoded(PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(text.get()),
                                                       PyBytes_GET_SIZE(text.get())));
        text = std::move(decoded);
        if (!text) return nullptr;
    }
    return PyUnicode_FromFormat("%U.%ld.%U.tmp", text.get(), static_cast<long>(getpid()),
                                suffix.get());
}

}  // namespace

PyObject* open_for_reading(PyObject* source, bool* opened) {
    *opened = is_path(source);
    if (*opened) return call_io_open(source, "rb");
    if (!PyObject_HasAttrString(source, "read")) {
        PyErr_Format(PyExc_TypeError, "expected a binary file or a path, not %.200s",
                     Py_TYPE(source)->tp_name);
        return nullptr;
    }
    return Py_NewRef(source);
}

Py_ssize_t read_some(PyObject* file, dral_core::ByteBuffer& buffer, std::size_t room) {
    std::uint8_t* free = buffer.prepare(room);
    PyRef got;
    if (PyObject_HasAttrString(file, "readinto")) {
        PyRef view(PyMemoryView_FromMemory(reinterpret_cast<char*>(free),
                                           static_cast<Py_ssize_t>(room), PyBUF_WRITE));
        if (!view) return -1;
        got = PyRef(PyObject_CallMethod(file, "readinto", "O", view.get()));
        // The file must not keep a view of memory that moves.
        PyRef released(PyObject_CallMethod(view.get(), "release", nullptr));
        if (!released) return -1;
        if (!got) return -1;
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
    PyRef target(PyOS_FSPath(destination));
    if (!target) return false;
    PyRef temporary(temporary_beside(target.get()));
    if (!temporary) return false;
    out.file = call_io_open(temporary.get(), "xb");
    if (out.file == nullptr) return false;
    out.target = target.release();
    out.temporary = temporary.release();
    return true;
}

bool write_bytes(const OutputFile& out, PyObject* bytes) {
    PyRef done(PyObject_CallMethod(out.file, "write", "O", bytes));
    return static_cast<bool>(done);
}

bool commit(OutputFile& out) {
    if (out.temporary == nullptr) return true;
    // On the disk before the rename, so that a crash leaves the old file or the whole new one.
    PyRef flushed(PyObject_CallMethod(out.file, "flush", nullptr));
    PyRef descriptor(flushed ? PyObject_CallMethod(out.file, "fileno", nullptr) : nullptr);
    PyRef synced(descriptor ? call_os("fsync", descriptor.get()) : nullptr);
    PyRef closed(synced ? PyObject_CallMethod(out.file, "close", nullptr) : nullptr);
    if (!closed) {
        abandon(out);
        return false;
    }
    PyRef replaced(call_os("replace", out.temporary, out.target));
    if (!replaced) {
        abandon(out);
        return false;
    }
    Py_CLEAR(out.temporary);
    Py_CLEAR(out.target);
    return true;
}

void abandon(OutputFile& out) {
    if (out.temporary == nullptr) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyRef closed(PyObject_CallMethod(out.file, "close", nullptr));
    PyRef removed(call_os("unlink", out.temporary));
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    Py_CLEAR(out.temporary);
    Py_CLEAR(out.target);
}

}  // namespace dral_python
