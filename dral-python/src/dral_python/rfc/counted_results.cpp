#include "dral_python/rfc/counted_results.hpp"

#include <vector>

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

PyObject* new_counted_text(const dral_core::rfc001::ctn::FormattedText& text,
                           dral_core::MemoryMeter& meter) {
    // The formatter measured each chunk as it wrote it: the str is made at its final width and
    // the chunks copied (ASCII) or decoded into it, without another look at the text first. It
    // writes valid UTF-8 only; should it not, the decoding error is raised.
    const auto measure = text.measure();
    const std::uint64_t bytes = text.size();
    const std::uint64_t width = !measure || measure->widest > 0xFFFF ? 4
                                : measure->widest > 0xFF             ? 2
                                                                     : 1;
    const std::uint64_t size = width * (measure ? measure->code_points : bytes);
    if (size > bytes && !charge_result(meter, size - bytes)) return nullptr;
    if (!measure) return new_utf8_str(text.joined());
    if (text.chunks.size() == 1) return new_utf8_str(text.chunks[0].text, *measure);
    std::vector<MeasuredUtf8> pieces;
    pieces.reserve(text.chunks.size());
    for (const auto& chunk : text.chunks) pieces.push_back({chunk.text, *chunk.measure});
    return new_utf8_str(pieces, *measure);
}

namespace {

template <class Tree>
PyObject* formatted(const Tree& tree) {
    dral_core::MemoryMeter meter(dral_core::rfc001::kMemoryLimit);
    dral_core::Result<dral_core::rfc001::ctn::FormattedText> text;
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
