// Builds values from the text notation through a sink (value/sink.hpp), so that one reader serves
// both Value trees (`parse` in text.hpp) and direct builders (the Python binding's): the text
// decides every result and every error, whatever the sink builds. A container's count is known
// only at its closing bracket, so containers are opened with UnknownCount; the text is valid
// UTF-8 throughout, so no sink is asked to check it.
#pragma once

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/text/text_parser.hpp"
#include "dral_core/value/sink.hpp"

namespace dral_core {
namespace text_tree {

// Turns each kind of number the reader finds into the sink's node.
template <class Sink>
struct NumberNode {
    Sink& sink;
    typename Sink::Node& node;
    [[gnu::always_inline]] void operator()(std::uint64_t value) { node = sink.uint(value); }
    [[gnu::always_inline]] void operator()(std::int64_t value) { node = sink.integer(value); }
    [[gnu::always_inline]] void operator()(double value) { node = sink.floating(value); }
};

template <class Sink>
[[gnu::noinline]] Result<typename Sink::Node> unusual_number(Parser& parser, Sink& sink) {
    // Read in place: a copy would load the kind and the integer as one piece right after they
    // were stored apart, and wait for both stores to land.
    const auto parsed = parser.parse_number();
    if (!parsed) return fail(parsed.error());
    typename Sink::Node node;
    NumberNode<Sink> to_node{sink, node};
    switch (parsed->kind) {
        case TextNumber::Kind::UInt:
            to_node(parsed->uint);
            break;
        case TextNumber::Kind::Int:
            to_node(parsed->integer);
            break;
        case TextNumber::Kind::Float:
            to_node(parsed->floating);
            break;
    }
    return node;
}

template <class Sink>
Result<typename Sink::Node> keyword(Parser& parser, std::size_t length, typename Sink::Node node) {
    parser.finish_keyword(length);
    return node;
}

// A number of a usual form, a string without escape, null, true or false: they fill the largest
// documents, so they are read inline. False for any other text, which is left unread for scalar.
template <class Sink>
[[gnu::always_inline]] inline bool usual_scalar(Parser& parser, Sink& sink, char next,
                                                typename Sink::Node& node) {
    bool ascii;
    if ((next >= '0' && next <= '9') || next == '-' || next == '+') {
        return parser.read_usual_number(NumberNode<Sink>{sink, node});
    } else if (std::string_view text; next == '"' && parser.read_plain_string(text, ascii)) {
        parser.skip_type_annotation();
        node = sink.str(text, ascii);
    } else if (next == 'n' && parser.starts_with("null")) {
        parser.finish_keyword(4);
        node = sink.null();
    } else if (next == 't' && parser.starts_with("true")) {
        parser.finish_keyword(4);
        node = sink.boolean(true);
    } else if (next == 'f' && parser.starts_with("false")) {
        parser.finish_keyword(5);
        node = sink.boolean(false);
    } else {
        return false;
    }
    return true;
}

// Adds `node` to the array of `frame`, then the scalar items that follow it in the writer's
// layout, one after another, until the layout or the kind of item changes; the reader goes on
// from there. Its own function, so that this loop has the registers to itself. False when the
// sink refused an item or failed to build one, with the node to return in `node`.
template <class Sink>
[[gnu::noinline]] bool add_items(Parser& parser, Sink& sink, FrameOf<Sink, UnknownCount>& frame,
                                 std::uint32_t& indent, typename Sink::Node& node) {
    for (;;) {
        if (!sink.add_item(frame, std::move(node))) {
            node = typename Sink::Node();
            return false;
        }
        if (!parser.skip_separator_and_line_break(',', indent)) {
            parser.skip_whitespace_and_comments();
            if (!parser.consume_if(',')) parser.consume_if(';');
            return true;
        }
        if (!usual_scalar(parser, sink, parser.next_byte(), node)) return true;
        if (sink.failed(node)) return false;
    }
}

// Any value that `value` does not read inline: a number of an unusual form, a string with
// escapes, a bytes literal, NaN, inf, -inf, or a character no value starts with.
template <class Sink>
Result<typename Sink::Node> scalar(Parser& parser, Sink& sink) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (parser.at_end()) return fail(parser.error_here("unexpected end of input"));
    const char next = parser.next_byte();
    if (next == '+' || (next >= '0' && next <= '9')) return unusual_number(parser, sink);
    switch (next) {
        case '"': {
            // `value` found no plain body here.
            DRAL_ASSIGN_OR_RETURN(const std::string_view text, parser.parse_escaped_string());
            parser.skip_type_annotation();
            return sink.str(text, parser.is_ascii_text(text));
        }
        case 'N':
            if (parser.starts_with("NaN"))
                return keyword<Sink>(parser, 3,
                                     sink.floating(std::numeric_limits<double>::quiet_NaN()));
            break;
        case 'i':
            if (parser.starts_with("inf")) return keyword<Sink>(parser, 3, sink.floating(kInf));
            break;
        case '-':
            if (parser.starts_with("-inf")) return keyword<Sink>(parser, 4, sink.floating(-kInf));
            return unusual_number(parser, sink);
        case 'b':
            if (parser.starts_with("b64#")) {
                DRAL_ASSIGN_OR_RETURN(const Bytes bytes, parser.parse_bytes());
                return sink.bytes(bytes);
            }
            break;
        default:
            break;
    }
    return fail(parser.unexpected_character());
}

// One value, after any whitespace and comments. Containers nest at most kMaxNestingDepth deep;
// deeper input fails at the opening bracket that goes too deep. Nesting lives on the heap, so
// deep input cannot exhaust the native stack.
template <UnknownCountSink Sink>
Result<typename Sink::Node> value(Parser& parser, Sink& sink) {
    using Node = typename Sink::Node;
    // A container whose closing bracket has not been read yet.
    struct Open {
        FrameOf<Sink, UnknownCount> frame;
        typename Sink::Key key;  // of the object entry whose value is being read
        bool is_object;
    };
    SmallStack<Open, 16> open;
    // The indentation of the items' lines at each depth, as last read: the writer indents all
    // items of a depth alike. The deepest slot serves every depth past it.
    std::array<std::uint32_t, 32> indents{};
    Node node;
    bool blanks_skipped = false;  // the blanks before the value to read are behind the reader
    for (;;) {
        // A value must start here.
        if (!blanks_skipped) parser.skip_whitespace_and_comments();
        blanks_skipped = false;
        const char next = parser.next_byte();
        bool have_value = false;
        if (next == '[' || next == '{') {
            if (open.size() >= kMaxNestingDepth)
                return fail(parser.error_here("nesting too deep (maximum " +
                                              std::to_string(kMaxNestingDepth) + " levels)"));
            parser.consume_bytes(1);
            const bool is_object = next == '{';
            auto frame =
                is_object ? sink.begin_object(UnknownCount{}) : sink.begin_array(UnknownCount{});
            if (sink.failed(frame)) return Node();
            open.push_back(Open{std::move(frame), {}, is_object});
        } else {
            if (!usual_scalar(parser, sink, next, node)) {
                DRAL_ASSIGN_OR_RETURN(node, scalar(parser, sink));
            }
            if (open.empty() || sink.failed(node)) return node;
            have_value = true;
        }

        // Hand finished values to their container and close containers until one wants a value.
        for (;;) {
            Open& top = open.back();
            if (have_value) {
                std::uint32_t& indent = indents[std::min(open.size(), indents.size()) - 1];
                if (top.is_object) {
                    if (!sink.add_entry(top.frame, std::move(top.key), std::move(node)))
                        return Node();
                    if (!parser.skip_separator_and_line_break(';', indent))
                        DRAL_TRY(parser.expect(';'));
                } else if (!add_items(parser, sink, top.frame, indent, node)) {
                    return node;
                }
            }
            parser.skip_whitespace_and_comments();
            if (!parser.consume_if(top.is_object ? '}' : ']')) {
                if (top.is_object) {
                    std::string_view key;
                    bool ascii = true;  // a usual key is a bare ASCII name
                    if (!parser.read_usual_key(key)) {
                        DRAL_ASSIGN_OR_RETURN(key, parser.parse_key());
                        ascii = parser.is_ascii_text(key);
                    }
                    top.key = sink.key(key, ascii);
                    if (sink.failed(top.key)) return Node();
                } else {
                    blanks_skipped = true;
                }
                break;
            }
            node = top.is_object ? sink.end_object(top.frame) : sink.end_array(top.frame);
            open.pop_back();
            if (open.empty() || sink.failed(node)) return node;
            have_value = true;
        }
    }
}

}  // namespace text_tree

// Reads one whole document (a value, optionally one ';', then nothing but blanks and comments) from
// `text`, which must be valid UTF-8, all ASCII when `ascii`. Fails with a TextParse error that
// carries the 1-based line and column, in characters; a node the sink refused is returned as it
// is, without reading further.
template <UnknownCountSink Sink>
Result<typename Sink::Node> parse_valid_document(std::string_view text, bool ascii, Sink& sink) {
    Parser parser(text, ascii);
    DRAL_ASSIGN_OR_RETURN(auto node, text_tree::value(parser, sink));
    if (sink.failed(node)) return node;
    DRAL_TRY(parser.finish_document());
    return node;
}

// The same for text of unknown encoding, which fails as a whole unless it is valid UTF-8.
template <UnknownCountSink Sink>
Result<typename Sink::Node> parse_document(std::string_view text, Sink& sink) {
    const Utf8Class utf8 =
        classify_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (utf8 == Utf8Class::Invalid) return fail(invalid_utf8_error(text));
    return parse_valid_document(text, utf8 == Utf8Class::Ascii, sink);
}

}  // namespace dral_core
