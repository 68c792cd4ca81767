// rfc_query_cbf, rfc_query_ctn, rfc_query_cbf_model and rfc_query_ctn_model.
#pragma once

#include <Python.h>

namespace dral_python {

// The functions' null-terminated table; rfc_module adds them in their public order.
PyMethodDef* cql_functions();

}  // namespace dral_python
