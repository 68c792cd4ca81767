// The one rulebook for Python objects: what each one converts to, decided in one place for the
// Value conversion and for the writers that skip the Value tree.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>

namespace dral_python {

enum class PyKind : std::uint8_t {
    // The builtin types, their subclasses included; containers by their base type's rules.
    Str,
    Int,
    Float,
    Dict,
    List,
    Tuple,
    Null,
    Bool,
    Bytes,
    // The standard library's, and dataclasses.
    OrderedDict,  // an object in the order of its own iteration
    DateTime,     // RFC 3339 text, as the next three
    Date,
    Time,
    Uuid,         // its canonical 36 characters
    Enum,         // its value, converted by these rules
    Dataclass,    // an object of its fields
    Unsupported,  // refused: for the default hook to convert, else DralTypeError
    Failed,       // the class could not be examined; an exception is set
};

struct ClassRules;

// Everything but the exact types: out of line, away from the writers' loops. The second form
// also gives the cached rules of the object's class when its kind came from them (else null).
PyKind classify_other(PyObject* object);
PyKind classify_other(PyObject* object, const ClassRules*& rules);

// Calls `handle(kind)` with the kind of `object`, or `other(object)` when it is none of the exact
// types (which then finds its kind with classify_other), and returns the result. Exact types are
// tested first, in the order documents most often hold them, then the rules for the rest:
// subclasses of int, float, str and bytes (enum members among them) convert as their base, and
// containers only when exact. No type is two of these, so testing the exact types first decides
// nothing the rules' order would not. Each exact type passes a constant, so once `handle` is
// inlined its switch folds into this chain of tests and a writer's hot loop takes no second branch;
// the rest goes to `other`, out of the way of the loop.
template <class Handle, class Other>
[[gnu::always_inline]] inline auto dispatch(PyObject* object, Handle&& handle, Other&& other) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyUnicode_Type) return handle(PyKind::Str);
    if (type == &PyLong_Type) return handle(PyKind::Int);
    if (type == &PyFloat_Type) return handle(PyKind::Float);
    if (type == &PyDict_Type) return handle(PyKind::Dict);
    if (type == &PyList_Type) return handle(PyKind::List);
    if (type == &PyTuple_Type) return handle(PyKind::Tuple);
    if (object == Py_None) return handle(PyKind::Null);
    if (type == &PyBool_Type) return handle(PyKind::Bool);
    if (type == &PyBytes_Type) return handle(PyKind::Bytes);
    return other(object);
}

[[gnu::always_inline]] inline PyKind classify(PyObject* object) {
    return dispatch(
        object, [](PyKind kind) { return kind; },
        [](PyObject* other) { return classify_other(other); });
}

// The builtin scalars: written as they are, with no rule to follow further.
inline bool is_builtin_scalar(PyKind kind) {
    return kind == PyKind::Str || kind == PyKind::Int || kind == PyKind::Float ||
           kind == PyKind::Null || kind == PyKind::Bool || kind == PyKind::Bytes;
}

// Kinds written as arrays or objects of the object's own items.
inline bool is_container(PyKind kind) {
    return kind == PyKind::Dict || kind == PyKind::List || kind == PyKind::Tuple;
}

// Dict keys must be str, subclasses included; the exact type is tested first, one load fewer on
// the chain that follows each key.
[[gnu::always_inline]] inline bool is_str_key(PyObject* key) {
    return Py_TYPE(key) == &PyUnicode_Type || PyUnicode_Check(key);
}

// Raise the DralTypeError of a refused object: "cannot convert {type} to Dral value", then
// " at {path}" unless it is the root, then `detail` when given; return false.
bool raise_unconvertible(PyObject* object, std::string_view path, std::string_view detail = {});
// Raise the error for a dict key that is not a str (or has no UTF-8 form); return false.
bool raise_bad_key(std::string_view path);

}  // namespace dral_python
