#include "dral_python/convert/py_encode.hpp"

#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/string_sort.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_classes.hpp"
#include "dral_python/convert/py_dict.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/convert/py_text_forms.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/cpython/py_long.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

using dral_core::Encoder;

// Writes what the reference conversion writes for the objects it can read without running Python
// code, and gives up on anything else (refused objects, the default hook, tzinfo classes of
// Python's, a failure), so that replaying the reference path is unobservable. Recursion is
// bounded by the encoder's depth limit, checked before descending, which encode_object keeps
// within what a small thread stack holds.
class DirectEncoder {
public:
    // `most_replacements`: how long a chain of enum values may be, as the reference path counts
    // it against the nesting limit.
    DirectEncoder(Encoder& encoder, bool sort_keys, std::uint64_t most_replacements)
        : encoder_(encoder), sort_keys_(sort_keys), most_replacements_(most_replacements) {}

    // Inlined into the container loops, so scalars cost no call; containers recurse out of line.
    [[gnu::always_inline]] bool write(PyObject* object) {
        return dispatch(
            object, [&](PyKind kind) { return write(object, kind); },
            [&](PyObject* other) { return write_other(other); });
    }

private:
    // The classes beyond the builtin types are read only when their cached rules say that
    // reading them runs no Python code; classes met once the cache was full, and everything the
    // rules refuse, are left to the reference path.
    [[gnu::noinline]] bool write_other(PyObject* object) {
        const ClassRules* rules;
        PyKind kind = classify_other(object, rules);
        switch (kind) {
            case PyKind::DateTime:
            case PyKind::Date:
            case PyKind::Time:
                return write_time(object, kind);
            case PyKind::Uuid:
                return rules != nullptr && rules->read_natively && write_uuid(object, *rules);
            case PyKind::Enum:
                return rules != nullptr && rules->read_natively && write_enum(object);
            case PyKind::Dataclass:
                return rules != nullptr && rules->read_natively && write_dataclass(object, *rules);
            default:
                return write(object, kind);
        }
    }

    [[gnu::always_inline]] bool write(PyObject* object, PyKind kind) {
        switch (kind) {
            case PyKind::Str:
                return write_str(object);
            case PyKind::Int:
                return write_int(object);
            case PyKind::Float:
                encoder_.write_float(PyFloat_AS_DOUBLE(object));
                return true;
            case PyKind::Dict:
                return sort_keys_ ? write_sorted_dict(object) : write_dict(object);
            case PyKind::List:
            case PyKind::Tuple:
                return write_sequence(object);
            case PyKind::Null:
                encoder_.write_null();
                return true;
            case PyKind::Bool:
                encoder_.write_bool(object == Py_True);
                return true;
            case PyKind::Bytes:
                return write_bytes(object);
            default:
                break;
        }
        // The reference path then converts it or raises its exact error.
        return false;
    }

    // Dates and times whose offset the interpreter gives without running Python code.
    [[gnu::noinline]] bool write_time(PyObject* object, PyKind kind) {
        FormText text;
        const char* reason;
        if (time_text(object, kind, false, text, reason) != Form::Written) return false;
        encoder_.write_str(text.view());
        return true;
    }

    bool write_uuid(PyObject* object, const ClassRules& rules) {
        FormText text;
        const char* reason;
        if (uuid_text(object, rules.int_slot, text, reason) != Form::Written) return false;
        encoder_.write_str(text.view());
        return true;
    }

    // An enum member is its value; a value that is itself a member counts as one more level, so
    // that no chain of them recurses without bound.
    bool write_enum(PyObject* object) {
        const AttributeNames* names = attribute_names();
        if (names == nullptr || replacements_ >= most_replacements_) return false;
        PyRef value(PyObject_GenericGetAttr(object, names->enum_value));
        if (!value) return false;
        ++replacements_;
        bool written = write(value.get());
        --replacements_;
        return written;
    }

