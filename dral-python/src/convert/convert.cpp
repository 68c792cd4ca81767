#include "convert/convert.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "base/nesting.hpp"
#include "convert/key_cache.hpp"
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

// Python objects to a Value, depth first. The containers being converted wait on a list on the
// heap rather than in native stack frames, so the depth of the object never decides the depth of
// the call stack: nesting is bounded by kMaxNestingDepth alone, which a self-containing object
// reaches too.
class PyToValue {
public:
    explicit PyToValue(bool sort_keys) : sort_keys_(sort_keys) {}

    std::optional<Value> convert(PyObject* root) {
        Step step = visit(root);
        for (;;) {
            if (step == Step::Failed) return std::nullopt;
            if (step == Step::Converted) {
                if (open_.empty()) return std::move(converted_);
                add_to_parent();
            }
            step = visit_next(open_.back());
        }
    }

private:
    // What visiting an object did: failed (exception set), converted it whole (a scalar, in
    // converted_), or opened it as a container whose elements come next.
    enum class Step { Failed, Converted, Opened };

    struct Open {
        PyObject* source;  // borrowed: no Python code runs while converting
        Value target;
        Py_ssize_t position;  // the next item, or PyDict_Next's position
        std::string key;      // of the dict entry whose value is being converted
    };

    Step visit(PyObject* object) {
        if (object == Py_None) return converted(Value::null());
        if (PyBool_Check(object)) return converted(Value::boolean(object == Py_True));
        if (PyLong_Check(object)) {
            long long n = PyLong_AsLongLong(object);
            if (n == -1 && PyErr_Occurred()) return Step::Failed;
            return converted(n < 0 ? Value::integer(n)
                                   : Value::uint(static_cast<std::uint64_t>(n)));
        }
        if (PyFloat_Check(object)) return converted(Value::floating(PyFloat_AS_DOUBLE(object)));
        if (PyUnicode_Check(object)) {
            Py_ssize_t length;
            const char* utf8 = PyUnicode_AsUTF8AndSize(object, &length);
            if (utf8 == nullptr) return Step::Failed;
            return converted(Value::str(std::string(utf8, static_cast<std::size_t>(length))));
        }
        if (PyBytes_Check(object)) {
            auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
            return converted(Value::bytes(dral_core::Bytes(data, data + PyBytes_GET_SIZE(object))));
        }
        if (PyDict_Check(object)) return open(object, &PyDict_Type);
        if (PyList_Check(object)) return open(object, &PyList_Type);
        if (PyTuple_Check(object)) return open(object, &PyTuple_Type);
        PyRef name(type_name(object));
        if (name) {
            // %S: a metaclass may make __name__ anything, not only a str.
            PyRef message(PyUnicode_FromFormat("cannot convert %S to Dral value", name.get()));
            if (message) raise_type_error(message.get());
        }
        return Step::Failed;
    }

    Step converted(Value value) {
        converted_ = std::move(value);
        return Step::Converted;
    }

