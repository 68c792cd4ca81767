// The extension module: its docstring and the chain that registers every attribute in order.
#include <Python.h>

#include <string_view>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_python/binary/binary_api.hpp"
#include "dral_python/binary/incremental.hpp"
#include "dral_python/binary/stream_reader.hpp"
#include "dral_python/binary/stream_walk.hpp"
#include "dral_python/binary/stream_writer.hpp"
#include "dral_python/convert/py_dict.hpp"
#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/module/create_state.hpp"
#include "dral_python/module/entry_points.hpp"
#include "dral_python/module/public_order.hpp"
#include "dral_python/rfc/cbf_api.hpp"
#include "dral_python/rfc/cql_api.hpp"
#include "dral_python/rfc/rfc_module.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/hash_seed.hpp"
#include "dral_python/runtime/module_state.hpp"
#include "dral_python/text/dral_value.hpp"
#include "dral_python/text/text_api.hpp"

namespace dral_python {
namespace {

int init_constants(PyObject* module) {
    namespace cbf = dral_core::rfc001::cbf;
    const std::string_view magic = cbf::magic_text();
    if (add_public_attribute(
            module, "RFC001_CBF_MAGIC",
            PyBytes_FromStringAndSize(magic.data(), static_cast<Py_ssize_t>(magic.size()))) < 0)
        return -1;
    return add_public_attribute(module, "RFC001_CBF_HEADER_SIZE",
                                PyLong_FromSize_t(cbf::kHeaderSize));
}

// The writers read dict tables themselves only where that was seen to read what the interpreter
// reads; tests check that it is so on every interpreter they run on.
int init_dict_tables(PyObject* module) {
    return PyModule_AddObjectRef(module, "_dict_tables_read",
                                 module_state().dict_tables_verified ? Py_True : Py_False);
}

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_dral_native",
    "Native extension of Dral: fast encode/decode of the Dral binary format.\n\n"
    "JSON-like API:\n\n"
    "    import dral\n"
    "    data = dral.dumps(obj, compression=\"lz4\", dedup=True, sort_keys=True)\n"
    "    obj = dral.loads(data, strict=True, max_depth=64)\n\n"
    "    with open(\"data.dral\", \"wb\") as f:\n"
    "        dral.dump(obj, f)\n"
    "    with open(\"data.dral\", \"rb\") as f:\n"
    "        obj = dral.load(f)\n",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* create_module() {
    if (create_module_state() < 0) return nullptr;
    PyObject* module = PyModule_Create(&kModule);
    if (module == nullptr) return nullptr;
    // The first failure fails the import; the public attributes are put in order at the end.
    int (*const chain[])(PyObject*) = {
        init_errors,        init_binary_api,    init_text_api,           init_constants,
        init_rfc_functions, init_incremental,   init_dral_value,         init_rfc_classes,
        init_stream_writer, init_stream_reader, init_binary_api_private, init_text_api_private,
        init_cql_private,   init_stream_walk,   init_cbf_private,        init_dict_tables,
        init_hash_seed,     init_entry_points,
    };
    for (auto init : chain) {
        if (init(module) < 0) {
            Py_DECREF(module);
            return nullptr;
        }
    }
    if (order_public_attributes(module) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace
}  // namespace dral_python

PyMODINIT_FUNC PyInit__dral_native() { return dral_python::create_module(); }
