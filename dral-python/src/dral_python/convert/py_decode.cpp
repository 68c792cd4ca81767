#include "dral_python/convert/py_decode.hpp"

#include <string_view>
#include <utility>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/binary/decoder.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/py_sink.hpp"
#include "dral_python/cpython/gc_pause.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/cpython/py_list.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {
namespace {

using dral_core::DecodeLimits;
using dral_core::Decoder;

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
