// The direct binary writer: Python objects written straight into an Encoder, for the objects it
// can read as the reference conversion does. Each file that writes instantiates its own (the
// writer without hook in py_encode.cpp, the one that calls the hook in py_encode_hooked.cpp), so
// that neither's inlining is decided against the other's size.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/string_sort.hpp"
#include "dral_core/binary/encoder.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_classes.hpp"
#include "dral_python/convert/py_dict.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/convert/py_text_forms.hpp"
#include "dral_python/cpython/py_long.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {

enum class DirectOutcome { Written, GaveUp, Raised };

// The writer that calls `hook`, without sort_keys; Raised: an exception that must propagate.
DirectOutcome write_directly_with_hook(dral_core::Encoder& encoder, PyObject* object,
                                       std::uint64_t most_replacements, PyObject* hook,
                                       HookCalls& calls);

namespace {

// Writes what the reference conversion writes for the objects it can read without running Python
// code, and gives up on anything else (refused objects, tzinfo classes of Python's, a failure),
// so that replaying the reference path is unobservable. Recursion is bounded by the encoder's
// depth limit, checked before descending, which encode_object keeps within what a small thread
// stack holds.
//
// kHooked: the default hook is set, and called here for what the rules refuse, each call logged
// for the replay to take instead of calling again (the reference path then meets the same objects
// in the same order, so it makes the same calls). The hook may change or free what is being
// written, so the containers are read as the reference path reads them: each one held while it
// is written, a list's items and size read again at each step and its count set to what was
// written, a dict read from its table as it is at each step and refused when its size changes.
// Without kHooked, none of that is compiled: no Python code runs.
template <bool kHooked>
class DirectEncoder {
public:
    // `most_replacements`: how long a chain of enum values (and hook results) may be, as the
    // reference path counts it against the nesting limit.
    DirectEncoder(dral_core::Encoder& encoder, bool sort_keys, std::uint64_t most_replacements)
        : encoder_(encoder), sort_keys_(sort_keys), most_replacements_(most_replacements) {}
    // Without sort_keys only, which orders the hook's calls by key here and not on the reference
    // path.
    DirectEncoder(dral_core::Encoder& encoder, std::uint64_t most_replacements, PyObject* hook,
                  HookCalls& calls)
        : encoder_(encoder),
          sort_keys_(false),
          most_replacements_(most_replacements),
          hooking_{hook, &calls} {}

    // The writer stopped on an exception that must propagate rather than be replayed: the hook's
    // own, or a dict that it resized.
    bool raised() const { return hooking_.raised; }

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
        if constexpr (kHooked)
            if (kind == PyKind::Unsupported) return write_hooked(object);
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
        Form form = time_text(object, kind, false, text, reason);
        if (form != Form::Written) return write_refused(object, form);
        encoder_.write_str(text.view());
        return true;
    }

    bool write_uuid(PyObject* object, const ClassRules& rules) {
        FormText text;
        const char* reason;
        Form form = uuid_text(object, rules.int_slot, text, reason);
        if (form != Form::Written) return write_refused(object, form);
        encoder_.write_str(text.view());
        return true;
    }

    // What has no text of its own goes to the hook; anything else to the reference path.
    [[gnu::always_inline]] bool write_refused(PyObject* object, Form form) {
        if constexpr (kHooked)
            return form == Form::Refused && write_hooked(object);
        else
            return false;
    }

    // The hook's result in place of `object`; a chain of results that are refused in turn counts
    // as nesting, as enum values do, and a result that is `object` again is left to the reference
    // path to word.
    [[gnu::noinline]] bool write_hooked(PyObject* object) {
        if (replacements_ >= most_replacements_) return false;
        PyRef held = PyRef::borrow(object);  // the hook may drop it from where it lies
        PyRef result(PyObject_CallOneArg(hooking_.hook, object));
        if (!result) return raise();
        PyObject* replacement = result.get();
        hooking_.calls->emplace_back(std::move(held), std::move(result));
        if (replacement == object) return false;
        ++replacements_;
        bool written = write(replacement);
        --replacements_;
        return written;
    }

