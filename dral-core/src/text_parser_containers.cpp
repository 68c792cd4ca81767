// Arrays, objects and their nesting, read with an explicit stack instead of recursion.
#include <string>
#include <utility>
#include <vector>

#include "nesting.hpp"
#include "text_parser.hpp"
#include "unicode.hpp"

namespace dral_core {
namespace {

// A container whose closing bracket has not been read yet.
struct OpenContainer {
    bool is_object;
    Array items;
    Object entries;
    std::string key;  // of the object entry whose value is being read
};

}  // namespace

// Nesting lives on the heap, so deep input cannot exhaust the native stack; the depth bound
// still applies so that every producer of values agrees on how deep a value can be.
Result<Value> Parser::parse_value() {
    std::vector<OpenContainer> open;
    Value value;
    for (;;) {
        // A value must start here.
        skip_whitespace_and_comments();
        const char next = at_end() ? '\0' : input_[pos_];
        bool have_value = false;
        if (next == '[' || next == '{') {
            if (open.size() >= kMaxNestingDepth)
                return fail(error_here("nesting too deep (maximum " +
                                       std::to_string(kMaxNestingDepth) + " levels)"));
            consume_bytes(1);
            open.push_back(OpenContainer{next == '{', {}, {}, {}});
        } else {
            DRAL_ASSIGN_OR_RETURN(value, parse_scalar());
            if (open.empty()) return value;
            have_value = true;
        }

        // Hand finished values to their container and close containers until one wants a value.
        for (;;) {
            OpenContainer& top = open.back();
            if (have_value) {
                if (top.is_object) {
                    top.entries.emplace_back(std::move(top.key), std::move(value));
                    DRAL_TRY(expect(';'));
                } else {
                    top.items.push_back(std::move(value));
                    skip_whitespace_and_comments();
                    if (!consume_if(',')) consume_if(';');
                }
            }
            skip_whitespace_and_comments();
            if (!consume_if(top.is_object ? '}' : ']')) {
                if (top.is_object) {
                    DRAL_ASSIGN_OR_RETURN(top.key, parse_key());
                }
                break;
            }
            value = top.is_object ? Value::object(std::move(top.entries))
                                  : Value::array(std::move(top.items));
            open.pop_back();
            if (open.empty()) return value;
            have_value = true;
        }
    }
}

// Reads an object key, quoted or bare, and the ':' after it.
Result<std::string> Parser::parse_key() {
    std::string key;
    if (!at_end() && input_[pos_] == '"') {
        DRAL_ASSIGN_OR_RETURN(key, parse_quoted_string());
    } else {
        auto first = peek();
        if (!first || (*first != '_' && !unicode::is_alphabetic(*first)))
            return fail(error_here("expected identifier"));
        const std::size_t start = pos_;
        skip_name_chars();
        key.assign(input_.substr(start, pos_ - start));
    }
    DRAL_TRY(expect(':'));
    return key;
}

}  // namespace dral_core
