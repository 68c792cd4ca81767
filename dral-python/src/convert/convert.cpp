#include "convert/convert.hpp"

#include <algorithm>

#include "base/nesting.hpp"
#include "convert/key_cache.hpp"
#include "cpython/py_list.hpp"
#include "cpython/py_ref.hpp"
#include "cpython/py_str.hpp"
#include "encoding/utf8.hpp"
#include "module/errors.hpp"

namespace dral_python {

using dral_core::Value;

PyObject* raise_too_deep() {
    PyErr_SetString(PyExc_RecursionError,
                    "maximum recursion depth exceeded while converting a Python object");
    return nullptr;
}

PyObject* type_name(PyObject* object) {
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__");
}

namespace {

class PyToValue {
public:
    explicit PyToValue(bool sort_keys) : sort_keys_(sort_keys) {}

    std::optional<Value> convert(PyObject* object) {
        if (object == Py_None) return Value::null();
        if (PyBool_Check(object)) return Value::boolean(object == Py_True);
        if (PyLong_Check(object)) {
            long long n = PyLong_AsLongLong(object);
            if (n == -1 && PyErr_Occurred()) return std::nullopt;
            return n < 0 ? Value::integer(n) : Value::uint(static_cast<std::uint64_t>(n));
        }
        if (PyFloat_Check(object)) return Value::floating(PyFloat_AS_DOUBLE(object));
        if (PyUnicode_Check(object)) {
            Py_ssize_t length;
            const char* utf8 = PyUnicode_AsUTF8AndSize(object, &length);
            if (utf8 == nullptr) return std::nullopt;
            return Value::str(std::string(utf8, static_cast<std::size_t>(length)));
        }
        if (PyBytes_Check(object)) {
            auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
            return Value::bytes(dral_core::Bytes(data, data + PyBytes_GET_SIZE(object)));
        }
        if (PyDict_Check(object)) return nested(object, &PyDict_Type, &PyToValue::convert_dict);
        if (PyList_Check(object)) return nested(object, &PyList_Type, &PyToValue::convert_list);
        if (PyTuple_Check(object)) return nested(object, &PyTuple_Type, &PyToValue::convert_list);
        PyRef name(type_name(object));
        if (name) {
            // %S: a metaclass may make __name__ anything, not only a str.
            PyRef message(PyUnicode_FromFormat("cannot convert %S to Dral value", name.get()));
            if (message) raise_type_error(message.get());
        }
        return std::nullopt;
    }

private:
    using ContainerConverter = std::optional<Value> (PyToValue::*)(PyObject*);

    // Containers: exact types only, and bounded nesting so that self-containing or absurdly
    // deep objects raise instead of exhausting the stack.
    std::optional<Value> nested(PyObject* object, PyTypeObject* exact, ContainerConverter convert) {
        if (Py_TYPE(object) != exact) {
            PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to '%s'",
                         Py_TYPE(object)->tp_name, exact->tp_name);
            return std::nullopt;
        }
        if (depth_ >= dral_core::kMaxNestingDepth) {
            raise_too_deep();
            return std::nullopt;
        }
        if (Py_EnterRecursiveCall(" while converting a Python object")) return std::nullopt;
        ++depth_;
        std::optional<Value> result = (this->*convert)(object);
        --depth_;
        Py_LeaveRecursiveCall();
        return result;
    }

    std::optional<Value> convert_list(PyObject* sequence) {
        dral_core::Array items;
        Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
        items.reserve(static_cast<std::size_t>(size));
        // The size is re-read on every step: nothing here runs Python code, but stay exact.
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence); ++i) {
            auto item = convert(PySequence_Fast_GET_ITEM(sequence, i));
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
        }
        return Value::array(std::move(items));
    }

    std::optional<Value> convert_dict(PyObject* dict) {
        dral_core::Object entries;
        entries.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict, &position, &key, &value)) {
            Py_ssize_t length;
            const char* utf8 =
                PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &length) : nullptr;
            if (utf8 == nullptr) {
                PyErr_Clear();
                PyRef message(PyUnicode_FromString("dict keys must be strings"));
                if (message) raise_type_error(message.get());
                return std::nullopt;
            }
            auto converted = convert(value);
            if (!converted) return std::nullopt;
            entries.emplace_back(std::string(utf8, static_cast<std::size_t>(length)),
                                 std::move(*converted));
        }
        if (sort_keys_)
            std::stable_sort(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        return Value::object(std::move(entries));
    }

    bool sort_keys_;
    std::size_t depth_ = 0;
};

PyObject* str_to_py(const std::string& text) { return new_utf8_str(text); }

// Dict keys repeat across a document: ASCII ones come from the shared cache.
PyObject* key_to_py(const std::string& key) {
    if (dral_core::is_ascii(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()))
        return shared_key_cache().get(key);
    return str_to_py(key);
}

}  // namespace

std::optional<Value> py_to_value(PyObject* object, bool sort_keys) {
    return PyToValue(sort_keys).convert(object);
}

// Values reach here only from bounded producers, so the recursion is bounded too.
PyObject* value_to_py(const Value& value) {
    switch (value.kind()) {
        case dral_core::Kind::Null:
            Py_RETURN_NONE;
        case dral_core::Kind::Bool:
            return PyBool_FromLong(value.as_bool());
        case dral_core::Kind::UInt:
            return PyLong_FromUnsignedLongLong(value.as_uint());
        case dral_core::Kind::Int:
            return PyLong_FromLongLong(value.as_int());
        case dral_core::Kind::Float:
            return PyFloat_FromDouble(value.as_float());
        case dral_core::Kind::Str:
            return str_to_py(value.as_str());
        case dral_core::Kind::Bytes: {
            const auto& bytes = value.as_bytes();
            return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<Py_ssize_t>(bytes.size()));
        }
        case dral_core::Kind::Array: {
            const auto& items = value.as_array();
            return build_list(items.size(), [&](std::size_t i) { return value_to_py(items[i]); });
        }
        case dral_core::Kind::Object: {
            PyRef dict(PyDict_New());
            if (!dict) return nullptr;
            for (const auto& [key, entry_value] : value.as_object()) {
                PyRef py_key(key_to_py(key));
                if (!py_key) return nullptr;
                PyRef py_value(value_to_py(entry_value));
                if (!py_value || PyDict_SetItem(dict.get(), py_key.get(), py_value.get()) < 0)
                    return nullptr;
            }
            return dict.release();
        }
    }
    Py_RETURN_NONE;
}

}  // namespace dral_python
