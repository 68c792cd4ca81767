#include "dral_python/runtime/hash_seed.hpp"

#include <chrono>
#include <random>

#include "dral_python/cpython/bad_alloc_guard.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

std::uint64_t random_hash_seed() {
    try {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No entropy source: the clock and where this process was loaded still differ between
        // runs.
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        return static_cast<std::uint64_t>(ticks) ^ reinterpret_cast<std::uintptr_t>(&ticks);
    }
}

namespace {

PyObject* set_hash_seed(PyObject*, PyObject* seed) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(seed);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    module_state().hash_seed = value;
    Py_RETURN_NONE;
}

PyMethodDef kFunctions[] = {
    {"_set_hash_seed", guarded<set_hash_seed>, METH_O,
     "_set_hash_seed(seed, /)\n--\n\nForce the seed of the hash tables that hash input (tests "
     "only: a known seed lets input be made to collide)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int init_hash_seed(PyObject* module) { return PyModule_AddFunctions(module, kFunctions); }

}  // namespace dral_python
