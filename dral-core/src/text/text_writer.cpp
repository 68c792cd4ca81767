// The indented text notation of a Value; everything it writes, `parse` reads back.
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "encoding/base64.hpp"
#include "encoding/float_text.hpp"
#include "encoding/unicode.hpp"
#include "text/text.hpp"

namespace dral_core {
namespace {

constexpr std::size_t kMaxInlineItems = 8;

template <class Int>
void append_decimal(std::string& output, Int value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    output.append(digits, result.ptr);
}

void append_float(std::string& output, double value) {
    if (std::isnan(value)) {
        output += "NaN";
    } else if (std::isinf(value)) {
        output += value < 0 ? "-inf" : "inf";
    } else {
        const std::size_t start = output.size();
        append_float_positional(output, value);
        // Keeps integral values Float when read back.
        if (output.find('.', start) == std::string::npos) output += ".0";
    }
}

void append_quoted(std::string& output, std::string_view text) {
    output += '"';
    for (const char c : text) {
        switch (c) {
            case '\n':
                output += "\\n";
                break;
            case '\r':
                output += "\\r";
                break;
            case '\t':
                output += "\\t";
                break;
            case '"':
                output += "\\\"";
                break;
            case '\\':
                output += "\\\\";
                break;
            default:
                output += c;
        }
    }
    output += '"';
}

// The parser's rule for bare keys, so that a bare key always reads back as itself.
bool is_bare_key(std::string_view key) {
    bool first = true;
    while (!key.empty()) {
        auto decoded = unicode::decode_utf8(key);
        if (!decoded) return false;
        const char32_t c = decoded->code_point;
        const bool allowed =
            c == '_' || unicode::is_alphabetic(c) || (!first && unicode::is_numeric(c));
        if (!allowed) return false;
        key.remove_prefix(decoded->length);
        first = false;
    }
    return !first;
}

bool is_inline_scalar(const Value& value) {
    switch (value.kind()) {
        case Kind::Bytes:
        case Kind::Array:
        case Kind::Object:
            return false;
        default:
            return true;
    }
}

// Writes `value` if it needs no further levels, and reports whether it did.
bool write_flat(std::string& output, const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            output += "null";
            return true;
        case Kind::Bool:
            output += value.as_bool() ? "true" : "false";
            return true;
        case Kind::UInt:
            append_decimal(output, value.as_uint());
            return true;
        case Kind::Int:
            // Zero gets a sign so that it reads back as Int, not UInt.
            if (value.as_int() == 0) {
                output += "-0";
            } else {
                append_decimal(output, value.as_int());
            }
            return true;
        case Kind::Float:
            append_float(output, value.as_float());
            return true;
        case Kind::Str:
            append_quoted(output, value.as_str());
            return true;
        case Kind::Bytes:
            output += "b64#";
            base64::encode_to(output, value.as_bytes());
            return true;
        case Kind::Array: {
            const Array& items = value.as_array();
            if (items.empty()) {
                output += "[]";
                return true;
            }
            if (items.size() > kMaxInlineItems) return false;
            for (const Value& item : items)
                if (!is_inline_scalar(item)) return false;
            output += '[';
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i > 0) output += ", ";
                write_flat(output, items[i]);
            }
            output += ']';
            return true;
        }
        case Kind::Object:
            if (!value.as_object().empty()) return false;
            output += "{}";
            return true;
    }
    return true;
}

// A multi-line container being written; `next` is the index of its next item or entry.
struct OpenContainer {
    const Value* value;
    std::size_t depth;
    std::size_t next;
};

}  // namespace

// Nesting is followed with an explicit stack, so no depth of value can exhaust the native stack.
void write_value(std::string& output, const Value& value, std::size_t indent, std::size_t depth) {
    if (write_flat(output, value)) return;
    std::vector<OpenContainer> open;
    output += value.kind() == Kind::Array ? "[\n" : "{\n";
    open.push_back({&value, depth, 0});
    while (!open.empty()) {
        OpenContainer& top = open.back();
        const bool is_array = top.value->kind() == Kind::Array;
        const std::size_t count = top.value->size();
        const std::size_t index = top.next;
        if (index > 0) output += is_array ? (index < count ? ",\n" : "\n") : ";\n";
        if (index == count) {
            output.append(top.depth * indent, ' ');
            output += is_array ? ']' : '}';
            open.pop_back();
            continue;
        }
        ++top.next;
        const std::size_t child_depth = top.depth + 1;
        output.append(child_depth * indent, ' ');
        const Value* child;
        if (is_array) {
            child = &top.value->as_array()[index];
        } else {
            const Entry& entry = top.value->as_object()[index];
            if (is_bare_key(entry.first)) {
                output += entry.first;
            } else {
                append_quoted(output, entry.first);
            }
            output += ": ";
            child = &entry.second;
        }
        if (write_flat(output, *child)) continue;
        output += child->kind() == Kind::Array ? "[\n" : "{\n";
        open.push_back({child, child_depth, 0});  // `top` is not used past this point
    }
}

std::string pretty_print(const Value& value, std::size_t indent) {
    std::string output;
    write_value(output, value, indent, 0);
    return output;
}

}  // namespace dral_core
