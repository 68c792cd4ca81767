#include "rfc/rfc_module.hpp"

#include <cstring>

#include "module/module_attributes.hpp"
#include "rfc/cbf_api.hpp"
#include "rfc/cql_api.hpp"
#include "rfc/ctn_api.hpp"
#include "rfc/models/cbf_models.hpp"
#include "rfc/models/models.hpp"

namespace dral_python {
namespace {

// The functions come from one table per concern; the module lists them in this order, one name
// per line.
// clang-format off
constexpr const char* kFunctionOrder[] = {
    "rfc_parse_ctn",
    "rfc_format_ctn",
    "rfc_compile_ctn",
    "rfc_decode_cbf",
    "rfc_cbf_to_ctn",
    "rfc_query_cbf",
    "rfc_query_ctn",
    "rfc_parse_ctn_model",
    "rfc_decode_cbf_model",
    "rfc_query_cbf_model",
    "rfc_query_ctn_model",
};
// Added after the original attributes, which keep their places.
constexpr const char* kFileFunctionOrder[] = {
    "rfc_query_cbf_file",
    "rfc_query_cbf_file_model",
};
// clang-format on

PyMethodDef* find_function(const char* name) {
    PyMethodDef* const tables[] = {ctn_functions(), cbf_functions(), cql_functions()};
    for (PyMethodDef* table : tables)
        for (PyMethodDef* def = table; def->ml_name != nullptr; ++def)
            if (std::strcmp(def->ml_name, name) == 0) return def;
    return nullptr;
}

}  // namespace

int init_rfc_functions(PyObject* module) {
    for (const char* name : kFunctionOrder)
        if (add_public_function(module, find_function(name)) < 0) return -1;
    return 0;
}

int init_rfc_file_functions(PyObject* module) {
    for (const char* name : kFileFunctionOrder)
        if (add_public_function(module, find_function(name)) < 0) return -1;
    return 0;
}

int init_rfc_classes(PyObject* module) {
    int (*const classes[])(PyObject*) = {
        init_rfc_annotation, init_rfc_field,       init_rfc_binding, init_rfc_header,
        init_rfc_document,   init_rfc_decoded_cbf, init_rfc_value,
    };
    for (auto init : classes)
        if (init(module) < 0) return -1;
    return 0;
}

}  // namespace dral_python
