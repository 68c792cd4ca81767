// The DralValue class. A value never changes once made, so the views of its parts share it: a
// view made by an accessor points into the tree of the view it came from and keeps that tree's
// owner alive. An accessor then costs what it hands out, never a copy of the tree, and nothing
// observable differs from views that each own a copy.
#include "dral_python/text/dral_value.hpp"

#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "dral_core/base/key_index.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/cpython/view_lookup.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::Kind;
using dral_core::Value;

struct DralValueObject {
    PyObject_HEAD const Value* value;  // the viewed value: `storage`, or a part of the owner's
    PyObject* owner;                   // the view that owns the tree, or null for that view
    // Constructed in the view that owns the tree only:
    Value storage;  // the whole tree
    // Key lookups in its objects, made on the first lookup in an object too long to scan.
    std::unique_ptr<dral_core::KeyLookup> lookups;
};

DralValueObject* as_view(PyObject* self) { return reinterpret_cast<DralValueObject*>(self); }

const Value& held(PyObject* self) { return *as_view(self)->value; }

// The view that owns the tree `self` views.
PyObject* owner_of(PyObject* self) {
    return as_view(self)->owner != nullptr ? as_view(self)->owner : self;
}

// Views are made by the thousand in a walk: no zeroing, no generic allocation path. The class is
// not garbage-collected (a view refers to no object but its owner, which refers to none).
PyObject* alloc_view() {
    auto* view = static_cast<PyObject*>(PyObject_Malloc(sizeof(DralValueObject)));
    if (view == nullptr) return PyErr_NoMemory();
    return PyObject_Init(view, module_state().classes.dral_value);
}

const char* kind_name(Kind kind) {
    static constexpr const char* kNames[] = {"null", "bool",  "uint",  "int",   "float",
                                             "str",  "bytes", "array", "object"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(Kind::Object) + 1);
    return kNames[static_cast<std::size_t>(kind)];
}

// A new view of `part`, which lies in the tree that `self` views.
PyObject* view_of_part(PyObject* self, const Value& part) {
    PyObject* view = alloc_view();
    if (view == nullptr) return nullptr;
    as_view(view)->value = &part;
    as_view(view)->owner = Py_NewRef(owner_of(self));
    return view;
}

struct ViewParts {
    static constexpr const char* kBadKey = "DralValue keys must be str or int";

    static std::size_t length(PyObject* self) { return held(self).size(); }

    static const Value* item(PyObject* self, std::size_t index) {
        const Value& value = held(self);
        if (value.kind() != Kind::Array || index >= value.size()) return nullptr;
        return &value.as_array()[index];
    }

    // The first entry with an equal key. An object too long to scan is searched through a key
    // lookup, made by the owner on the first search in it.
    static const Value* entry(PyObject* self, std::string_view key) {
        const Value& value = held(self);
        if (value.kind() != Kind::Object) return nullptr;
        const dral_core::Object& entries = value.as_object();
        if (entries.size() <= dral_core::KeyLookup::kScanned) return value.get(key);
        DralValueObject* owner = as_view(owner_of(self));
        if (!owner->lookups) owner->lookups = std::make_unique<dral_core::KeyLookup>();
        auto found = owner->lookups->find(
            &value, entries.size(), key,
            [&](std::size_t i) -> const std::string& { return entries[i].first; });
        return found ? &entries[*found].second : nullptr;
    }

    static PyObject* view_of(PyObject* self, const Value& part) { return view_of_part(self, part); }
};

using Lookup = ViewLookup<ViewParts>;

Py_ssize_t view_length(PyObject* self) { return static_cast<Py_ssize_t>(ViewParts::length(self)); }

PyObject* view_as_python(PyObject* self, PyObject*) { return value_to_py(held(self)); }

PyObject* view_keys(PyObject* self, PyObject*) {
    const Value& value = held(self);
    if (value.kind() != Kind::Object) return PyList_New(0);
    const dral_core::Object& entries = value.as_object();
    return build_list(entries.size(), [&](std::size_t i) { return key_to_py(entries[i].first); });
}

PyObject* view_values(PyObject* self, PyObject*) {
    const Value& value = held(self);
    return build_list(value.size(), [&](std::size_t i) {
        return view_of_part(
            self, value.kind() == Kind::Array ? value.as_array()[i] : value.as_object()[i].second);
    });
}

PyObject* view_items(PyObject* self, PyObject*) {
    const Value& value = held(self);
    if (value.kind() != Kind::Object) return PyList_New(0);
    const dral_core::Object& entries = value.as_object();
    return build_list(entries.size(), [&](std::size_t i) -> PyObject* {
        PyRef key(key_to_py(entries[i].first));
        if (!key) return nullptr;
        PyRef view(view_of_part(self, entries[i].second));
        if (!view) return nullptr;
        return PyTuple_Pack(2, key.get(), view.get());
    });
}

