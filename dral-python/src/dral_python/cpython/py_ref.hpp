// An owning reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace dral_python {

class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (which may be null after a failed call).
    explicit PyRef(PyObject* owned) : object_(owned) {}
    static PyRef borrow(PyObject* borrowed) { return PyRef(Py_XNewRef(borrowed)); }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    // Always inline: builders assign and drop references per value, inside functions too large
    // for the compiler to inline them by itself.
    [[gnu::always_inline]] PyRef& operator=(PyRef&& other) noexcept {
        PyObject* const old = std::exchange(object_, std::exchange(other.object_, nullptr));
        Py_XDECREF(old);
        return *this;
    }
    [[gnu::always_inline]] ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace dral_python
