// RfcField and RfcBinding have the same shape, a name and a value; these are their members, for
// either node type.
#pragma once

#include <Python.h>

#include "cpython/bad_alloc_guard.hpp"
#include "cpython/py_str.hpp"
#include "rfc/models/model_object.hpp"

namespace dral_python::named_model {

template <class Node>
PyObject* get_name(PyObject* self, void*) {
    return guard_bad_alloc([&] { return new_utf8_str(node_of<Node>(self).name); });
}

template <class Node>
PyObject* get_value(PyObject* self, void*) {
    return guard_bad_alloc([&] {
        const Shared<Node>& node = shared_node<Node>(self);
        return new_rfc_value(share(node, node->value));
    });
}

template <class Node>
PyObject* to_dict(PyObject* self, PyObject*) {
    return guard_bad_alloc([&] {
        const Node& node = node_of<Node>(self);
        return named_value_dict(node.name, node.value);
    });
}

template <class Node, const char* ClassName>
PyObject* repr(PyObject* self) {
    return guard_bad_alloc([&] { return named_repr(ClassName, node_of<Node>(self).name); });
}

}  // namespace dral_python::named_model
