// The classes of a decoded compiled file: RfcHeader, its header, and RfcDecodedCbf, the whole
// decoded file.
#pragma once

#include <Python.h>

#include "dral_core/rfc001/cbf/cbf.hpp"
#include "dral_python/rfc/models/models.hpp"

namespace dral_python {

// Each returns a new object, or nullptr with an exception set.
PyObject* new_rfc_header(const dral_core::rfc001::cbf::CbfHeader& header);
PyObject* new_rfc_decoded_cbf(Shared<dral_core::rfc001::cbf::DecodedDocument> decoded);

// Each adds its class to `module`.
int init_rfc_header(PyObject* module);
int init_rfc_decoded_cbf(PyObject* module);

}  // namespace dral_python
