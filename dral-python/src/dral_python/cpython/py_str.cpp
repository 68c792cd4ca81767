#include "dral_python/cpython/py_str.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "dral_core/encoding/utf8.hpp"

namespace dral_python {
namespace {

constexpr std::size_t kShortText = 256;  // bytes

// The interpreter's decoder says precisely what is wrong.
PyObject* raise_invalid_utf8(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

// A new str as `measure` describes it, its characters written by `fill(data)` where `data` is
// typed by the str's width.
template <class Fill>
PyObject* new_measured_str(const dral_core::Utf8Measure& measure, Fill fill) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(measure.code_points), measure.widest);
    if (str == nullptr) return nullptr;
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            fill(PyUnicode_1BYTE_DATA(str));
            break;
        case PyUnicode_2BYTE_KIND:
            fill(PyUnicode_2BYTE_DATA(str));
            break;
        default:
            fill(PyUnicode_4BYTE_DATA(str));
            break;
    }
    return str;
}

// Fresh strs are the one kind the interpreter lets grow in place. `size` is in bytes, which a
// str of wider characters rounds up to whole ones; never 0, which would share the empty str.
template <Py_UCS4 kMaxChar>
std::uint8_t* resize_str(void*& owner, std::uint8_t*, std::size_t, std::size_t size) {
    constexpr std::size_t kUnit = kMaxChar <= 0xFF ? 1 : kMaxChar <= 0xFFFF ? 2 : 4;
    const auto length = static_cast<Py_ssize_t>((size + kUnit - 1) / kUnit);
    auto* str = static_cast<PyObject*>(owner);
    if (str == nullptr) {
        str = PyUnicode_New(length, kMaxChar);
    } else if (PyUnicode_Resize(&str, length) < 0) {
        // The str is kept as it was; one that cannot be made shorter keeps its room, for giving
        // room back is only a hint.
        if (length > PyUnicode_GET_LENGTH(str)) return nullptr;
        PyErr_Clear();
    }
    owner = str;
    return str ? static_cast<std::uint8_t*>(PyUnicode_DATA(str)) : nullptr;
}

void release_str(void* owner, std::uint8_t*) { Py_XDECREF(static_cast<PyObject*>(owner)); }

// Each step copies all that is written so far: a text starts at 4 KiB, or more if its first
// piece needs it, and from there it doubles. (Larger steps ask for blocks past the sizes the
// allocator has at hand, which it maps afresh and faults in page by page.)
std::size_t grow_text(std::size_t needed, std::size_t doubled) {
    constexpr std::size_t kPage = 4096;
    return doubled < kPage ? std::max(needed, kPage) : doubled;
}

}  // namespace

const dral_core::ByteStorage kAsciiStrStorage{resize_str<0x7F>, release_str, 0, false, grow_text};
const dral_core::ByteStorage kLatin1StrStorage{resize_str<0xFF>, release_str, 0, false, grow_text};
const dral_core::ByteStorage kUcs2StrStorage{resize_str<0xFFFF>, release_str, 0, false, grow_text};
const dral_core::ByteStorage kUcs4StrStorage{resize_str<0x10FFFF>, release_str, 0, false,
                                             grow_text};

PyObject* take_str(dral_core::ByteBuffer& buffer) {
    const std::size_t size = buffer.size();
    auto* str = static_cast<PyObject*>(buffer.take_owner());
    if (str == nullptr) return PyUnicode_New(0, 0);
    const auto length = static_cast<Py_ssize_t>(size / PyUnicode_KIND(str));
    if (PyUnicode_Resize(&str, length) < 0) {
        Py_DECREF(str);
        return nullptr;
    }
    return str;
}

PyObject* new_utf8_str(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    if (text.size() <= kShortText) {
        // Most text is ASCII, which is copied rather than decoded.
        if (dral_core::is_ascii(bytes, text.size())) return new_ascii_str(text);
        // Decoded once, to the stack, then narrowed to the str's width.
        char32_t code_points[kShortText];
        auto measure = dral_core::decode_and_measure_utf8(bytes, text.size(), code_points);
        if (!measure) return raise_invalid_utf8(text);
        return new_measured_str(*measure, [&](auto* out) {
            for (std::size_t i = 0; i < measure->code_points; ++i)
                out[i] = static_cast<std::remove_pointer_t<decltype(out)>>(code_points[i]);
        });
    }
    // Measured first, so that a long text is decoded straight into its str.
    auto measure = dral_core::measure_utf8(bytes, text.size());
    if (!measure) return raise_invalid_utf8(text);
    return new_utf8_str(text, *measure);
}

PyObject* new_utf8_str(std::string_view text, const dral_core::Utf8Measure& measure) {
    if (measure.widest <= 0x7F) return new_ascii_str(text);
    const MeasuredUtf8 whole{text, measure};
    return new_utf8_str(std::span(&whole, 1), measure);
}

PyObject* new_utf8_str(std::span<const MeasuredUtf8> pieces,
                       const dral_core::Utf8Measure& measure) {
    return new_measured_str(measure, [&](auto* out) {
        for (const MeasuredUtf8& piece : pieces) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(piece.text.data());
            if (sizeof(*out) == 1 && piece.measure.widest <= 0x7F) {
                // An empty view may have no data at all, which memcpy must not be given.
                if (!piece.text.empty()) std::memcpy(out, bytes, piece.text.size());
            } else {
                dral_core::decode_measured_utf8(bytes, piece.text.size(), out);
            }
            out += piece.measure.code_points;
        }
    });
}

}  // namespace dral_python
