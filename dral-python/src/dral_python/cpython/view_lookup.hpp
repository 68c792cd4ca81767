// The lookups of the read-only views of native trees (DralValue, RfcValue), written once: a str
// key finds an entry, an int key an item (a negative one counts back from the length); a miss
// gives None from get() and KeyError or IndexError from subscription; any other key is a
// TypeError.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "dral_python/cpython/arguments.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {

// `Parts` says what the view holds:
//   static constexpr const char* kBadKey;  // the TypeError's message for a key of another type
//   static std::size_t length(PyObject* self);  // what negative indexes count back from
//   static const Part* item(PyObject* self, std::size_t index);     // null on a miss
//   static const Part* entry(PyObject* self, std::string_view key);  // null on a miss
//   static PyObject* view_of(PyObject* self, const Part& part);  // a new view of a part
// The members of ViewLookup<Parts> are the class's slots and methods.
template <class Parts>
class ViewLookup {
public:
    // mp_subscript
    static PyObject* subscript(PyObject* self, PyObject* key) {
        return lookup(self, key, OnMissing::Raise);
    }

    // sq_item, which the old iteration protocol calls with 0, 1, 2, ... until IndexError.
    static PyObject* item(PyObject* self, Py_ssize_t index) {
        return lookup_index(self, index, OnMissing::Raise);
    }

    // sq_contains: str keys only.
    static int contains(PyObject* self, PyObject* key) {
        if (!check_str_argument(kContains, 0, key)) return -1;
        auto found = find_entry(self, key);
        if (!found) return -1;
        return *found != nullptr;
    }

    // get(key), a fast-call method.
    static PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
        PyObject* parsed[1];
        if (!parse_arguments(kGet, args, nargs, kwnames, parsed)) return nullptr;
        return lookup(self, parsed[0], OnMissing::ReturnNone);
    }

private:
    enum class OnMissing { ReturnNone, Raise };

    static PyObject* raise_bad_key() {
        PyErr_SetString(PyExc_TypeError, Parts::kBadKey);
        return nullptr;
    }

    // The entry under the str `key`, null when there is none; nullopt with an exception set when
    // the interpreter fails.
    static auto find_entry(PyObject* self, PyObject* key)
        -> std::optional<decltype(Parts::entry(self, std::string_view()))> {
        auto text = utf8_of(key);
        if (!text) {
            // A lone surrogate cannot equal any stored key: those are all valid UTF-8.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
            PyErr_Clear();
            return nullptr;
        }
        return Parts::entry(self, *text);
    }

    static PyObject* lookup_index(PyObject* self, long long index, OnMissing on_missing) {
        if (index < 0) index += static_cast<long long>(Parts::length(self));
        if (index < 0) return raise_bad_key();
        if (const auto* found = Parts::item(self, static_cast<std::size_t>(index)))
            return Parts::view_of(self, *found);
        if (on_missing == OnMissing::ReturnNone) Py_RETURN_NONE;
        PyErr_Format(PyExc_IndexError, "%lld", index);
        return nullptr;
    }

    static PyObject* lookup(PyObject* self, PyObject* key, OnMissing on_missing) {
        if (PyUnicode_Check(key)) {
            auto found = find_entry(self, key);
            if (!found) return nullptr;
            if (*found != nullptr) return Parts::view_of(self, **found);
            if (on_missing == OnMissing::ReturnNone) Py_RETURN_NONE;
            PyErr_SetObject(PyExc_KeyError, key);
            return nullptr;
        }
        if (PyLong_Check(key)) {
            const long long index = PyLong_AsLongLong(key);
            if (index == -1 && PyErr_Occurred()) return nullptr;
            return lookup_index(self, index, on_missing);
        }
        return raise_bad_key();
    }

    static constexpr const char* kKeyNames[] = {"key"};
    static constexpr Signature kGet{"get", kKeyNames, 1, 1, 1};
    static constexpr Signature kContains{"__contains__", kKeyNames, 1, 1, 1};
};

}  // namespace dral_python
