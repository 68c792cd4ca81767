// RfcHeader: the 32-byte header of a compiled file, as read.
#include <cstdio>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/rfc/cbf_api.hpp"
#include "dral_python/rfc/models/cbf_models.hpp"
#include "dral_python/rfc/models/model_object.hpp"

namespace dral_python {
namespace {

using dral_core::rfc001::cbf::CbfHeader;

struct HeaderObject {
    PyObject_HEAD CbfHeader header;
};

const CbfHeader& header_of(PyObject* self) { return reinterpret_cast<HeaderObject*>(self)->header; }

PyObject* get_magic(PyObject*, void*) {
    return new_ascii_str(dral_core::rfc001::cbf::magic_text());
}

template <auto Field>
PyObject* get_number(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(header_of(self).*Field);
}

template <bool (CbfHeader::*Flag)() const>
PyObject* get_flag(PyObject* self, void*) {
    return PyBool_FromLong((header_of(self).*Flag)());
}

PyObject* get_schema_hash_prefix(PyObject* self, void*) {
    const auto& prefix = header_of(self).schema_hash_prefix;
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(prefix.data()),
                                     static_cast<Py_ssize_t>(prefix.size()));
}

PyObject* header_to_dict(PyObject* self, PyObject*) { return rfc_header_to_py(header_of(self)); }

PyObject* header_repr(PyObject* self) {
    const CbfHeader& header = header_of(self);
    char text[96];
    const int n =
        std::snprintf(text, sizeof text, "RfcHeader(cbf_version=%u, ctn_version=%u, flags=0x%02x)",
                      header.cbf_version, header.ctn_version, header.flags);
    return new_ascii_str({text, static_cast<std::size_t>(n)});
}

void header_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyGetSetDef kProperties[] = {
    {"magic", guarded<get_magic>, nullptr, "The magic of every compiled file, \"DRAL\".", nullptr},
    {"cbf_version", guarded<get_number<&CbfHeader::cbf_version>>, nullptr, "Header byte 4.",
     nullptr},
    {"ctn_version", guarded<get_number<&CbfHeader::ctn_version>>, nullptr, "Header byte 5.",
     nullptr},
    {"flags", guarded<get_number<&CbfHeader::flags>>, nullptr, "Header byte 6, the flag bits.",
     nullptr},
    {"alignment", guarded<get_number<&CbfHeader::alignment>>, nullptr,
     "Header byte 7, the alignment hint recorded at compile time.", nullptr},
    {"schema_hash_prefix", guarded<get_schema_hash_prefix>, nullptr, "Header bytes 8 to 15.",
     nullptr},
    {"root_offset", guarded<get_number<&CbfHeader::root_offset>>, nullptr,
     "Where the root segment starts, counted from the start of the body.", nullptr},
    {"symtab_offset", guarded<get_number<&CbfHeader::symtab_offset>>, nullptr,
     "Where the symbol table starts, counted from the start of the body.", nullptr},
    {"index_offset", guarded<get_number<&CbfHeader::index_offset>>, nullptr,
     "Header bytes 28 to 31.", nullptr},
    {"self_describing", guarded<get_flag<&CbfHeader::self_describing>>, nullptr, "Flag bit 0.",
     nullptr},
    {"has_symtab", guarded<get_flag<&CbfHeader::has_symtab>>, nullptr,
     "Flag bit 1: the file has a symbol table.", nullptr},
    {"has_index", guarded<get_flag<&CbfHeader::has_index>>, nullptr, "Flag bit 2.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"to_dict", guarded<header_to_dict>, METH_NOARGS,
     "to_dict($self, /)\n--\n\nThe header as a dict of its fields and flag bits."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(header_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<header_repr>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("The read-only header of a compiled RFC-001 file.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"_dral_native.RfcHeader", sizeof(HeaderObject), 0,
                     Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

PyObject* new_rfc_header(const CbfHeader& header) {
    PyObject* self =
        module_state().classes.rfc_header->tp_alloc(module_state().classes.rfc_header, 0);
    if (self != nullptr) reinterpret_cast<HeaderObject*>(self)->header = header;
    return self;
}

int init_rfc_header(PyObject* module) {
    return add_class(module, &kSpec, module_state().classes.rfc_header);
}

}  // namespace dral_python
