#include "dral_python/text/py_text.hpp"

#include <string>

#include "dral_core/base/limits.hpp"
#include "dral_core/text/text_parser_tree.hpp"
#include "dral_python/convert/py_sink.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {

PyObject* raise_parse_error(const dral_core::DralError& error) {
    const std::string message = "parse error: " + error.message();
    PyRef text(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

PyObject* parse_text_to_py(PyObject* text) {
    // A str's UTF-8 form is valid by construction (surrogates fail to encode), so only the core's
    // own callers need the text checked.
    auto utf8 = utf8_of(text);
    if (!utf8) return nullptr;
    // A short text makes too few containers for more than a young collection or two, which cost
    // less than the pause itself.
    GcPause pause(utf8->size() >= dral_core::kGcPauseTextBytes);
    PySink sink(dral_core::UnknownCount{});
    auto parsed = dral_core::parse_valid_document(*utf8, PyUnicode_IS_ASCII(text), sink);
    if (!parsed) return raise_parse_error(parsed.error());
    return parsed->release();
}

}  // namespace dral_python
