// Building a list of a known length, one new reference per item.
#pragma once

#include <Python.h>

#include <cstddef>

#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {

// A new list of `count` items, item i being `make(i)` (a new reference, or nullptr with an
// exception set, which abandons the list).
template <class Make>
PyObject* build_list(std::size_t count, Make make) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = make(i);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace dral_python
