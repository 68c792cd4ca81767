#include "dral_python/module/entry_points.hpp"

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <utility>

#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/py_ref.hpp"

namespace dral_python {

bool is_guarded(const void* function) {
    for (const GuardedEntry* entry = GuardedEntry::first; entry != nullptr; entry = entry->next)
        if (entry->function == function) return true;
    return false;
}

namespace {

// Whether `function` is code of this extension rather than of the interpreter (inherited slots,
// PyObject_SelfIter).
bool in_this_extension(const void* function) {
    Dl_info here{}, there{};
    return dladdr(reinterpret_cast<const void*>(&is_guarded), &here) != 0 &&
           dladdr(function, &there) != 0 && here.dli_fbase == there.dli_fbase;
}

bool add(PyObject* list, const std::string& name, const void* function) {
    if (function == nullptr || !in_this_extension(function)) return true;
    PyRef entry(Py_BuildValue("(sO)", name.c_str(), is_guarded(function) ? Py_True : Py_False));
    return entry && PyList_Append(list, entry.get()) == 0;
}

template <class Function>
const void* code_of(Function function) {
    return reinterpret_cast<const void*>(function);
}

// Every slot the interpreter may call, destruction included: a test must see those reported as
// unguarded (they allocate nothing and have no way to report a failure).
constexpr std::pair<int, const char*> kSlots[] = {
    {Py_tp_new, "tp_new"},
    {Py_tp_init, "tp_init"},
    {Py_tp_call, "tp_call"},
    {Py_tp_repr, "tp_repr"},
    {Py_tp_str, "tp_str"},
    {Py_tp_hash, "tp_hash"},
    {Py_tp_richcompare, "tp_richcompare"},
    {Py_tp_iter, "tp_iter"},
    {Py_tp_iternext, "tp_iternext"},
    {Py_tp_getattro, "tp_getattro"},
    {Py_tp_setattro, "tp_setattro"},
    {Py_tp_descr_get, "tp_descr_get"},
    {Py_mp_subscript, "mp_subscript"},
    {Py_mp_ass_subscript, "mp_ass_subscript"},
    {Py_mp_length, "mp_length"},
    {Py_sq_item, "sq_item"},
    {Py_sq_length, "sq_length"},
    {Py_sq_contains, "sq_contains"},
    {Py_nb_bool, "nb_bool"},
    {Py_tp_dealloc, "tp_dealloc"},
    {Py_tp_traverse, "tp_traverse"},
    {Py_tp_clear, "tp_clear"},
    {Py_tp_finalize, "tp_finalize"},
};

bool add_class_entries(PyObject* list, PyTypeObject* type) {
    const char* dot = std::strrchr(type->tp_name, '.');
    const std::string prefix = std::string(dot ? dot + 1 : type->tp_name) + ".";
    for (const auto& [slot, name] : kSlots)
        if (!add(list, prefix + name, PyType_GetSlot(type, slot))) return false;
    if (!add(list, prefix + "tp_vectorcall", code_of(type->tp_vectorcall))) return false;
    auto* methods = static_cast<PyMethodDef*>(PyType_GetSlot(type, Py_tp_methods));
    for (PyMethodDef* def = methods; def != nullptr && def->ml_name != nullptr; ++def)
        if (!add(list, prefix + def->ml_name, code_of(def->ml_meth))) return false;
    auto* getset = static_cast<PyGetSetDef*>(PyType_GetSlot(type, Py_tp_getset));
    for (PyGetSetDef* def = getset; def != nullptr && def->name != nullptr; ++def)
        if (!add(list, prefix + def->name + ".get", code_of(def->get)) ||
            !add(list, prefix + def->name + ".set", code_of(def->set)))
            return false;
    return !PyErr_Occurred();
}

PyObject* entry_points(PyObject* module, PyObject*) {
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    PyObject *key, *value;
    for (Py_ssize_t position = 0; PyDict_Next(dict, &position, &key, &value);) {
        bool ok = true;
        const char* name = PyUnicode_AsUTF8(key);
        if (name == nullptr) return nullptr;
        if (PyCFunction_Check(value) && PyCFunction_GET_SELF(value) == module)
            ok = add(list.get(), name, code_of(PyCFunction_GET_FUNCTION(value)));
        else if (PyType_Check(value))
            ok = add_class_entries(list.get(), reinterpret_cast<PyTypeObject*>(value));
        if (!ok) return nullptr;
    }
    return list.release();
}

PyMethodDef kFunctions[] = {
    {"_entry_points", guarded<entry_points>, METH_NOARGS,
     "_entry_points()\n--\n\nEvery native entry point of the module and its classes, as "
     "(name, guarded) pairs (tests only)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_entry_points(PyObject* module) { return PyModule_AddFunctions(module, kFunctions); }

}  // namespace dral_python
