#include "dral_python/convert/direct_encoder.hpp"

namespace dral_python {

DirectOutcome write_directly_with_hook(dral_core::Encoder& encoder, PyObject* object,
                                       std::uint64_t most_replacements, PyObject* hook,
                                       HookCalls& calls) {
    DirectEncoder<true> direct(encoder, most_replacements, hook, calls);
    if (direct.write(object)) return DirectOutcome::Written;
    return direct.raised() ? DirectOutcome::Raised : DirectOutcome::GaveUp;
}

}  // namespace dral_python
