// Every per-process object of the binding in one place: the exception classes, the classes,
// interned names, the caches and the one-shot encoder. The module is initialised once per process
// and later imports share what the first one made, so an object made through one import is an
// instance of the class another import names. Never destroyed: a Python object must not be
// released after the interpreter is gone. Callers hold the interpreter lock.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/binary/encoder.hpp"
#include "dral_python/runtime/conversion_caches.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/key_cache.hpp"

namespace dral_python {

// Each made once, by the first initialisation that adds it.
struct BindingClasses {
    PyTypeObject* encoder;
    PyTypeObject* dral_decoder;
    PyTypeObject* dral_value;
    PyTypeObject* rfc_annotation;
    PyTypeObject* rfc_field;
    PyTypeObject* rfc_binding;
    PyTypeObject* rfc_header;
    PyTypeObject* rfc_document;
    PyTypeObject* rfc_decoded_cbf;
    PyTypeObject* rfc_value;
    PyTypeObject* writer;
    PyTypeObject* reader;
};

// Every key and every kind or type string of the typed dictionaries, interned: a shared key keeps
// its cached hash.
inline constexpr std::size_t kTypedDictNameCount = 24;
struct TypedDictStrings {
    PyObject* names[kTypedDictNameCount];
    PyObject* kinds[9];       // by ValueKind
    PyObject* types[13];      // by ScalarType
    PyObject* payloads[3];    // by SumPayloadKind
    PyObject* references[2];  // by ReferenceKind
    PyObject* data_kinds[4];  // by TensorDataKind
};

// One-shot calls running at once (their threads release the interpreter lock while they compress
// or hash) that each find a shared encoder; a call past them makes its own.
inline constexpr std::size_t kSharedOneShotEncoders = 4;

// The encoders one-shot calls share, and the memory kept between incremental ones.
struct EncoderPool {
    std::optional<dral_core::Encoder> one_shot[kSharedOneShotEncoders];  // made when first needed
    bool one_shot_in_use[kSharedOneShotEncoders] = {};
    std::size_t last_large_payload = 0;  // of the last stream finished in place
    dral_core::EncoderMemory spare_heap_memory;
};

struct ModuleState {
    // The seed of every table that hashes input, drawn at random once per process: a set of keys
    // made to collide in one process does not in another. The output never depends on it.
    std::uint64_t hash_seed = 0;
    // Whether reading the tables of sample dicts gave exactly what the interpreter gives.
    bool dict_tables_verified = false;
    ExceptionClasses errors{};
    BindingClasses classes{};
    TypedDictStrings typed_dict{};
    ConversionState conversion;
    KeyCache key_cache;
    // The stack of the last text parse, and the buffer of the last short text written, kept for
    // the next one; and that last text's size, and whether its str was wider than a byte a
    // character.
    std::vector<PyObject*> spare_text_stack;
    dral_core::ByteBuffer spare_text;
    std::size_t last_text_size = 0;
    bool last_text_wide = false;
    EncoderPool encoders;
};

namespace module_state_storage {
union Storage {
    constexpr Storage() : unset() {}
    ~Storage() {}
    char unset;
    ModuleState state;
};
inline constinit Storage storage;
inline constinit bool made = false;
}  // namespace module_state_storage

// Valid from the first initialisation of the module on; a load of a constant address.
[[gnu::always_inline]] inline ModuleState& module_state() {
    return module_state_storage::storage.state;
}

// A new reference to a str equal to the ASCII `key`, from the cache every reader shares.
[[gnu::always_inline]] inline PyObject* cached_key(std::string_view key) {
    ModuleState& state = module_state();
    return state.key_cache.get(key, state.hash_seed);
}

}  // namespace dral_python
