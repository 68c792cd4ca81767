#include "convert/convert.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "base/nesting.hpp"
#include "base/small_stack.hpp"
#include "convert/key_cache.hpp"
#include "convert/py_kind.hpp"
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

// Python objects to a Value, depth first. The containers being converted wait on a stack of
// their own rather than in native stack frames, so the depth of the object never decides the
// depth of the call stack: nesting is bounded by kMaxNestingDepth alone, which a self-containing
// object reaches too.
class PyToValue {
public:
    explicit PyToValue(bool sort_keys) : sort_keys_(sort_keys) {}

    std::optional<Value> convert(PyObject* root) {
        PyKind kind = classify(root);
        if (!opens(kind)) return scalar(root, kind);
        if (!open(root, kind)) return std::nullopt;
        for (;;) {
            // Scalars are added where they are met; the loop comes back here for the next
            // container to open, and when the one on top is complete.
            Open& top = open_.back();
            PyObject* child = nullptr;
            if (top.is_dict) {
                dral_core::Object& entries = top.target.as_object();
                PyObject* key;
                // The interpreter's own reading, against which the writers' reading of dict
                // tables is checked.
                while (PyDict_Next(top.source, &top.position, &key, &child)) {
                    if (!read_key(key, top.key)) return std::nullopt;
                    kind = classify(child);
                    if (opens(kind)) break;
                    auto value = scalar(child, kind);
                    if (!value) return std::nullopt;
                    entries.emplace_back(std::move(top.key), std::move(*value));
                    child = nullptr;
                }
            } else {
                dral_core::Array& items = top.target.as_array();
                // The size is read on every step: nothing here runs Python code, but stay exact.
                while (top.position < PySequence_Fast_GET_SIZE(top.source)) {
                    child = PySequence_Fast_GET_ITEM(top.source, top.position++);
                    kind = classify(child);
                    if (opens(kind)) break;
                    auto value = scalar(child, kind);
                    if (!value) return std::nullopt;
                    items.push_back(std::move(*value));
                    child = nullptr;
                }
            }
            if (child != nullptr) {
                if (!open(child, kind)) return std::nullopt;
                continue;
            }
            Value done = close();
            if (open_.empty()) return done;
            add(open_.back(), std::move(done));
        }
    }

private:
    struct Open {
        Open(PyObject* container, bool dict)
            : source(container),
              target(dict ? Value::object({}) : Value::array({})),
              is_dict(dict) {}
        PyObject* source;  // borrowed: no Python code runs while converting
        Value target;
        Py_ssize_t position = 0;  // the next item, or PyDict_Next's position
        std::string key;          // of the dict entry being converted
        bool is_dict;
    };

    // Containers are opened, and refused ones fail there, where the walk meets them.
    static bool opens(PyKind kind) {
        return is_container(kind) || kind == PyKind::SubclassedContainer;
    }

    static std::optional<Value> scalar(PyObject* object, PyKind kind) {
        switch (kind) {
            case PyKind::Null:
                return Value::null();
            case PyKind::Bool:
                return Value::boolean(object == Py_True);
            case PyKind::Int: {
                long long n = PyLong_AsLongLong(object);
                if (n == -1 && PyErr_Occurred()) return std::nullopt;
                return n < 0 ? Value::integer(n) : Value::uint(static_cast<std::uint64_t>(n));
            }
            case PyKind::Float:
                return Value::floating(PyFloat_AS_DOUBLE(object));
            case PyKind::Str: {
                auto utf8 = utf8_of(object);
                if (!utf8) return std::nullopt;
                return Value::str(std::string(*utf8));
            }
            case PyKind::Bytes: {
                auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
                return Value::bytes(dral_core::Bytes(data, data + PyBytes_GET_SIZE(object)));
            }
            default:
                raise_unconvertible(object, kind);
                return std::nullopt;
        }
    }

