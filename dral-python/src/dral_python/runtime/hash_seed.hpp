// The seed of every table that hashes input.
#pragma once

#include <Python.h>

#include <cstdint>

namespace dral_python {

// A seed for the tables that hash input (ModuleState::hash_seed), different in every process.
std::uint64_t random_hash_seed();

// Adds `_set_hash_seed(seed)`, which forces the seed (for tests that must know it).
int init_hash_seed(PyObject* module);

}  // namespace dral_python
