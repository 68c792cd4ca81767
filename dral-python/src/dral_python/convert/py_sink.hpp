// The one sink that builds Python objects (the protocol is dral_core's value/sink.hpp), for both
// readers: the binary decoder (`loads`, the decoders), which knows every count, and the text
// parser (`parse_text`), which knows a count only at the closing bracket.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/value/sink.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

class PySink {
public:
    using Node = PyRef;
    using Key = PyRef;
    // new_utf8_str checks non-ASCII text with the core's validation while it decodes it, in one
    // pass, and raises the interpreter's UnicodeDecodeError for text that is not UTF-8.
    static constexpr bool kValidatesUtf8 = true;

    // For a reader that knows counts: it needs no stack.
    PySink() = default;
    // For a reader that does not: the stack of the last parse is kept for the next one, so that a
    // small document allocates nothing for it; no Python code runs while parsing.
    explicit PySink(dral_core::UnknownCount) { pending_.swap(module_state().spare_text_stack); }
    PySink(const PySink&) = delete;
    PySink& operator=(const PySink&) = delete;
    ~PySink() {
        release_from(0);
        if (pending_.capacity() != 0 && pending_.capacity() <= dral_core::kLargestSpareTextStack)
            pending_.swap(module_state().spare_text_stack);
    }

    static bool failed(const PyRef& node) { return !node; }
    PyRef null() { return PyRef(Py_NewRef(Py_None)); }
    PyRef boolean(bool b) { return PyRef(Py_NewRef(b ? Py_True : Py_False)); }
    PyRef uint(std::uint64_t u) { return PyRef(PyLong_FromUnsignedLongLong(u)); }
    PyRef integer(std::int64_t i) { return PyRef(PyLong_FromLongLong(i)); }
    PyRef floating(double d) { return PyRef(PyFloat_FromDouble(d)); }
    PyRef str(std::string_view text, bool ascii) {
        PyRef str(ascii ? new_ascii_str(text) : new_utf8_str(text));
        if (!str && !ascii && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            utf8_rejected_ = true;
        }
        return str;
    }
    bool take_utf8_rejection() { return std::exchange(utf8_rejected_, false); }
    PyRef bytes(std::span<const std::uint8_t> data) {
        return PyRef(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                               static_cast<Py_ssize_t>(data.size())));
    }
    PyRef key(std::string_view text, bool ascii) {
        return PyRef(ascii ? cached_key(text) : new_utf8_str(text));
    }

    // A known count: each list is made at its capacity and filled in place, each dict presized.
    PyRef begin_array(dral_core::KnownCount count) {
        return PyRef(PyList_New(static_cast<Py_ssize_t>(count.capacity)));
    }
    PyRef begin_object(dral_core::KnownCount count) {
        return PyRef(_PyDict_NewPresized(static_cast<Py_ssize_t>(count.capacity)));
    }
    bool add_item(PyRef& list, std::size_t index, PyRef item) {
        auto i = static_cast<Py_ssize_t>(index);
        if (i >= PyList_GET_SIZE(list.get())) [[unlikely]]
            return PyList_Append(list.get(), item.get()) == 0;
        PyList_SET_ITEM(list.get(), i, item.release());
        return true;
    }
    // By reference where the count is known: the decoder's key and value outlive the call, and
    // moving them into parameters would cost a temporary each per entry.
    bool add_entry(PyRef& dict, PyRef&& key, PyRef&& value) {
        return PyDict_SetItem(dict.get(), key.get(), value.get()) == 0;
    }
    PyRef end_array(PyRef& list) { return std::move(list); }
    PyRef end_object(PyRef& dict) { return std::move(dict); }

    // An unknown count: items of open containers wait on one shared stack until their closing
    // bracket; then the count is known, so each list is made at its final size and each dict
    // presized, with no regrowth.
    struct Pending {
        std::size_t start;  // where the container's items start on the stack
    };
    static bool failed(Pending) { return false; }
    Pending begin_array(dral_core::UnknownCount) { return {pending_.size()}; }
    Pending begin_object(dral_core::UnknownCount) { return {pending_.size()}; }
    // By reference, as above: the reader's nodes outlive the call.
    bool add_item(Pending, PyRef&& item) {
        push(item);
        return true;
    }
    bool add_entry(Pending, PyRef&& key, PyRef&& value) {
        push(key);
        push(value);
        return true;
    }
    PyRef end_array(Pending frame) {
        const std::span<PyObject*> items = std::span(pending_).subspan(frame.start);
        PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
        if (!list) return list;
        // The list takes over the stack's references.
        std::copy(items.begin(), items.end(), reinterpret_cast<PyListObject*>(list.get())->ob_item);
        pending_.resize(frame.start);
        return list;
    }
    PyRef end_object(Pending frame) {
        // Bounds taken once: the compiler cannot know that the calls leave the stack alone.
        const std::span<PyObject*> entries = std::span(pending_).subspan(frame.start);
        PyRef dict(_PyDict_NewPresized(static_cast<Py_ssize_t>(entries.size() / 2)));
        if (!dict) return dict;
        // In reading order, so that a repeated key keeps its first place and its last value.
        for (std::size_t i = 0; i < entries.size(); i += 2)
            if (PyDict_SetItem(dict.get(), entries[i], entries[i + 1]) < 0) return PyRef();
        release_from(frame.start);
        return dict;
    }

private:
    // The reference moves to the stack only once the stack has room for it.
    void push(PyRef& object) {
        pending_.push_back(object.get());
        object.release();
    }
    void release_from(std::size_t start) {
        for (PyObject* object : std::span(pending_).subspan(start)) Py_DECREF(object);
        pending_.resize(start);
    }

    std::vector<PyObject*> pending_;  // owned references
    bool utf8_rejected_ = false;
};

static_assert(dral_core::KnownCountSink<PySink> && dral_core::UnknownCountSink<PySink>);

}  // namespace dral_python
