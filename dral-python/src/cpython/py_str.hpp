// Python str objects made straight from UTF-8 bytes.
#pragma once

#include <Python.h>

#include <cstring>
#include <string_view>

namespace dral_python {

// A new str of the ASCII `text`, or nullptr with MemoryError set; a plain copy, no decoding.
inline PyObject* new_ascii_str(std::string_view text) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
    return str;
}

// A new str of the UTF-8 `text`, allocated once at its final width; nullptr with
// UnicodeDecodeError set when `text` is not UTF-8, or with MemoryError.
PyObject* new_utf8_str(std::string_view text);

}  // namespace dral_python