    // Containers: exact types only.
    Step open(PyObject* object, PyTypeObject* exact) {
        if (Py_TYPE(object) != exact) {
            PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to '%s'",
                         Py_TYPE(object)->tp_name, exact->tp_name);
            return Step::Failed;
        }
        if (open_.size() >= dral_core::kMaxNestingDepth) {
            raise_too_deep();
            return Step::Failed;
        }
        Value target;
        if (exact == &PyDict_Type) {
            dral_core::Object entries;
            entries.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(object)));
            target = Value::object(std::move(entries));
        } else {
            dral_core::Array items;
            items.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object)));
            target = Value::array(std::move(items));
        }
        open_.push_back({object, std::move(target), 0, {}});
        return Step::Opened;
    }

    // Visits the next element of `top`, or closes it when it has no more.
    Step visit_next(Open& top) {
        if (top.target.kind() == dral_core::Kind::Object) {
            PyObject *key, *value;
            if (!PyDict_Next(top.source, &top.position, &key, &value)) return close();
            Py_ssize_t length;
            const char* utf8 =
                PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &length) : nullptr;
            if (utf8 == nullptr) {
                PyErr_Clear();
                PyRef message(PyUnicode_FromString("dict keys must be strings"));
                if (message) raise_type_error(message.get());
                return Step::Failed;
            }
            top.key.assign(utf8, static_cast<std::size_t>(length));
            return visit(value);
        }
        // The size is read on every step: nothing here runs Python code, but stay exact.
        if (top.position >= PySequence_Fast_GET_SIZE(top.source)) return close();
        return visit(PySequence_Fast_GET_ITEM(top.source, top.position++));
    }

    Step close() {
        Value value = std::move(open_.back().target);
        open_.pop_back();
        if (sort_keys_ && value.kind() == dral_core::Kind::Object) {
            dral_core::Object& entries = value.as_object();
            std::stable_sort(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        return converted(std::move(value));
    }

    void add_to_parent() {
        Open& parent = open_.back();
        if (parent.target.kind() == dral_core::Kind::Object)
            parent.target.as_object().emplace_back(std::move(parent.key), std::move(converted_));
        else
            parent.target.as_array().push_back(std::move(converted_));
    }

    bool sort_keys_;
    std::vector<Open> open_;
    Value converted_;
};

PyObject* str_to_py(const std::string& text) { return new_utf8_str(text); }

// Dict keys repeat across a document: ASCII ones come from the shared cache.
PyObject* key_to_py(const std::string& key) {
    if (dral_core::is_ascii(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()))
        return shared_key_cache().get(key);
    return str_to_py(key);
}

PyObject* scalar_to_py(const Value& value) {
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
        case dral_core::Kind::Array:
        case dral_core::Kind::Object:
            break;
    }
    Py_RETURN_NONE;
}

// An empty dict, or a list of the array's length whose items are still to be set.
PyObject* new_container(const Value& value) {
    auto size = static_cast<Py_ssize_t>(value.size());
    return value.kind() == dral_core::Kind::Array ? PyList_New(size) : _PyDict_NewPresized(size);
}

}  // namespace

std::optional<Value> py_to_value(PyObject* object, bool sort_keys) {
    return PyToValue(sort_keys).convert(object);
}

// Containers are made and put in their parent first, then filled, depth first; the ones being
// filled wait on a list on the heap, so any depth of value fits a small native stack. Only the
// root is owned here: everything else belongs to it from the moment it exists.
PyObject* value_to_py(const Value& value) {
    if (!value.is_container()) return scalar_to_py(value);
    PyRef root(new_container(value));
    if (!root) return nullptr;
    struct Filling {
        const Value* source;
        PyObject* target;  // borrowed from its parent
        std::size_t next;
    };
    std::vector<Filling> open{{&value, root.get(), 0}};
    while (!open.empty()) {
        Filling& top = open.back();
        if (top.next == top.source->size()) {
            open.pop_back();
            continue;
        }
        const std::size_t index = top.next++;
        PyObject* target = top.target;
        const bool is_array = top.source->kind() == dral_core::Kind::Array;
        const Value& child =
            is_array ? top.source->as_array()[index] : top.source->as_object()[index].second;
        PyRef item(child.is_container() ? new_container(child) : scalar_to_py(child));
        if (!item) return nullptr;
        PyObject* made = item.get();
        if (is_array) {
            PyList_SET_ITEM(target, static_cast<Py_ssize_t>(index), item.release());
        } else {
            PyRef key(key_to_py(top.source->as_object()[index].first));
            // In entry order, so that a repeated key keeps its first place and its last value.
            if (!key || PyDict_SetItem(target, key.get(), made) < 0) return nullptr;
        }
        if (child.size() != 0) open.push_back({&child, made, 0});  // `top` is not used below
    }
    return root.release();
}

}  // namespace dral_python
