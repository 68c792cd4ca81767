#include "dral_python/convert/py_encode.hpp"

#include <algorithm>
#include <new>

#include "dral_core/base/limits.hpp"
#include "dral_python/convert/convert.hpp"
#include "dral_python/convert/direct_encoder.hpp"
#include "dral_python/cpython/lock_release.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {
namespace {

using dral_core::Encoder;

// Out of line, so that the compiler weighs the writer's inlining as for one call, wherever it is
// called from (inlined into the caller with its second call, write_dict's loop was not).
[[gnu::noinline]] bool write_without_hook(Encoder& encoder, PyObject* object, bool sort_keys,
                                          std::uint64_t most_replacements) {
    return DirectEncoder<false>(encoder, sort_keys, most_replacements).write(object);
}

}  // namespace

// Nesting the direct writer follows by recursion, at most: deeper values take the reference path,
// which keeps its own stack.
constexpr std::uint64_t kDirectDepth = 128;

// With `made`, the hook's calls the direct writer made, taken instead of calling again.
bool encode_via_value(Encoder& encoder, PyObject* object, const ConvertOptions& options,
                      const HookCalls* made) {
    auto value = py_to_value(object, options, made);
    if (!value) return false;
    encoder.set_max_depth(options.max_depth.value_or(dral_core::kMaxNestingDepth));
    auto status = encoder.encode_value(*value);
    if (!status) {
        map_encode_error(status.error());
        return false;
    }
    return true;
}

bool encode_object_reference(Encoder& encoder, PyObject* object, const ConvertOptions& options) {
    return encode_via_value(encoder, object, options, nullptr);
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
    HookCalls calls;
    bool& hooking = module_state().conversion.hooking;
    try {
        encoder.set_max_depth(std::min(max_depth, kDirectDepth));
        const std::uint64_t most_replacements =
            std::min<std::uint64_t>(dral_core::kMostEnumReplacements, max_depth);
        // The writer without the hook first: it runs no Python code, so trying it cannot be
        // seen, and data that never needs the hook is written at its speed. A writer started by
        // the hook of another that calls it leaves the hook to the reference path, so that the
        // recursion of direct writers waiting on their hooks never piles up.
        bool written = write_without_hook(encoder, object, options.sort_keys, most_replacements);
        if (!written && options.default_hook != nullptr && !options.sort_keys && !hooking) {
            encoder.rollback(before);
            PyErr_Clear();
            hooking = true;
            DirectOutcome outcome = write_directly_with_hook(encoder, object, most_replacements,
                                                             options.default_hook, calls);
            hooking = false;
            written = outcome == DirectOutcome::Written;
            if (outcome == DirectOutcome::Raised) {
                encoder.rollback(before);
                return false;
            }
        }
        if (written) {
            encoder.end_value();
            return true;
        }
        // Only a value that the direct writer cannot write comes here: replaying the reference
        // path gives exactly its result or error (which of several applies first, its wording),
        // as the direct writer ran no Python code but the hook's calls, whose results the replay
        // takes instead of calling again; it sees the same data unless the hook changed it.
        encoder.rollback(before);
        PyErr_Clear();
        return encode_via_value(encoder, object, options, &calls);
    } catch (const std::bad_alloc&) {
        // Out of memory half-way through a value: an incremental encoder stays usable.
        hooking = false;
        encoder.rollback(before);
        PyErr_NoMemory();
        return false;
    }
}

}  // namespace dral_python
