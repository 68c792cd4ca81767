// Python str objects made straight from UTF-8 bytes, or written in place.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_core/encoding/utf8.hpp"

namespace dral_python {

// A new reference to a str of the ASCII `text`, or nullptr with MemoryError set; a plain copy,
// no decoding. A one-character str is the interpreter's own shared one, as its decoders give:
// no allocation for what short fields are full of.
inline PyObject* new_ascii_str(std::string_view text) {
    if (text.size() == 1) return PyUnicode_FromOrdinal(static_cast<unsigned char>(text[0]));
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    // An empty view may have no data at all, which memcpy must not be given.
    if (str != nullptr && !text.empty())
        std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
    return str;
}

// The UTF-8 form of the str `str`, owned by it (pure ASCII strs are their own UTF-8); nullopt
// with UnicodeEncodeError set for a str that has none (a lone surrogate).
inline std::optional<std::string_view> utf8_of(PyObject* str) {
    if (PyUnicode_IS_COMPACT_ASCII(str))
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
    Py_ssize_t length;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &length);
    if (utf8 == nullptr) return std::nullopt;
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

// A new str of the UTF-8 `text`, allocated once at its final width; nullptr with
// UnicodeDecodeError set when `text` is not UTF-8, or with MemoryError.
PyObject* new_utf8_str(std::string_view text);
// The same for `text` that measure_utf8 has accepted with `measure`, which is not taken again.
PyObject* new_utf8_str(std::string_view text, const dral_core::Utf8Measure& measure);

// A piece of a text, accepted by measure_utf8 with `measure`.
struct MeasuredUtf8 {
    std::string_view text;
    dral_core::Utf8Measure measure;
};
// The same for a text in pieces, one after another, of which `measure` is the whole text's.
PyObject* new_utf8_str(std::span<const MeasuredUtf8> pieces, const dral_core::Utf8Measure& measure);

// Storage that makes a ByteBuffer write straight into a str: of one byte per character, ASCII or
// Latin-1 for text with a character past ASCII; of two or four, for text with a character past
// Latin-1 or past the first plane. What is written must be of that range, and hold a character
// of it when the str is of two or four bytes a character, which the interpreter expects of them.
extern const dral_core::ByteStorage kAsciiStrStorage;
extern const dral_core::ByteStorage kLatin1StrStorage;
extern const dral_core::ByteStorage kUcs2StrStorage;
extern const dral_core::ByteStorage kUcs4StrStorage;

// The str a buffer on one of those storages has written, cut to its size; the buffer is left
// empty. nullptr with MemoryError set.
PyObject* take_str(dral_core::ByteBuffer& buffer);

}  // namespace dral_python