    // Reading natively means the generic lookup, which is called straight away.
    bool write_dataclass(PyObject* object, const ClassRules& rules) {
        // Held by the cache for good: no reading of a field can release it.
        PyObject* fields = sort_keys_ ? rules.sorted_fields.get() : rules.fields.get();
        Py_ssize_t count = PyTuple_GET_SIZE(fields);
        if (!encoder_.begin_object(static_cast<std::uint64_t>(count))) return false;
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* name = PyTuple_GET_ITEM(fields, i);
            encoder_.write_key(*utf8_of(name));  // checked when the fields were read
            PyRef value(PyObject_GenericGetAttr(object, name));
            if (!value || !write(value.get())) return false;
        }
        encoder_.end_object();
        return true;
    }

    bool write_bytes(PyObject* object) {
        encoder_.write_bytes({reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                              static_cast<std::size_t>(PyBytes_GET_SIZE(object))});
        return true;
    }

    bool write_str(PyObject* object) {
        auto text = utf8_of(object);
        if (!text) return false;
        encoder_.write_str(*text);
        return true;
    }

    // Any int, subclasses included.
    bool write_int(PyObject* object) {
        long long n;
        if (!long_value(object, n)) return write_large_int(object);
        if (n < 0)
            encoder_.write_int(n);
        else
            encoder_.write_uint(static_cast<std::uint64_t>(n));
        return true;
    }

    // From 2**63 to 2**64 - 1: unsigned, as the format holds them.
    [[gnu::noinline]] bool write_large_int(PyObject* object) {
        unsigned long long u = PyLong_AsUnsignedLongLong(object);
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        encoder_.write_uint(u);
        return true;
    }

    [[gnu::noinline]] bool write_sequence(PyObject* sequence) {
        Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
        if (size <= kRunChunk && only_floats(sequence, size)) {
            // Short lists of floats (coordinates, vectors) are common enough for a piece of their
            // own: one capacity check for the whole list.
            PyObject** items = PySequence_Fast_ITEMS(sequence);
            if (!encoder_.write_float_array(static_cast<std::size_t>(size), [&](std::size_t i) {
                    return PyFloat_AS_DOUBLE(items[i]);
                }))
                return false;
            return true;
        }
        if (!encoder_.begin_array(static_cast<std::uint64_t>(size))) return false;
        PyObject** items = PySequence_Fast_ITEMS(sequence);
        for (Py_ssize_t i = 0; i < size;) {
            PyTypeObject* type = Py_TYPE(items[i]);
            if (type == &PyFloat_Type) {
                i += write_float_run(items + i, size - i);
            } else if (type == &PyLong_Type && i + 1 < size &&
                       Py_TYPE(items[i + 1]) == &PyLong_Type) {
                // Two or more: a lone int costs less written where it is than the call.
                i += write_int_run(items + i, size - i);
                if (i < size && Py_TYPE(items[i]) == &PyLong_Type && !write(items[i++]))
                    return false;  // an int too large for a run: the general path decides
            } else if (!write(items[i++])) {
                return false;
            }
        }
        encoder_.end_array();
        return true;
    }

    static bool only_floats(PyObject* sequence, Py_ssize_t size) {
        PyObject** items = PySequence_Fast_ITEMS(sequence);
        for (Py_ssize_t i = 0; i < size; ++i)
            if (Py_TYPE(items[i]) != &PyFloat_Type) return false;
        return size != 0;
    }

    // Numbers in a row are written as runs, a chunk at a time so that a long list that holds
    // other values too never reserves room for all of its items.
    static constexpr Py_ssize_t kRunChunk = 64;

    // Out of line: write_sequence, which also writes the short lists of floats of coordinates,
    // runs those 3% faster without it (canada.json).
    [[gnu::noinline]] Py_ssize_t write_float_run(PyObject** items, Py_ssize_t available) {
        auto count = static_cast<std::size_t>(std::min(available, kRunChunk));
        return static_cast<Py_ssize_t>(
            encoder_.write_float_run(count, [&](std::size_t k, double& d) {
                if (Py_TYPE(items[k]) != &PyFloat_Type) return false;
                d = PyFloat_AS_DOUBLE(items[k]);
                return true;
            }));
    }

    // Out of line too: inlined, the rest of write_sequence leaves the run's loop fewer
    // registers (indices of mesh.json, 6% more instructions).
    [[gnu::noinline]] Py_ssize_t write_int_run(PyObject** items, Py_ssize_t available) {
        auto count = static_cast<std::size_t>(std::min(available, kRunChunk));
        return static_cast<Py_ssize_t>(
            encoder_.write_int_run(count, [&](std::size_t k, std::int64_t& i) {
                long long n;
                if (Py_TYPE(items[k]) != &PyLong_Type || !long_value(items[k], n)) return false;
                i = n;
                return true;
            }));
    }

    bool write_key(PyObject* key) {
        if (!is_str_key(key)) return false;
        auto text = utf8_of(key);
        if (!text) return false;
        encoder_.write_key(*text);
        return true;
    }

    [[gnu::noinline]] bool write_dict(PyObject* dict) {
        if (!encoder_.begin_object(static_cast<std::uint64_t>(PyDict_GET_SIZE(dict)))) return false;
        if (!for_each_item(dict, [&](PyObject* key, PyObject* value) {
                return write_key(key) && write(value);
            }))
            return false;
        encoder_.end_object();
        return true;
    }

    [[gnu::noinline]] bool write_sorted_dict(PyObject* dict) {
        struct Entry {  // trivial, so the stack array below costs nothing to set up
            const char* key;
            std::size_t length;
            PyObject* value;
            std::uint64_t prefix;  // the key's first eight bytes, big-endian, zero-padded
            std::string_view key_view() const { return {key, length}; }
        };
        // Most dicts are small: their entries stay on the stack, and the smallest are sorted by
        // insertion.
        constexpr std::size_t kSmall = 32, kInsertionSortLimit = 8;
        Entry small[kSmall];
        std::vector<Entry> large;
        auto size = static_cast<std::size_t>(PyDict_GET_SIZE(dict));
        if (size > kSmall) large.resize(size);
        Entry* entries = size > kSmall ? large.data() : small;

        std::size_t count = 0;
        bool only_str_keys = true;
        if (!for_each_item(dict, [&](PyObject* key, PyObject* value) {
                if (!PyUnicode_CheckExact(key)) {
                    if (!is_str_key(key)) return false;
                    only_str_keys = false;
                }
                auto text = utf8_of(key);
                if (!text) return false;
                entries[count++] = {text->data(), text->size(), value,
                                    dral_core::sort_prefix(*text)};
                return true;
            }))
            return false;
        // Differing prefixes order keys as their bytes do (padding sorts below any real byte,
        // and equal real bytes leave the prefixes equal); only ties need the whole keys.
        auto by_key = [](const Entry& a, const Entry& b) {
            if (a.prefix != b.prefix) return a.prefix < b.prefix;
            return a.key_view() < b.key_view();
        };
        if (count > kInsertionSortLimit) {
            // Only str subclasses can make two keys equal; those keep the dict's order.
            if (only_str_keys)
                std::sort(entries, entries + count, by_key);
            else
                std::stable_sort(entries, entries + count, by_key);
        } else {
            for (std::size_t i = 1; i < count; ++i)
                for (std::size_t j = i; j > 0 && by_key(entries[j], entries[j - 1]); --j)
                    std::swap(entries[j], entries[j - 1]);
        }
        if (!encoder_.begin_object(count)) return false;
        for (std::size_t i = 0; i < count; ++i) {
            encoder_.write_key(entries[i].key_view());
            if (!write(entries[i].value)) return false;
        }
        encoder_.end_object();
        return true;
    }

    Encoder& encoder_;
    bool sort_keys_;
    std::uint64_t most_replacements_;
    std::uint64_t replacements_ = 0;
};

}  // namespace

