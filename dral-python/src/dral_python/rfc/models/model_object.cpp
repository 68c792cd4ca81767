#include "dral_python/rfc/models/model_object.hpp"

#include <string>

#include "dral_python/cpython/module_attributes.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"

namespace dral_python {
namespace {

// Names read from compiled documents may hold any character; a repr must still show them on one
// line and show where the quotes end.
void append_escaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\u{";
                    if (byte >= 0x10) out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                    out += '}';
                } else {
                    out += c;  // UTF-8 sequences pass whole
                }
        }
    }
}

}  // namespace

PyObject* named_repr(std::string_view class_name, std::string_view name) {
    std::string text(class_name);
    text += "(name=\"";
    append_escaped(text, name);
    text += "\")";
    return new_utf8_str(text);
}

PyObject* str_list(const std::vector<std::string_view>& texts) {
    return build_list(texts.size(), [&](std::size_t i) { return new_utf8_str(texts[i]); });
}

}  // namespace dral_python