    static bool read_key(PyObject* key, std::string& out) {
        auto utf8 = is_str_key(key) ? utf8_of(key) : std::nullopt;
        if (!utf8) return raise_bad_key();
        out.assign(*utf8);
        return true;
    }

    bool open(PyObject* object, PyKind kind) {
        if (!is_container(kind)) return raise_unconvertible(object, kind);
        if (open_.size() >= dral_core::kMaxNestingDepth) {
            raise_too_deep();
            return false;
        }
        bool is_dict = kind == PyKind::Dict;
        open_.push_back(Open(object, is_dict));
        Value& target = open_.back().target;
        if (is_dict)
            target.as_object().reserve(static_cast<std::size_t>(PyDict_GET_SIZE(object)));
        else
            target.as_array().reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object)));
        return true;
    }

    Value close() {
        Value value = std::move(open_.back().target);
        open_.pop_back();
        if (sort_keys_ && value.kind() == dral_core::Kind::Object) {
            dral_core::Object& entries = value.as_object();
            std::stable_sort(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        return value;
    }

    static void add(Open& parent, Value&& value) {
        if (parent.is_dict)
            parent.target.as_object().emplace_back(std::move(parent.key), std::move(value));
        else
            parent.target.as_array().push_back(std::move(value));
    }

    bool sort_keys_;
    dral_core::SmallStack<Open, 8> open_;
};

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
            return new_utf8_str(value.as_str());
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
    return value.kind() == dral_core::Kind::Array
               ? PyList_New(static_cast<Py_ssize_t>(value.as_array().size()))
               : _PyDict_NewPresized(static_cast<Py_ssize_t>(value.as_object().size()));
}

// The element's Python object, and whether it is a container with elements still to convert.
PyObject* element_to_py(const Value& element, bool& to_fill) {
    to_fill = false;
    if (element.kind() == dral_core::Kind::Array) {
        to_fill = !element.as_array().empty();
    } else if (element.kind() == dral_core::Kind::Object) {
        to_fill = !element.as_object().empty();
    } else {
        return scalar_to_py(element);
    }
    return new_container(element);
}

}  // namespace

PyObject* key_to_py(std::string_view key) {
    if (dral_core::is_ascii(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()))
        return shared_key_cache().get(key);
    return new_utf8_str(key);
}

std::optional<Value> py_to_value(PyObject* object, bool sort_keys) {
    return PyToValue(sort_keys).convert(object);
}

// Containers are made and put in their parent first, then filled, depth first; the ones being
// filled wait on a stack of their own, so any depth of value fits a small native stack. Only the
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
    dral_core::SmallStack<Filling, 16> open;
    open.push_back({&value, root.get(), 0});
    while (!open.empty()) {
        Filling& top = open.back();
        const Value* nested = nullptr;
        PyObject* made = nullptr;
        bool to_fill = false;
        if (top.source->kind() == dral_core::Kind::Array) {
            const dral_core::Array& items = top.source->as_array();
            while (!to_fill && top.next < items.size()) {
                nested = &items[top.next];
                made = element_to_py(*nested, to_fill);
                if (made == nullptr) return nullptr;
                PyList_SET_ITEM(top.target, static_cast<Py_ssize_t>(top.next++), made);
            }
        } else {
            const dral_core::Object& entries = top.source->as_object();
            while (!to_fill && top.next < entries.size()) {
                const auto& [key, element] = entries[top.next++];
                nested = &element;
                PyRef item(element_to_py(element, to_fill));
                PyRef py_key(item ? key_to_py(key) : nullptr);
                // In entry order, so that a repeated key keeps its first place and its last value.
                if (!py_key || PyDict_SetItem(top.target, py_key.get(), item.get()) < 0)
                    return nullptr;
                made = item.get();  // the dict holds it now
            }
        }
        if (to_fill)
            open.push_back({nested, made, 0});  // `top` is not used past this point
        else
            open.pop_back();
    }
    return root.release();
}

}  // namespace dral_python
