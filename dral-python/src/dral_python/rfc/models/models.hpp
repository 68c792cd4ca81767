// The read-only model classes over RFC-001 trees: RfcValue, RfcField, RfcBinding, RfcAnnotation
// and RfcDocument. A tree is never changed once built, so every object made from one tree shares
// it: each holds a pointer to its node that also keeps the whole tree alive (an aliasing
// shared_ptr), and an accessor costs what it hands out, never a copy of the tree.
#pragma once

#include <Python.h>

#include <memory>

#include "dral_core/rfc001/ast.hpp"

namespace dral_python {

template <class Node>
using Shared = std::shared_ptr<const Node>;

// A pointer to `node`, which lies inside the tree that `owner` keeps alive.
template <class Node, class Owner>
Shared<Node> share(const Shared<Owner>& owner, const Node& node) {
    return Shared<Node>(owner, &node);
}

// Each returns a new object holding `node`, or nullptr with an exception set.
PyObject* new_rfc_value(Shared<dral_core::rfc001::Value> node);
PyObject* new_rfc_field(Shared<dral_core::rfc001::Field> node);
PyObject* new_rfc_binding(Shared<dral_core::rfc001::Binding> node);
PyObject* new_rfc_annotation(Shared<dral_core::rfc001::Annotation> node);
PyObject* new_rfc_document(Shared<dral_core::rfc001::Document> node);

// Each adds its class to `module`.
int init_rfc_annotation(PyObject* module);
int init_rfc_field(PyObject* module);
int init_rfc_binding(PyObject* module);
int init_rfc_document(PyObject* module);
int init_rfc_value(PyObject* module);

}  // namespace dral_python