    bool raise(bool = false) {
        hooking_.raised = true;
        return false;
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
        [[maybe_unused]] Held held(object);
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
        if constexpr (kHooked) return write_held_items(sequence, size);
        if (!encoder_.begin_array(static_cast<std::uint64_t>(size))) return false;
        PyObject** items = PySequence_Fast_ITEMS(sequence);
        for (Py_ssize_t i = 0; i < size;)
            if (!write_next_items(items, size, i)) return false;
        encoder_.end_array();
        return true;
    }

    // The item at `i` of the `size` at `items`, or the run of numbers it begins; `i` moves past
    // what was written.
    [[gnu::always_inline]] bool write_next_items(PyObject** items, Py_ssize_t size, Py_ssize_t& i) {
        PyTypeObject* type = Py_TYPE(items[i]);
        if (type == &PyFloat_Type) {
            i += write_float_run(items + i, size - i);
        } else if (type == &PyLong_Type && i + 1 < size && Py_TYPE(items[i + 1]) == &PyLong_Type) {
            // Two or more: a lone int costs less written where it is than the call.
            i += write_int_run(items + i, size - i);
            if (i < size && Py_TYPE(items[i]) == &PyLong_Type && !write(items[i++]))
                return false;  // an int too large for a run: the general path decides
        } else if (!write(items[i++])) {
            return false;
        }
        return true;
    }

    // The hook may resize the list as it is written, as the reference path reads it: up to its
    // size at each step, the count written at the start set afterwards to the items written.
    bool write_held_items(PyObject* sequence, Py_ssize_t size) {
        PyRef held = PyRef::borrow(sequence);
        const std::size_t start = encoder_.buffered_size();
        if (!encoder_.begin_array(static_cast<std::uint64_t>(size))) return false;
        Py_ssize_t i = 0;
        while (i < PySequence_Fast_GET_SIZE(sequence))
            if (!write_next_items(PySequence_Fast_ITEMS(sequence),
                                  PySequence_Fast_GET_SIZE(sequence), i))
                return false;
        if (i != size && !encoder_.recount_container(start, static_cast<std::uint64_t>(i)))
            return false;
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
        if constexpr (kHooked) return write_held_dict(dict);
        if (!encoder_.begin_object(static_cast<std::uint64_t>(PyDict_GET_SIZE(dict)))) return false;
        if (!for_each_item(dict, [&](PyObject* key, PyObject* value) {
                return write_key(key) && write(value);
            }))
            return false;
        encoder_.end_object();
        return true;
    }

    // Read as the interpreter reads it, from its table as it is at each step.
    bool write_held_dict(PyObject* dict) {
        PyRef held = PyRef::borrow(dict);
        const Py_ssize_t size = PyDict_GET_SIZE(dict);
        if (!encoder_.begin_object(static_cast<std::uint64_t>(size))) return false;
        Py_ssize_t position = 0;
        // Until the hook runs, the table is read as the writer without hook reads it; from
        // then on, a step at a time.
        if (DictEntries entries; dict_entries(dict, entries)) {
            const std::size_t calls = hooking_.calls->size();
            while (position < entries.count && hooking_.calls->size() == calls) {
                PyObject* const* entry = entries.at(position++);
                if (entry[1] != nullptr && (!write_key(entry[0]) || !write(entry[1]))) return false;
            }
        }
        PyObject *key, *value;
        while (dict_next(dict, position, key, value)) {
            if (PyDict_GET_SIZE(dict) != size) return raise(raise_dict_changed());
            if (!write_key(key) || !write(value)) return false;
        }
        if (PyDict_GET_SIZE(dict) != size) return raise(raise_dict_changed());
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

    // An object kept alive while Python code may run, or nothing.
    struct Holding {
        PyRef object;
        explicit Holding(PyObject* borrowed) : object(PyRef::borrow(borrowed)) {}
    };
    struct NotHolding {
        explicit NotHolding(PyObject*) {}
    };
    using Held = std::conditional_t<kHooked, Holding, NotHolding>;

    struct Hooking {
        PyObject* hook;
        HookCalls* calls;
        bool raised = false;
    };
    struct NotHooking {};

    dral_core::Encoder& encoder_;
    bool sort_keys_;
    std::uint64_t most_replacements_;
    std::uint64_t replacements_ = 0;
    [[no_unique_address]] std::conditional_t<kHooked, Hooking, NotHooking> hooking_{};
};

}  // namespace
}  // namespace dral_python