// Nesting the direct writer follows by recursion, at most: deeper values take the reference path,
// which keeps its own stack.
constexpr std::uint64_t kDirectDepth = 128;

bool encode_object_reference(Encoder& encoder, PyObject* object, const ConvertOptions& options) {
    auto value = py_to_value(object, options);
    if (!value) return false;
    encoder.set_max_depth(options.max_depth.value_or(dral_core::kMaxNestingDepth));
    auto status = encoder.encode_value(*value);
    if (!status) {
        map_encode_error(status.error());
        return false;
    }
    return true;
}

bool encode_object_releasing(Encoder& encoder, PyObject* object, const ConvertOptions& options) {
    LockReleasingWork long_work;
    struct Released {
        Encoder& encoder;
        ~Released() { encoder.set_long_work(nullptr); }
    } released{encoder};
    encoder.set_long_work(&long_work);
    return encode_object(encoder, object, options);
}

bool encode_object(Encoder& encoder, PyObject* object, const ConvertOptions& options) {
    Encoder::Checkpoint before = encoder.checkpoint();
    const std::uint64_t max_depth = options.max_depth.value_or(dral_core::kMaxNestingDepth);
    try {
        encoder.set_max_depth(std::min(max_depth, kDirectDepth));
        const std::uint64_t most_replacements =
            std::min<std::uint64_t>(dral_core::kMostEnumReplacements, max_depth);
        if (DirectEncoder(encoder, options.sort_keys, most_replacements).write(object)) {
            encoder.end_value();
            return true;
        }
        // Only a value that the direct writer cannot write comes here: replaying the reference
        // path gives exactly its result or error (which of several applies first, its wording),
        // and the direct writer ran no Python code, so the replay sees the same data.
        encoder.rollback(before);
        PyErr_Clear();
        return encode_object_reference(encoder, object, options);
    } catch (const std::bad_alloc&) {
        // Out of memory half-way through a value: an incremental encoder stays usable.
        encoder.rollback(before);
        PyErr_NoMemory();
        return false;
    }
}

}  // namespace dral_python
