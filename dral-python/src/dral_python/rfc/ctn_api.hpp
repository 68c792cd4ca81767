// rfc_parse_ctn, rfc_format_ctn and rfc_parse_ctn_model.
#pragma once

#include <Python.h>

namespace dral_python {

// The functions' null-terminated table; rfc_module adds them in their public order.
PyMethodDef* ctn_functions();

}  // namespace dral_python
