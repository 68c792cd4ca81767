// rfc_query_cbf, rfc_query_ctn, rfc_query_cbf_file and their _model forms, and the reference
// that decodes the whole file before it queries.
#pragma once

#include <Python.h>

namespace dral_python {

// The functions' null-terminated table; rfc_module adds them in their public order.
PyMethodDef* cql_functions();

// Adds _rfc_query_cbf_reference.
int init_cql_private(PyObject* module);

}  // namespace dral_python
