// rfc_compile_ctn, rfc_decode_cbf, rfc_cbf_to_ctn and rfc_decode_cbf_model, and the dictionaries
// of a decoded file.
#pragma once

#include <Python.h>

#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"

namespace dral_python {

// The functions' null-terminated table; rfc_module adds them in their public order.
PyMethodDef* cbf_functions();

// Each returns a new dict, or nullptr with an exception set.
// The header's fields, magic and flag bits included.
// _cbf_parts, for the command line.
int init_cbf_private(PyObject* module);

PyObject* rfc_header_to_py(const dral_core::rfc001::cbf::CbfHeader& header);
// {"header", "symbols", "document", "ctn"}: what rfc_decode_cbf returns, counted against
// `meter` (DralRfcError when it does not allow it), or a meter of its own.
PyObject* rfc_decoded_cbf_to_py(const dral_core::rfc001::cbf::DecodedDocument& decoded,
                                dral_core::MemoryMeter& meter);
PyObject* rfc_decoded_cbf_to_py(const dral_core::rfc001::cbf::DecodedDocument& decoded);

}  // namespace dral_python
