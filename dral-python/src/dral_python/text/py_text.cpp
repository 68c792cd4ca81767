#include "dral_python/text/py_text.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/text/text_parser_tree.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_scalars.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

// Builds Python objects as the parser reads them. Items of open containers wait on one shared
// stack until their closing bracket: then the count is known, so each list is made at its final
// size and each dict presized, with no regrowth.
class PyTextSink : public PyScalars {
public:
    using Node = PyRef;
    using Key = PyRef;
    using Frame = std::size_t;  // where the container's items start on the stack

    // The stack of the last parse is kept for the next one, so that a small document allocates
    // nothing for it; no Python code runs while parsing.
    PyTextSink() { pending_.swap(module_state().spare_text_stack); }
    PyTextSink(const PyTextSink&) = delete;
    PyTextSink& operator=(const PyTextSink&) = delete;
    ~PyTextSink() {
        release_from(0);
        if (pending_.capacity() <= dral_core::kLargestSpareTextStack)
            pending_.swap(module_state().spare_text_stack);
    }

    PyRef str(std::string_view text, bool ascii) {
        return PyRef(ascii ? new_ascii_str(text) : decode(text));
    }
    PyRef bytes(dral_core::Bytes&& bytes) {
        return PyRef(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<Py_ssize_t>(bytes.size())));
    }
    PyRef key(std::string_view text, bool ascii) {
        return PyRef(ascii ? cached_key(text) : decode(text));
    }

    std::size_t begin_array() { return pending_.size(); }
    std::size_t begin_object() { return pending_.size(); }
    bool add_item(std::size_t, PyRef item) {
        push(item);
        return true;
    }
    bool add_entry(std::size_t, PyRef key, PyRef value) {
        push(key);
        push(value);
        return true;
    }
    PyRef end_array(std::size_t start) {
        const std::size_t count = pending_.size() - start;
        PyRef list(PyList_New(static_cast<Py_ssize_t>(count)));
        if (!list) return list;
        // The list takes over the stack's references.
        for (std::size_t i = 0; i < count; ++i)
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pending_[start + i]);
        pending_.resize(start);
        return list;
    }
    PyRef end_object(std::size_t start) {
        const std::size_t count = (pending_.size() - start) / 2;
        PyRef dict(_PyDict_NewPresized(static_cast<Py_ssize_t>(count)));
        if (!dict) return dict;
        // In reading order, so that a repeated key keeps its first place and its last value.
        for (std::size_t i = start; i < pending_.size(); i += 2)
            if (PyDict_SetItem(dict.get(), pending_[i], pending_[i + 1]) < 0) return PyRef();
        release_from(start);
        return dict;
    }

private:
    static PyObject* decode(std::string_view text) { return new_utf8_str(text); }
    // The reference moves to the stack only once the stack has room for it.
    void push(PyRef& object) {
        pending_.push_back(object.get());
        object.release();
    }
    void release_from(std::size_t start) {
        for (std::size_t i = start; i < pending_.size(); ++i) Py_DECREF(pending_[i]);
        pending_.resize(start);
    }

    std::vector<PyObject*> pending_;  // owned references
};

}  // namespace

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
    GcPause pause;
    PyTextSink sink;
    auto parsed = dral_core::parse_valid_document(*utf8, PyUnicode_IS_ASCII(text), sink);
    if (!parsed) return raise_parse_error(parsed.error());
    return parsed->release();
}

}  // namespace dral_python
