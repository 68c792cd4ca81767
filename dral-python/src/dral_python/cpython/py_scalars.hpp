// The scalar half of every sink that builds Python objects: one place for how each kind of
// scalar becomes an object.
#pragma once

#include <Python.h>

#include <cstdint>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {

struct PyScalars {
    static bool failed(const PyRef& node) { return !node; }
    PyRef null() { return PyRef(Py_NewRef(Py_None)); }
    PyRef boolean(bool b) { return PyRef(Py_NewRef(b ? Py_True : Py_False)); }
    PyRef uint(std::uint64_t u) { return PyRef(PyLong_FromUnsignedLongLong(u)); }
    PyRef integer(std::int64_t i) { return PyRef(PyLong_FromLongLong(i)); }
    PyRef floating(double d) { return PyRef(PyFloat_FromDouble(d)); }
};

}  // namespace dral_python
