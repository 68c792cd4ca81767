#include "dral_python/convert/py_dict.hpp"

#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

namespace {

// Whether dict_next gives exactly the items and positions PyDict_Next gives.
bool reads_alike(PyObject* dict) {
    Py_ssize_t ours = 0, theirs = 0;
    for (;;) {
        PyObject *key = nullptr, *value = nullptr, *their_key, *their_value;
        const bool more = dict_next(dict, ours, key, value);
        if (more != static_cast<bool>(PyDict_Next(dict, &theirs, &their_key, &their_value)))
            return false;
        if (!more) return true;
        if (key != their_key || value != their_value || ours != theirs) return false;
    }
}

// `count` items, key i being `make_key(i)` and its value i, then every third one deleted so that
// the table has holes.
template <class MakeKey>
PyRef sample(int count, MakeKey make_key) {
    PyRef dict(PyDict_New());
    if (!dict) return {};
    for (int i = 0; i < count; ++i) {
        PyRef key(make_key(i)), value(PyLong_FromLong(i));
        if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
    }
    for (int i = 0; i < count; i += 3) {
        PyRef key(make_key(i));
        if (!key || PyDict_DelItem(dict.get(), key.get()) < 0) return {};
    }
    return dict;
}

}  // namespace

int verify_dict_tables() {
    if (!dict_table::kKnown) return 0;
    auto str_key = [](int i) { return PyUnicode_FromFormat("k%d", i); };
    // Ints among str keys give a table of any keys, whose entries keep the hash.
    auto any_key = [](int i) {
        return i % 2 ? PyLong_FromLong(i) : PyUnicode_FromFormat("k%d", i);
    };
    // Small tables, and tables of 512 slots, whose index takes two bytes a slot.
    PyRef samples[] = {sample(5, str_key), sample(5, any_key), sample(300, str_key),
                       sample(300, any_key)};
    for (const PyRef& dict : samples)
        if (!dict) return -1;
    bool& verified = module_state().dict_tables_verified;
    verified = true;
    for (const PyRef& dict : samples) verified &= reads_alike(dict.get());
    return 0;
}

}  // namespace dral_python
