// The items of a dict, read from its table where the interpreter's layout is known.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

namespace dict_table {

// The head of the keys table of a dict, as CPython 3.10 to 3.13 (with the GIL) lay it out; the
// index follows it, then the entries. The interpreter's call for the next item costs as much as
// writing a small item, so the writers read the entries themselves.
#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
inline constexpr bool kKnown = true;
struct Head {
    Py_ssize_t refcount;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;  // 0: any keys, entries of hash, key and value; else str keys, no hash
    std::uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t entry_count;
};
inline std::size_t index_bytes(const Head& head) { return std::size_t{1} << head.log2_index_bytes; }
inline bool entries_hold_hash(const Head& head) { return head.kind == 0; }
#elif PY_VERSION_HEX >= 0x030A0000 && PY_VERSION_HEX < 0x030B0000
inline constexpr bool kKnown = true;
struct Head {
    Py_ssize_t refcount;
    Py_ssize_t size;
    void* lookup;
    Py_ssize_t usable;
    Py_ssize_t entry_count;
};
inline std::size_t index_bytes(const Head& head) {
    auto size = static_cast<std::size_t>(head.size);
    std::size_t width = size <= 0xff ? 1 : size <= 0xffff ? 2 : size <= 0xffffffff ? 4 : 8;
    return size * width;
}
inline bool entries_hold_hash(const Head&) { return true; }
#else
// Any other interpreter: never read, as the check at import leaves the writers on PyDict_Next.
inline constexpr bool kKnown = false;
struct Head {
    Py_ssize_t entry_count;
};
inline std::size_t index_bytes(const Head&) { return 0; }
inline bool entries_hold_hash(const Head&) { return true; }
#endif

}  // namespace dict_table

// The entries of a dict's table: `count` of them from `first`, `stride` bytes apart, the key and
// value pointers of each at `first + i * stride` (deleted ones with a null value).
struct DictEntries {
    const char* first;
    std::size_t stride;
    Py_ssize_t count;
    [[gnu::always_inline]] PyObject* const* at(Py_ssize_t i) const {
        return reinterpret_cast<PyObject* const*>(first + static_cast<std::size_t>(i) * stride);
    }
};

// The entries of `dict` (an exact dict), or false when the interpreter must read them: a layout
// not seen to read right, or a split table (an instance's attributes keep their values apart).
[[gnu::always_inline]] inline bool dict_entries(PyObject* dict, DictEntries& out) {
    auto* object = reinterpret_cast<PyDictObject*>(dict);
    if (!module_state().dict_tables_verified || object->ma_values != nullptr) return false;
    const auto& head = *reinterpret_cast<const dict_table::Head*>(object->ma_keys);
    const bool with_hash = dict_table::entries_hold_hash(head);
    out.first = reinterpret_cast<const char*>(&head) + sizeof head + dict_table::index_bytes(head) +
                (with_hash ? sizeof(Py_hash_t) : 0);
    out.stride = (with_hash ? 3 : 2) * sizeof(PyObject*);
    out.count = head.entry_count;
    return true;
}

// Calls `visit(key, value)` (borrowed) on the items of `dict` (an exact dict) in order while it
// returns true; returns false when it stopped there. Valid while no Python code runs.
template <class Visit>
[[gnu::always_inline]] inline bool for_each_item(PyObject* dict, Visit visit) {
    DictEntries entries;
    if (dict_entries(dict, entries)) [[likely]] {
        for (Py_ssize_t i = 0; i < entries.count; ++i) {
            PyObject* const* entry = entries.at(i);
            if (entry[1] != nullptr && !visit(entry[0], entry[1])) return false;
        }
        return true;
    }
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &position, &key, &value))
        if (!visit(key, value)) return false;
    return true;
}

// As PyDict_Next over the entries of a dict's table: the item at or after `position`, borrowed,
// and the position after it; false past the last.
[[gnu::always_inline]] inline bool next_entry(const DictEntries& entries, Py_ssize_t& position,
                                              PyObject*& key, PyObject*& value) {
    for (Py_ssize_t i = position; i < entries.count; ++i) {
        PyObject* const* entry = entries.at(i);
        if (entry[1] == nullptr) continue;  // a deleted item
        key = entry[0];
        value = entry[1];
        position = i + 1;
        return true;
    }
    return false;
}

// As PyDict_Next: the item of `dict` (an exact dict) at or after `position`, borrowed, and the
// position after it; false past the last. Valid while no Python code runs.
[[gnu::always_inline]] inline bool dict_next(PyObject* dict, Py_ssize_t& position, PyObject*& key,
                                             PyObject*& value) {
    DictEntries entries;
    if (!dict_entries(dict, entries)) return PyDict_Next(dict, &position, &key, &value);
    return next_entry(entries, position, key, value);
}

// Checks the table reading against PyDict_Next on sample dicts of every kind, and sets the
// module state's dict_tables_verified; any other outcome keeps the writers on PyDict_Next. 0,
// or -1 with an exception set.
int verify_dict_tables();

}  // namespace dral_python
