#include "dral_python/cpython/arguments.hpp"

#include <cstring>
#include <vector>

namespace dral_python {
namespace {

int find_name(const Signature& signature, PyObject* keyword) {
    for (int i = 0; i < signature.count; ++i)
        if (PyUnicode_CompareWithASCIIString(keyword, signature.names[i]) == 0) return i;
    return -1;
}

bool wrong_type(const Signature& signature, int index, const char* expected, PyObject* value) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", signature.function,
                 signature.names[index], expected, Py_TYPE(value)->tp_name);
    return false;
}

}  // namespace

bool parse_any_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames, PyObject** out) {
    for (int i = 0; i < signature.count; ++i) out[i] = nullptr;
    if (nargs > signature.positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes %s%d positional argument%s but %zd %s given",
                     signature.function,
                     signature.required < signature.positional ? "at most " : "",
                     signature.positional, signature.positional == 1 ? "" : "s", nargs,
                     nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        int index = find_name(signature, keyword);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         signature.function, keyword);
            return false;
        }
        if (out[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         signature.function, signature.names[index]);
            return false;
        }
        out[index] = args[nargs + k];
    }
    for (int i = 0; i < signature.required; ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)",
                         signature.function, signature.names[i], i + 1);
            return false;
        }
    }
    return true;
}

bool parse_classic_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                             PyObject** out) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    std::vector<PyObject*> stack;
    stack.reserve(static_cast<std::size_t>(nargs) + 4);
    for (Py_ssize_t i = 0; i < nargs; ++i) stack.push_back(PyTuple_GET_ITEM(args, i));
    PyObject* kwnames = nullptr;
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
        kwnames = PyTuple_New(PyDict_GET_SIZE(kwargs));
        if (kwnames == nullptr) return false;
        Py_ssize_t position = 0, i = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            PyTuple_SET_ITEM(kwnames, i++, Py_NewRef(key));
            stack.push_back(value);
        }
    }
    bool ok = parse_arguments(signature, stack.data(), nargs, kwnames, out);
    Py_XDECREF(kwnames);
    return ok;
}

std::optional<bool> bool_argument(const Signature& signature, int index, PyObject* value,
                                  bool fallback) {
    if (value == nullptr) return fallback;
    if (!PyBool_Check(value)) {
        wrong_type(signature, index, "bool", value);
        return std::nullopt;
    }
    return value == Py_True;
}

std::optional<std::uint64_t> u64_argument(const Signature& signature, int index, PyObject* value,
                                          std::uint64_t fallback) {
    if (value == nullptr) return fallback;
    if (!PyLong_Check(value)) {
        wrong_type(signature, index, "int", value);
        return std::nullopt;
    }
    unsigned long long result = PyLong_AsUnsignedLongLong(value);
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(result);
}

bool check_bytes_argument(const Signature& signature, int index, PyObject* value) {
    return PyBytes_Check(value) || wrong_type(signature, index, "bytes", value);
}

bool check_str_argument(const Signature& signature, int index, PyObject* value) {
    return PyUnicode_Check(value) || wrong_type(signature, index, "str", value);
}

}  // namespace dral_python
