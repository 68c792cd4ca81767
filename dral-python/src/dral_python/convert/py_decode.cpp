#include "dral_python/convert/py_decode.hpp"

#include <string_view>
#include <utility>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/binary/decoder.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_scalars.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::DecodeLimits;
using dral_core::Decoder;

PyObject* new_str(std::string_view text, bool ascii) {
    return ascii ? new_ascii_str(text) : new_utf8_str(text);
}

// Builds Python objects as the decoder reads them.
class PySink : public PyScalars {
public:
    using Node = PyRef;
    // new_utf8_str checks non-ASCII text with the core's validation while it decodes it, in one
    // pass, and raises the interpreter's UnicodeDecodeError for text that is not UTF-8.
    static constexpr bool kValidatesUtf8 = true;

    PyRef str(std::string_view text, bool ascii, std::size_t) {
        PyRef str(new_str(text, ascii));
        if (!str && !ascii && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            utf8_rejected_ = true;
        }
        return str;
    }
    bool take_utf8_rejection() { return std::exchange(utf8_rejected_, false); }
    PyRef table_str(std::size_t, std::string_view text) { return PyRef(new_str(text, false)); }
    PyRef bytes(const std::uint8_t* data, std::size_t length) {
        return PyRef(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                               static_cast<Py_ssize_t>(length)));
    }
    PyRef begin_array(std::size_t capacity) {
        return PyRef(PyList_New(static_cast<Py_ssize_t>(capacity)));
    }
    bool set_item(PyRef& array, std::size_t index, PyRef item) {
        auto i = static_cast<Py_ssize_t>(index);
        if (i >= PyList_GET_SIZE(array.get())) [[unlikely]]
            return PyList_Append(array.get(), item.get()) == 0;
        PyList_SET_ITEM(array.get(), i, item.release());
        return true;
    }
    PyRef begin_object(std::size_t capacity) {
        return PyRef(_PyDict_NewPresized(static_cast<Py_ssize_t>(capacity)));
    }
    bool set_entry(PyRef& object, std::string_view key, bool ascii, PyRef value) {
        PyRef py_key(ascii ? cached_key(key) : new_str(key, false));
        return py_key && PyDict_SetItem(object.get(), py_key.get(), value.get()) == 0;
    }

private:
    bool utf8_rejected_ = false;
};

using Body = PyObject* (*)(std::span<const std::uint8_t>, const DecodeLimits&,
                           dral_core::LongWork*);

PyObject* with_gc_paused(Body body, std::span<const std::uint8_t> data,
                         const DecodeLimits& limits) {
    GcPause pause;
    LockReleasingWork long_work(&pause);
    return body(data, limits, &long_work);
}

// Top-level values wait here until the stream ends, so that the list is made once at its final
// size; the first few need no allocation.
class PendingValues {
public:
    PendingValues() = default;
    PendingValues(const PendingValues&) = delete;
    PendingValues& operator=(const PendingValues&) = delete;
    ~PendingValues() {
        for (std::size_t i = 0; i < values_.size(); ++i) Py_DECREF(values_[i]);
    }

    void push(PyRef value) { values_.push_back(value.release()); }

    // The one value of a stream holding exactly one, else the list of them all.
    PyObject* take_single_or_list() {
        if (values_.size() != 1) return take_list();
        PyObject* single = values_[0];
        values_.pop_back();
        return single;
    }

    PyObject* take_list() {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(values_.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < values_.size(); ++i)
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), values_[i]);
        values_.clear();  // the list owns them now
        return list;
    }

private:
    dral_core::SmallStack<PyObject*, 16> values_;
};

bool decode_into(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                 dral_core::LongWork* long_work, PendingValues& values) {
    Decoder decoder(data, limits, long_work);
    PySink sink;
    while (true) {
        auto next = decoder.decode_next(sink);
        if (!next) {
            map_decode_error(next.error());
            return false;
        }
        if (!*next) return true;
        if (!**next) return false;
        values.push(std::move(**next));
        // A long stream of many values can be interrupted between them.
        if (PyErr_CheckSignals() < 0) [[unlikely]]
            return false;
    }
}

PyObject* list_body(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                    dral_core::LongWork* long_work) {
    PendingValues values;
    return decode_into(data, limits, long_work, values) ? values.take_list() : nullptr;
}

PyObject* single_or_list_body(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                              dral_core::LongWork* long_work) {
    PendingValues values;
    return decode_into(data, limits, long_work, values) ? values.take_single_or_list() : nullptr;
}

PyObject* reference_body(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                         dral_core::LongWork* long_work) {
    Decoder decoder(data, limits, long_work);
    auto values = decoder.decode_all_owned();
    if (!values) return map_decode_error(values.error());
    return build_list(values->size(), [&](std::size_t i) { return value_to_py((*values)[i]); });
}

}  // namespace

PyObject* decode_next_to_py(Decoder& decoder) {
    PySink sink;
    auto next = decoder.decode_next(sink);
    if (!next) return map_decode_error(next.error());
    return *next ? (*next)->release() : nullptr;
}

std::optional<DecodeLimits> decode_options(const Signature& signature, PyObject** args, int first) {
    static constexpr DecodeLimits kDefaults;
    if (args[first] == nullptr && args[first + 1] == nullptr) [[likely]]
        return kDefaults;
    auto strict = bool_argument(signature, first, args[first], true);
    if (!strict) return std::nullopt;
    auto max_depth =
        u64_argument(signature, first + 1, args[first + 1], dral_core::kDefaultMaxDepth);
    if (!max_depth) return std::nullopt;
    return limits_for(*strict, *max_depth);
}

std::span<const std::uint8_t> bytes_span(PyObject* bytes) {
    return {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(bytes)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
}

DecodeLimits limits_for(bool strict, std::uint64_t max_depth) {
    if (!strict) return DecodeLimits::unlimited(max_depth);
    DecodeLimits limits;
    limits.max_depth = max_depth;
    return limits;
}

PyObject* decode_to_list(std::span<const std::uint8_t> data, const DecodeLimits& limits) {
    return with_gc_paused(list_body, data, limits);
}

PyObject* decode_single_or_list(std::span<const std::uint8_t> data, const DecodeLimits& limits) {
    return with_gc_paused(single_or_list_body, data, limits);
}

PyObject* decode_to_list_reference(std::span<const std::uint8_t> data, const DecodeLimits& limits) {
    return with_gc_paused(reference_body, data, limits);
}

}  // namespace dral_python
