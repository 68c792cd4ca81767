#include "dral_python/convert/py_classes.hpp"

#include <datetime.h>
#ifndef Py_T_OBJECT_EX  // before 3.12
#include <structmember.h>
#define Py_T_OBJECT_EX T_OBJECT_EX
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::kClassCacheSlots;

ConversionState& state() { return module_state().conversion; }

// The attribute `name` of the imported module `module`, as a new reference; null (no exception)
// when the module is not imported or lacks it.
PyObject* imported_attribute(const char* module, const char* name) {
    PyRef module_name(PyUnicode_FromString(module));
    if (!module_name) {
        PyErr_Clear();
        return nullptr;
    }
    PyRef found(PyImport_GetModule(module_name.get()));
    PyObject* attribute = found ? PyObject_GetAttrString(found.get(), name) : nullptr;
    PyErr_Clear();
    return attribute;
}

PyTypeObject* imported_class(const char* module, const char* name) {
    PyObject* found = imported_attribute(module, name);
    if (found != nullptr && !PyType_Check(found)) Py_CLEAR(found);
    return reinterpret_cast<PyTypeObject*>(found);
}

void find_missing(KnownClasses& classes) {
    if (classes.datetime == nullptr && PyRef(imported_attribute("datetime", "datetime"))) {
        // The C API's own types, which the datetime macros read.
        PyDateTime_IMPORT;
        if (PyDateTimeAPI != nullptr) {
            classes.datetime = PyDateTimeAPI->DateTimeType;
            classes.date = PyDateTimeAPI->DateType;
            classes.time = PyDateTimeAPI->TimeType;
            classes.delta = PyDateTimeAPI->DeltaType;
            classes.utc = PyDateTimeAPI->TimeZone_UTC;
        }
        PyErr_Clear();
    }
    if (classes.uuid == nullptr) classes.uuid = imported_class("uuid", "UUID");
    if (classes.enum_base == nullptr) classes.enum_base = imported_class("enum", "Enum");
    if (classes.ordered_dict == nullptr)
        classes.ordered_dict = imported_class("collections", "OrderedDict");
    if (classes.dataclass_field == nullptr)
        classes.dataclass_field = imported_attribute("dataclasses", "_FIELD");
}

bool is_subclass(PyTypeObject* type, PyTypeObject* base) {
    return base != nullptr && PyType_IsSubtype(type, base);
}

// Whether the generic lookup of `name` on objects of `type` reads plain data: nothing on the
// class, a slot, or a class attribute that is no descriptor (a dataclass field's default).
bool reads_natively(PyTypeObject* type, PyObject* name) {
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    PyObject* found = _PyType_Lookup(type, name);
    return found == nullptr || Py_IS_TYPE(found, &PyMemberDescr_Type) ||
           Py_TYPE(found)->tp_descr_get == nullptr;
}

// The offset of the object slot that `name` reads on objects of `type`, or -1.
Py_ssize_t object_slot(PyTypeObject* type, PyObject* name) {
    PyObject* found = _PyType_Lookup(type, name);
    if (found == nullptr || !Py_IS_TYPE(found, &PyMemberDescr_Type)) return -1;
    const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(found)->d_member;
    return member->type == Py_T_OBJECT_EX ? member->offset : -1;
}

bool utf8_less(PyObject* a, PyObject* b) {
    auto x = utf8_of(a), y = utf8_of(b);
    return x && y && *x < *y;
}

