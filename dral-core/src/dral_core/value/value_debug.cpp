// The debugging form of a Value, as shown inside `repr` of a value view.
#include <cstdint>
#include <string>
#include <vector>

#include "dral_core/encoding/float_text.hpp"
#include "dral_core/encoding/utf8_char.hpp"
#include "dral_core/value/value.hpp"

namespace dral_core {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex(std::string& output, std::uint32_t value) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = kHexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0) output += digits[--count];
}

// Control characters (general category Cc) become `\u{hex}`, lower-case and unpadded, so the
// form stays printable on one line; a byte that is not UTF-8 becomes `\x{hex}`.
void append_debug_quoted(std::string& output, std::string_view text) {
    output += '"';
    while (!text.empty()) {
        auto decoded = decode_utf8_char(text);
        if (!decoded) {
            output += "\\x{";
            append_hex(output, static_cast<unsigned char>(text[0]));
            output += '}';
            text.remove_prefix(1);
            continue;
        }
        const char32_t c = decoded->code_point;
        switch (c) {
            case '"':
                output += "\\\"";
                break;
            case '\\':
                output += "\\\\";
                break;
            case '\t':
                output += "\\t";
                break;
            case '\r':
                output += "\\r";
                break;
            case '\n':
                output += "\\n";
                break;
            default:
                if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
                    output += "\\u{";
                    append_hex(output, static_cast<std::uint32_t>(c));
                    output += '}';
                } else {
                    output.append(text.substr(0, decoded->length));
                }
        }
        text.remove_prefix(decoded->length);
    }
    output += '"';
}

// Writes `value` if it is not a container, and reports whether it did.
bool append_scalar(std::string& output, const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            output += "Null";
            return true;
        case Kind::Bool:
            output += value.as_bool() ? "Bool(true)" : "Bool(false)";
            return true;
        case Kind::UInt:
            output += "UInt(" + std::to_string(value.as_uint()) + ")";
            return true;
        case Kind::Int:
            output += "Int(" + std::to_string(value.as_int()) + ")";
            return true;
        case Kind::Float:
            output += "Float(";
            append_float_debug(output, value.as_float());
            output += ')';
            return true;
        case Kind::Str:
            output += "Str(";
            append_debug_quoted(output, value.as_str());
            output += ')';
            return true;
        case Kind::Bytes: {
            output += "Bytes([";
            const Bytes& bytes = value.as_bytes();
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (i > 0) output += ", ";
                output += std::to_string(bytes[i]);
            }
            output += "])";
            return true;
        }
        case Kind::Array:
        case Kind::Object:
            return false;
    }
    return true;
}

// A container being rendered; `next` is the index of its next item or entry.
struct OpenContainer {
    const Value* value;
    std::size_t next;
};

}  // namespace

// Nesting is followed with an explicit stack, so no depth of value can exhaust the native stack.
std::string debug_string(const Value& value) {
    std::string output;
    if (append_scalar(output, value)) return output;
    std::vector<OpenContainer> open;
    output += value.kind() == Kind::Array ? "Array([" : "Object([";
    open.push_back({&value, 0});
    while (!open.empty()) {
        OpenContainer& top = open.back();
        const bool is_object = top.value->kind() == Kind::Object;
        const std::size_t index = top.next;
        if (index > 0 && is_object) output += ')';  // closes the previous (key, value) pair
        if (index == top.value->size()) {
            output += "])";
            open.pop_back();
            continue;
        }
        ++top.next;
        if (index > 0) output += ", ";
        const Value* child;
        if (is_object) {
            const Entry& entry = top.value->as_object()[index];
            output += '(';
            append_debug_quoted(output, entry.first);
            output += ", ";
            child = &entry.second;
        } else {
            child = &top.value->as_array()[index];
        }
        if (append_scalar(output, *child)) continue;
        output += child->kind() == Kind::Array ? "Array([" : "Object([";
        open.push_back({child, 0});  // `top` is not used past this point
    }
    return output;
}

}  // namespace dral_core
