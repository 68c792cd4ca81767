#include "py_str.hpp"

#include "utf8.hpp"

namespace dral_python {

PyObject* new_utf8_str(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto measure = dral_core::measure_utf8(bytes, text.size());
    // The interpreter's decoder says precisely what is wrong.
    if (!measure)
        return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    Py_UCS4 largest = measure->largest_non_ascii != 0 ? measure->largest_non_ascii : 0x7F;
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(measure->code_points), largest);
    if (str == nullptr) return nullptr;
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            dral_core::decode_measured_utf8(bytes, text.size(), PyUnicode_1BYTE_DATA(str));
            break;
        case PyUnicode_2BYTE_KIND:
            dral_core::decode_measured_utf8(bytes, text.size(), PyUnicode_2BYTE_DATA(str));
            break;
        default:
            dral_core::decode_measured_utf8(bytes, text.size(), PyUnicode_4BYTE_DATA(str));
            break;
    }
    return str;
}

}  // namespace dral_python
