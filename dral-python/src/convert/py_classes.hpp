// What the conversion knows of classes beyond the builtin types: the standard library's classes
// it converts, and what it learnt of each class it met. Every cache of the conversion lives here.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/limits.hpp"
#include "cpython/py_ref.hpp"

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

// Null with an exception set if the names could not be made.
const AttributeNames* attribute_names();

// The classes found so far, after looking again for those not found yet.
const KnownClasses& known_classes();
// The classes found so far, without looking again: enough for objects already classified.
const KnownClasses& found_classes();

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

// The rules for `type`, worked out on first sight and cached; false with an exception set when
// working them out failed. Cached classes stay alive for the life of the process (at most a few
// hundred of them; past that, each new one is worked out again whenever it is met).
bool rules_for(PyTypeObject* type, ClassRules& out);

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
    PyObject* modules_seen = nullptr;  // sys.modules when the classes were last looked for
    Py_ssize_t modules_count = -1;
    std::array<CachedRules, dral_core::kClassCacheSlots> rules;
    std::size_t rules_count = 0;
};

// The cached rules for `type`, or null when it was never cached (not met yet, or met once the
// cache was full). Cached rules never change, so the pointer stays valid.
const ClassRules* cached_rules(PyTypeObject* type);

}  // namespace dral_python
