// The seed of every table that hashes input, drawn at random once per process: a set of keys
// made to collide in one process does not in another. The output never depends on it.
#pragma once

#include <Python.h>

#include <cstdint>

namespace dral_python {

inline std::uint64_t process_hash_seed = 0;

// Draws the seed and adds `_set_hash_seed(seed)`, which forces it (for tests that must know it).
int init_hash_seed(PyObject* module);

}  // namespace dral_python
