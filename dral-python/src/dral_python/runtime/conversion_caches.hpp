// The caches of the conversion, as the module state holds them: the standard library's classes
// it converts and what it learnt of each class it met. The code that fills them is convert/.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "dral_core/base/limits.hpp"
#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {

enum class PyKind : std::uint8_t;

// Classes of the standard library, taken from their modules once those are imported: an object
// of a class whose module was never imported can be none of them, so nothing is imported here.
struct KnownClasses {
    PyTypeObject* datetime = nullptr;
    PyTypeObject* date = nullptr;
    PyTypeObject* time = nullptr;
    PyTypeObject* delta = nullptr;
    PyObject* utc = nullptr;  // datetime.timezone.utc
    PyTypeObject* uuid = nullptr;
    PyTypeObject* enum_base = nullptr;
    PyTypeObject* ordered_dict = nullptr;
    PyObject* dataclass_field = nullptr;  // dataclasses._FIELD, the marker of a real field
};

// Interned attribute names, made once.
struct AttributeNames {
    PyObject* dataclass_fields;  // __dataclass_fields__
    PyObject* field_type;        // _field_type
    PyObject* enum_value;        // _value_
    PyObject* uuid_int;          // int
    PyObject* utcoffset;
};

// How objects of one class (none of the exact builtin types) convert.
struct ClassRules {
    PyKind kind;
    // Reading one of its objects as `kind` says runs no Python code: attributes are plain
    // instance data or slots, read by the interpreter's generic lookup.
    bool read_natively = false;
    // Dataclasses: the names of the fields in definition order, and sorted by UTF-8 bytes
    // (tuples of str).
    PyRef fields;
    PyRef sorted_fields;
    // UUIDs: where their `int` lies in the object when it is a slot, else -1.
    Py_ssize_t int_slot = -1;
};

// Cached rules, found by the class's address. Entries are never replaced: releasing a class in
// the middle of a conversion could run Python code there.
struct CachedRules {
    PyTypeObject* type = nullptr;  // a reference, held for good
    ClassRules rules{};
};

// What the conversion learnt in this process (part of the module's state).
struct ConversionState {
    KnownClasses classes;
    AttributeNames names{};
    bool names_made = false;
    bool hooking = false;              // a direct binary writer is calling a default hook
    PyObject* modules_seen = nullptr;  // sys.modules when the classes were last looked for
    Py_ssize_t modules_count = -1;
    std::array<CachedRules, dral_core::kClassCacheSlots> rules;
    std::size_t rules_count = 0;
};

}  // namespace dral_python
