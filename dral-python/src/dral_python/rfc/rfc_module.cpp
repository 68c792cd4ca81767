#include "dral_python/rfc/rfc_module.hpp"

#include <initializer_list>

#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/rfc/cbf_api.hpp"
#include "dral_python/rfc/cql_api.hpp"
#include "dral_python/rfc/ctn_api.hpp"
#include "dral_python/rfc/models/cbf_models.hpp"
#include "dral_python/rfc/models/models.hpp"

namespace dral_python {

int init_rfc_functions(PyObject* module) {
    for (PyMethodDef* table : {ctn_functions(), cbf_functions(), cql_functions()})
        if (add_public_functions(module, table) < 0) return -1;
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
