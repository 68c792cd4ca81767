// The boundary where a C++ allocation failure becomes Python's MemoryError.
#pragma once

#include <Python.h>

#include <new>

namespace dral_python {

// Runs `body` (returning a new reference or nullptr with an exception set); a std::bad_alloc
// escaping it becomes MemoryError instead of unwinding into the interpreter.
template <class Body>
PyObject* guard_bad_alloc(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace dral_python
