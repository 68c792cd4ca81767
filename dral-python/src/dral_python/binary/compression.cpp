#include "dral_python/binary/compression.hpp"

namespace dral_python {

using dral_core::CompressionType;

std::optional<CompressionType> lookup_named_compression(PyObject* name) {
    static constexpr std::pair<const char*, CompressionType> kNames[] = {
        {"none", CompressionType::None},
        {"zstd", CompressionType::Zstd},
        {"snappy", CompressionType::Snappy},
        {"lz4", CompressionType::Lz4},
    };
    for (const auto& [text, code] : kNames)
        if (PyUnicode_CompareWithASCIIString(name, text) == 0) return code;
    return std::nullopt;
}

PyObject* raise_unknown_compression(PyObject* name) {
    PyErr_Format(PyExc_ValueError, "unknown compression: %U (expected none, lz4, zstd, snappy)",
                 name);
    return nullptr;
}

std::optional<CompressionType> parse_compression(PyObject* name) {
    auto code = lookup_compression(name);
    if (!code) raise_unknown_compression(name);
    return code;
}

}  // namespace dral_python
