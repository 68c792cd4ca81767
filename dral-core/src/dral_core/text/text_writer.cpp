// The indented text notation of a Value; everything it writes, `parse` reads back.
#include <string>
#include <vector>

#include "dral_core/encoding/utf8.hpp"
#include "dral_core/text/text.hpp"
#include "dral_core/text/text_output.hpp"

namespace dral_core {
namespace {

bool is_ascii_text(std::string_view text) {
    return is_ascii(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
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

// Writes `value` if it needs no further lines, and reports whether it did.
bool write_flat(TextOutput& out, const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            out.null();
            return true;
        case Kind::Bool:
            out.boolean(value.as_bool());
            return true;
        case Kind::UInt:
            out.uint(value.as_uint());
            return true;
        case Kind::Int:
            out.integer(value.as_int());
            return true;
        case Kind::Float:
            out.floating(value.as_float());
            return true;
        case Kind::Str:
            out.str(value.as_str());
            return true;
        case Kind::Bytes:
            out.bytes(value.as_bytes());
            return true;
        case Kind::Array: {
            const Array& items = value.as_array();
            if (items.empty()) {
                out.empty_array();
                return true;
            }
            if (items.size() > kMaxInlineItems) return false;
            for (const Value& item : items)
                if (!is_inline_scalar(item)) return false;
            out.inline_open();
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i > 0) out.inline_separator();
                write_flat(out, items[i]);
            }
            out.inline_close();
            return true;
        }
        case Kind::Object:
            if (!value.as_object().empty()) return false;
            out.empty_object();
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
void write_text(TextOutput& out, const Value& value) {
    if (write_flat(out, value)) return;
    std::vector<OpenContainer> open;
    out.open(value.kind() == Kind::Array);
    open.push_back({&value, 0, 0});
    while (!open.empty()) {
        OpenContainer& top = open.back();
        const bool is_array = top.value->kind() == Kind::Array;
        const std::size_t count = top.value->size();
        const std::size_t index = top.next;
        if (index == count) {
            out.close(is_array, top.depth);
            open.pop_back();
            if (!open.empty()) {
                if (open.back().value->kind() == Kind::Array)
                    out.end_item(open.back().next == open.back().value->size());
                else
                    out.end_entry();
            }
            continue;
        }
        ++top.next;
        const std::size_t child_depth = top.depth + 1;
        const Value* child;
        if (is_array) {
            out.pad(child_depth);
            child = &top.value->as_array()[index];
        } else {
            const Entry& entry = top.value->as_object()[index];
            out.key(child_depth, entry.first, is_ascii_text(entry.first));
            child = &entry.second;
        }
        if (write_flat(out, *child)) {
            if (is_array)
                out.end_item(top.next == count);
            else
                out.end_entry();
            continue;
        }
        out.open(child->kind() == Kind::Array);
        open.push_back({child, child_depth, 0});  // `top` is not used past this point
    }
}

std::string pretty_print(const Value& value, std::size_t indent) {
    TextOutput out(indent);
    write_text(out, value);
    return std::string(out.text());
}

}  // namespace dral_core
