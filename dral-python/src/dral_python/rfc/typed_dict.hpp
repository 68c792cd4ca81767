// The typed-dictionary form of RFC-001 documents: every node becomes plain dicts, lists, str,
// int, float, bytes and None, with a "kind" entry naming its variant. Keys are inserted in a fixed
// order, which is part of the output.
#pragma once

#include <Python.h>

#include <string_view>

#include "dral_core/rfc001/ast.hpp"

namespace dral_python {

// Each returns a new reference, or nullptr with the Python exception set.
PyObject* rfc_document_to_py(const dral_core::rfc001::Document& document);
PyObject* rfc_value_to_py(const dral_core::rfc001::Value& value);
PyObject* rfc_scalar_to_py(const dral_core::rfc001::Scalar& scalar);
PyObject* rfc_annotation_to_py(const dral_core::rfc001::Annotation& annotation);
// {"name": name, "value": the value's dictionary}, the form of fields and bindings.
PyObject* rfc_named_value_to_py(std::string_view name, const dral_core::rfc001::Value& value);

// The plain Python value of a scalar, as RfcValue.scalar_value gives it (a Tagged gives its text).
PyObject* rfc_scalar_value_to_py(const dral_core::rfc001::Scalar& scalar);

struct TypedDictStrings;
// Creates the str objects the conversions share (once per process, with the module state); false
// with an exception set on failure.
bool create_typed_dict_strings(TypedDictStrings& out);

}  // namespace dral_python
