// Reading the str arguments of the rfc_ functions.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

namespace dral_python {

// The UTF-8 form of the str `text`, owned by it; nullopt with UnicodeEncodeError set for a str
// that has none (a lone surrogate).
inline std::optional<std::string_view> utf8_of(PyObject* text) {
    Py_ssize_t length;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
    if (utf8 == nullptr) return std::nullopt;
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

}  // namespace dral_python
