// What the model classes have in common: an object that holds one shared node of a tree, its
// creation and destruction, their class objects, and the pieces of their reprs and lists.
#pragma once

#include <Python.h>

#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/rfc/models/models.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

template <class Node>
struct ModelObject {
    PyObject_HEAD Shared<Node> node;
};

template <class Node>
const Shared<Node>& shared_node(PyObject* self) {
    return reinterpret_cast<ModelObject<Node>*>(self)->node;
}

template <class Node>
const Node& node_of(PyObject* self) {
    return *shared_node<Node>(self);
}

// A new instance of `type` (one of the model classes) holding `node`.
template <class Node>
PyObject* new_model(PyTypeObject* type, Shared<Node> node) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<ModelObject<Node>*>(self)->node) Shared<Node>(std::move(node));
    return self;
}

// The last instance made from a tree frees the tree.
template <class Node>
void model_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<ModelObject<Node>*>(self)->node.~Shared<Node>();
    type->tp_free(self);
    Py_DECREF(type);
}

// `Class(name="...")`, the name quoted with backslash escapes.
PyObject* named_repr(std::string_view class_name, std::string_view name);

// A list of str, one per text.
PyObject* str_list(const std::vector<std::string_view>& texts);

// A list of new objects, one per element of `nodes`, each made by `make` from a pointer to that
// element which keeps `owner`'s tree alive.
template <class Element, class Owner, class Make>
PyObject* shared_list(const Shared<Owner>& owner, const std::vector<Element>& nodes, Make make) {
    return build_list(nodes.size(), [&](std::size_t i) { return make(share(owner, nodes[i])); });
}

}  // namespace dral_python
