// Python str objects for short ASCII dict keys, shared by every decode: real data repeats its
// keys, and a cached str is neither rebuilt nor rehashed when it is inserted again. Each slot
// holds one key, so keys that collide only make each other miss (costing a str built, as without
// the cache); the process's hash seed keeps them from being chosen to.
#pragma once

#include <Python.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dral_core/base/limits.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {

class KeyCache {
public:
    // A new reference to a str equal to the ASCII `key`, or nullptr with MemoryError set; `seed`
    // is the process's hash seed.
    PyObject* get(std::string_view key, std::uint64_t seed) {
        if (key.size() > dral_core::kKeyCacheLongestKey) return make(key);
        PyObject*& slot = slots_[slot_of(key, seed)];
        if (slot != nullptr && static_cast<std::size_t>(PyUnicode_GET_LENGTH(slot)) == key.size() &&
            equal(ascii_data(slot), key.data(), key.size()))
            return Py_NewRef(slot);
        PyObject* str = make(key);
        if (str == nullptr) return nullptr;
        // Hashing now stores the hash in the str, for every dict it goes into.
        if (PyObject_Hash(str) == -1) PyErr_Clear();
        Py_XSETREF(slot, Py_NewRef(str));
        return str;
    }

private:
    static PyObject* make(std::string_view key) { return new_ascii_str(key); }
    // Every cached str is compact ASCII, its characters right after the object header.
    static const char* ascii_data(PyObject* str) {
        return reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(str) + 1);
    }
    // Keys are short, and a call to memcmp costs more than comparing them here.
    static bool equal(const char* a, const char* b, std::size_t n) {
        if (n >= 8) {
            for (std::size_t i = 0; i + 8 < n; i += 8)
                if (load(a + i) != load(b + i)) return false;
            return load(a + n - 8) == load(b + n - 8);
        }
        if (n >= 4) return load32(a) == load32(b) && load32(a + n - 4) == load32(b + n - 4);
        return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
    }
    // The top bits of a product: they depend on every bit of the key's words, where the low bits
    // depend on their low bytes alone, and keys that differ only in their last characters (item1,
    // item2, ...) would all share one slot.
    static std::size_t slot_of(std::string_view key, std::uint64_t seed) {
        constexpr int kSlotBits = std::countr_zero(dral_core::kKeyCacheSlots);
        return static_cast<std::size_t>((words(key, seed) * kMultiplier) >> (64 - kSlotBits));
    }
    // Keys are short: whole words, the last one overlapping the one before it.
    static std::uint64_t words(std::string_view key, std::uint64_t seed) {
        const char* p = key.data();
        std::size_t n = key.size();
        std::uint64_t h = (n * 0x9E3779B97F4A7C15ull) ^ seed;
        if (n < 8) {
            // Overlapping loads instead of a byte copy, which would stall the load after it.
            std::uint64_t word = 0;
            if (n >= 4)
                word = load32(p) | (std::uint64_t{load32(p + n - 4)} << 32);
            else if (n > 0)
                word = std::uint64_t{static_cast<unsigned char>(p[0])} |
                       std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
                       std::uint64_t{static_cast<unsigned char>(p[n - 1])} << 16;
            return h ^ word;
        }
        for (std::size_t i = 0; i + 8 < n; i += 8) h = mix(h ^ load(p + i));
        return h ^ load(p + n - 8);
    }
    static std::uint64_t load(const char* p) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    static std::uint32_t load32(const char* p) {
        std::uint32_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    static constexpr std::uint64_t kMultiplier = 0xBF58476D1CE4E5B9ull;
    static std::uint64_t mix(std::uint64_t h) {
        h *= kMultiplier;
        return h ^ (h >> 31);
    }

    PyObject* slots_[dral_core::kKeyCacheSlots] = {};
};

}  // namespace dral_python
