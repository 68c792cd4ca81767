#include "dral_python/rfc/counted_results.hpp"

#include "dral_core/encoding/utf8.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/errors.hpp"

namespace dral_python {

bool charge_result(dral_core::MemoryMeter& meter, std::uint64_t bytes) {
    if (meter.try_charge(bytes)) return true;
    map_rfc_error(meter.refusal());
    return false;
}

PyObject* new_counted_text(std::string_view text, dral_core::MemoryMeter& meter) {
    // One pass measures the text, which is then copied (ASCII) or decoded once. The formatter
    // writes valid UTF-8 only; should it not, the decoding error is raised.
    const auto measure =
        dral_core::measure_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const std::uint64_t width = !measure || measure->widest > 0xFFFF ? 4
                                : measure->widest > 0xFF             ? 2
                                                                     : 1;
    const std::uint64_t size = width * (measure ? measure->code_points : text.size());
    if (size > text.size() && !charge_result(meter, size - text.size())) return nullptr;
    return measure ? new_utf8_str(text, *measure) : new_utf8_str(text);
}

namespace {

template <class Tree>
PyObject* formatted(const Tree& tree) {
    dral_core::MemoryMeter meter(dral_core::rfc001::kMemoryLimit);
    dral_core::Result<std::string> text;
    if constexpr (std::is_same_v<Tree, dral_core::rfc001::Document>)
        text = dral_core::rfc001::ctn::format_document(tree, meter);
    else
        text = dral_core::rfc001::ctn::format_value(tree, meter);
    if (!text) return map_rfc_error(text.error());
    return new_counted_text(*text, meter);
}

}  // namespace

PyObject* ctn_str_of(const dral_core::rfc001::Value& value) { return formatted(value); }

PyObject* ctn_str_of(const dral_core::rfc001::Document& document) { return formatted(document); }

}  // namespace dral_python