// As a dict does, an object yields its keys; an array yields its items, a scalar nothing.
PyObject* view_iter(PyObject* self) {
    const Value& value = held(self);
    if (value.kind() != Kind::Object) return PySeqIter_New(self);
    PyRef keys(view_keys(self, nullptr));
    if (!keys) return nullptr;
    return PyObject_GetIter(keys.get());
}

PyObject* view_repr(PyObject* self) {
    const Value& value = held(self);
    std::string text = "DralValue(kind=\"";
    text += kind_name(value.kind());
    text += "\", value=";
    text += dral_core::debug_string(value);
    text += ')';
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* get_kind(PyObject* self, void*) {
    return PyUnicode_FromString(kind_name(held(self).kind()));
}

PyObject* get_value(PyObject* self, void*) {
    const Value& value = held(self);
    if (value.is_container()) Py_RETURN_NONE;
    return value_to_py(value);
}

PyObject* get_is_null(PyObject* self, void*) {
    return PyBool_FromLong(held(self).kind() == Kind::Null);
}

PyObject* get_is_array(PyObject* self, void*) {
    return PyBool_FromLong(held(self).kind() == Kind::Array);
}

PyObject* get_is_object(PyObject* self, void*) {
    return PyBool_FromLong(held(self).kind() == Kind::Object);
}

PyObject* get_is_scalar(PyObject* self, void*) {
    return PyBool_FromLong(!held(self).is_container());
}

void view_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (as_view(self)->owner == nullptr) {
        as_view(self)->lookups.~unique_ptr();
        as_view(self)->storage.~Value();
    } else {
        Py_DECREF(as_view(self)->owner);
    }
    PyObject_Free(self);  // made by alloc_view
    Py_DECREF(type);
}

PyGetSetDef kProperties[] = {
    {"kind", guarded<get_kind>, nullptr,
     "The kind of the value: \"null\", \"bool\", \"uint\", \"int\", \"float\", \"str\", "
     "\"bytes\", \"array\" or \"object\".",
     nullptr},
    {"value", guarded<get_value>, nullptr,
     "The value as a Python object for every kind but arrays and objects, which give None.",
     nullptr},
    {"is_null", guarded<get_is_null>, nullptr, "True for a null value.", nullptr},
    {"is_array", guarded<get_is_array>, nullptr, "True for an array.", nullptr},
    {"is_object", guarded<get_is_object>, nullptr, "True for an object.", nullptr},
    {"is_scalar", guarded<get_is_scalar>, nullptr, "True for every kind but arrays and objects.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"as_python", guarded<view_as_python>, METH_NOARGS,
     "as_python($self, /)\n--\n\nThe whole value converted to Python objects."},
    {"keys", guarded<view_keys>, METH_NOARGS,
     "keys($self, /)\n--\n\n"
     "The keys of an object as a list of str, in stored order; empty for other kinds."},
    {"values", guarded<view_values>, METH_NOARGS,
     "values($self, /)\n--\n\n"
     "The entry values of an object or the items of an array, as a list of DralValue."},
    {"items", guarded<view_items>, METH_NOARGS,
     "items($self, /)\n--\n\n"
     "The entries of an object as a list of (key, DralValue) tuples; empty for other kinds."},
    {"get", fastcall(guarded<Lookup::get>), kFastcallKeywords,
     "get($self, /, key)\n--\n\n"
     "The entry of an object (str key) or the item of an array (int key, negative counts from\n"
     "the end) as a DralValue, or None when there is none."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(view_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<view_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_mp_subscript, reinterpret_cast<void*>(guarded<Lookup::subscript>)},
    {Py_mp_length, reinterpret_cast<void*>(guarded<view_length>)},
    {Py_sq_item, reinterpret_cast<void*>(guarded<Lookup::item>)},
    {Py_tp_iter, reinterpret_cast<void*>(guarded<view_iter>)},
    {Py_sq_contains, reinterpret_cast<void*>(guarded<Lookup::contains>)},
    {Py_tp_doc, const_cast<char*>("A read-only view of one Dral value held on the native side.\n\n"
                                  "Made by to_value(), loads_value() and parse_text_value();\n"
                                  "sub-values are handed out as new views.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.DralValue", sizeof(DralValueObject), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_dral_value(Value value) {
    PyObject* self = alloc_view();
    if (self == nullptr) return nullptr;
    DralValueObject* view = as_view(self);
    new (&view->storage) Value(std::move(value));
    new (&view->lookups) std::unique_ptr<dral_core::KeyLookup>();
    view->value = &view->storage;
    view->owner = nullptr;
    return self;
}

int init_dral_value(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.dral_value);
}

}  // namespace dral_python