// The fields of a dataclass (the entries of __dataclass_fields__ marked as real fields, not class
// or init-only variables), or false when `type` is no dataclass.
bool dataclass_rules(PyTypeObject* type, const KnownClasses& classes, const AttributeNames& names,
                     ClassRules& out) {
    PyObject* declared = _PyType_Lookup(type, names.dataclass_fields);
    if (declared == nullptr || !PyDict_Check(declared) || classes.dataclass_field == nullptr)
        return false;
    std::vector<PyObject*> fields;  // borrowed from `declared`, which the class holds
    Py_ssize_t position = 0;
    PyObject *name, *field;
    bool natively = true;
    while (PyDict_Next(declared, &position, &name, &field)) {
        PyRef marker(PyObject_GetAttr(field, names.field_type));
        if (!marker) return false;
        if (marker.get() != classes.dataclass_field) continue;
        if (!PyUnicode_Check(name) || !utf8_of(name)) return false;
        fields.push_back(name);
        natively = natively && reads_natively(type, name);
    }
    PyRef in_order(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
    PyRef sorted(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
    if (!in_order || !sorted) return false;
    for (std::size_t i = 0; i < fields.size(); ++i)
        PyTuple_SET_ITEM(in_order.get(), static_cast<Py_ssize_t>(i), Py_NewRef(fields[i]));
    std::stable_sort(fields.begin(), fields.end(), utf8_less);
    for (std::size_t i = 0; i < fields.size(); ++i)
        PyTuple_SET_ITEM(sorted.get(), static_cast<Py_ssize_t>(i), Py_NewRef(fields[i]));
    out.kind = PyKind::Dataclass;
    out.read_natively = natively;
    out.fields = std::move(in_order);
    out.sorted_fields = std::move(sorted);
    return true;
}

// The rules of `type`, in the order of the conversion's rules: the builtin bases (a subclass
// converts as its base), then the standard library's classes, then dataclasses.
bool work_out_rules(PyTypeObject* type, ClassRules& out) {
    const AttributeNames* names = attribute_names();
    if (names == nullptr) return false;
    const KnownClasses& classes = known_classes();
    out = ClassRules{PyKind::Unsupported, true, PyRef(), PyRef(), -1};
    if (PyType_IsSubtype(type, &PyFloat_Type)) {
        out.kind = PyKind::Float;
    } else if (PyType_FastSubclass(type, Py_TPFLAGS_DICT_SUBCLASS)) {
        out.kind = is_subclass(type, classes.ordered_dict) ? PyKind::OrderedDict : PyKind::Dict;
    } else if (is_subclass(type, classes.datetime)) {
        out.kind = PyKind::DateTime;
    } else if (is_subclass(type, classes.date)) {
        out.kind = PyKind::Date;
    } else if (is_subclass(type, classes.time)) {
        out.kind = PyKind::Time;
    } else if (is_subclass(type, classes.uuid)) {
        out.kind = PyKind::Uuid;
        out.read_natively = reads_natively(type, names->uuid_int);
        out.int_slot = object_slot(type, names->uuid_int);
    } else if (is_subclass(type, classes.enum_base)) {
        out.kind = PyKind::Enum;
        out.read_natively = reads_natively(type, names->enum_value);
    } else if (!dataclass_rules(type, classes, *names, out)) {
        if (PyErr_Occurred()) return false;
    }
    return true;
}

std::size_t first_slot(PyTypeObject* type) {
    auto address = reinterpret_cast<std::uintptr_t>(type);
    return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ull) >> 55) % kClassCacheSlots;
}

void copy_rules(const ClassRules& from, ClassRules& to) {
    to.kind = from.kind;
    to.read_natively = from.read_natively;
    to.int_slot = from.int_slot;
    to.fields = PyRef::borrow(from.fields.get());
    to.sorted_fields = PyRef::borrow(from.sorted_fields.get());
}

}  // namespace

const AttributeNames* attribute_names() {
    ConversionState& shared = state();
    if (shared.names_made) return &shared.names;
    PyObject** slots[] = {&shared.names.dataclass_fields, &shared.names.field_type,
                          &shared.names.enum_value, &shared.names.uuid_int,
                          &shared.names.utcoffset};
    const char* texts[] = {"__dataclass_fields__", "_field_type", "_value_", "int", "utcoffset"};
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        if (*slots[i] == nullptr) *slots[i] = PyUnicode_InternFromString(texts[i]);
        if (*slots[i] == nullptr) return nullptr;
    }
    shared.names_made = true;
    return &shared.names;
}

const KnownClasses& known_classes() {
    ConversionState& shared = state();
    // Only a module imported since the last look can bring a class not found yet.
    PyObject* modules = PyImport_GetModuleDict();
    Py_ssize_t count = PyDict_Check(modules) ? PyDict_GET_SIZE(modules) : -1;
    if (modules != shared.modules_seen || count != shared.modules_count || count < 0) {
        find_missing(shared.classes);
        shared.modules_seen = modules;
        shared.modules_count = count;
    }
    return shared.classes;
}

const KnownClasses& found_classes() { return state().classes; }

namespace {

// The slot holding `type`, or the free one where it would go.
CachedRules& slot_of(PyTypeObject* type) {
    auto& slots = state().rules;
    for (std::size_t slot = first_slot(type);; slot = (slot + 1) % kClassCacheSlots) {
        CachedRules& cached = slots[slot];
        if (cached.type == type || cached.type == nullptr) return cached;
    }
}

}  // namespace

const ClassRules* cached_rules(PyTypeObject* type) {
    CachedRules& cached = slot_of(type);
    return cached.type == type ? &cached.rules : nullptr;
}

bool rules_for(PyTypeObject* type, ClassRules& out) {
    ConversionState& shared = state();
    CachedRules& found = slot_of(type);
    if (found.type == type) {
        copy_rules(found.rules, out);
        return true;
    }
    if (!work_out_rules(type, out)) return false;
    if (shared.rules_count < dral_core::kMostCachedClasses) {
        CachedRules& cached = slot_of(type);  // working out the rules may have cached others
        cached.type = reinterpret_cast<PyTypeObject*>(Py_NewRef(type));
        copy_rules(out, cached.rules);
        ++shared.rules_count;
    }
    return true;
}

}  // namespace dral_python
