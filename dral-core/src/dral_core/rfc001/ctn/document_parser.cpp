// Statements, headers and right-hand sides: where the reader decides between a block and an
// inline expression.
#include <utility>

#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"
#include "dral_core/rfc001/ctn/parser.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::ctn {
namespace {

// Right-hand sides that may head a block when a body follows.
bool names_block(std::string_view rhs) {
    for (std::string_view prefix : {"map<", "seq<", "vec<", "tensor<", "mat<", "stream<"})
        if (rhs.starts_with(prefix)) return true;
    return contains(rhs, "::") || is_type_header(rhs);
}

bool starts_tensor(std::string_view h) {
    return h.starts_with("vec<") || h.starts_with("tensor<") || h.starts_with("mat<");
}

}  // namespace

Result<Document> parse_document(std::string_view text, MemoryMeter& meter) {
    DRAL_TRY(meter.charge(text.size()));
    std::vector<LogicalLine> lines;
    std::deque<std::string> spliced;
    DRAL_TRY(read_logical_lines(text, lines, spliced, meter));
    Parser parser(lines, meter);
    return parser.parse_statements();
}

Result<Document> parse_document(std::string_view text) {
    MemoryMeter meter(kMemoryLimit);
    return parse_document(text, meter);
}

std::optional<std::string_view> parse_generic_type_arg(std::string_view header) {
    const std::size_t open = header.find('<');
    if (open == std::string_view::npos) return std::nullopt;
    const std::size_t close = header.rfind('>');
    if (close == std::string_view::npos || close < open) return std::nullopt;
    return trim(header.substr(open + 1, close - open - 1));
}

Result<Document> Parser::parse_statements() {
    Document document;
    // Binding values wait on the stack, so that the bindings are allocated once at the end.
    const std::size_t mark = stack_.size();
    const std::size_t name_mark = stack_.name_count();
    std::size_t index = 0;
    while (index < lines_.size()) {
        const LogicalLine& line = lines_[index];
        const std::string_view t = trim(line.text);
        if (t.front() == '@') {
            DRAL_ASSIGN_OR_RETURN(Annotation annotation, parse_annotation_line(t, 1));
            document.annotations.push_back(std::move(annotation));
            ++index;
        } else if (t.starts_with("use ")) {
            document.uses.emplace_back(trim(t.substr(4)));
            ++index;
        } else if (t.starts_with("let ")) {
            const std::string_view rest = t.substr(4);
            const std::size_t equals = rest.find('=');
            if (equals == std::string_view::npos)
                return fail(separator_error("=", rest, line.line));
            const std::string_view name = trim(rest.substr(0, equals));
            if (!is_identifier(name))
                return fail(line_error(concat("invalid binding name '", name, "'"), line.line));
            stack_.push_name(name);
            index = parse_rhs_or_nested(trim(rest.substr(equals + 1)), index, line.indent, 1);
        } else {
            // A later root value replaces an earlier one.
            index = parse_value_at(index, 1);
            if (index != kFailed) document.root = stack_.pop();
        }
        if (index == kFailed) return fail(inline_.take_error());
    }
    document.bindings = stack_.take_named<Binding>(mark, name_mark);
    return document;
}

std::size_t Parser::parse_value_at(std::size_t index, std::size_t depth) {
    return parse_value_from_header(lines_[index].text, index, lines_[index].indent, depth);
}

std::size_t Parser::parse_value_from_header(std::string_view header, std::size_t index,
                                            std::size_t indent, std::size_t depth) {
    if (depth > kMaxDepth) [[unlikely]]
        return fail_depth(depth);
    const std::string_view h = trim(header);
    const bool nested = nested_after(index, indent);
    if (nested) {
        if (h.starts_with("map<") && !contains(h, '['))
            return parse_map_block(index, indent, depth);
        if (h.starts_with("seq<")) return parse_sequence_block(h, index, indent, depth);
        if (starts_tensor(h)) return parse_tensor_block(h, index, indent, depth);
    }
    // A stream needs no body.
    if (h.starts_with("stream<")) return parse_stream_block(h, index, indent, depth);
    if (nested) {
        if (contains(h, "::") && !contains(h, '('))
            return parse_enum_block(h, index, indent, depth);
        if (is_type_header(h) && contains(lines_[index + 1].text, '='))
            return parse_struct_block(h, index, indent, depth);
    }
    return inline_.read(h, depth) ? index + 1 : kFailed;
}

std::size_t Parser::parse_rhs_or_nested(std::string_view rhs, std::size_t index, std::size_t indent,
                                        std::size_t depth) {
    const bool nested = nested_after(index, indent);
    if (rhs.empty()) {
        if (index + 1 >= lines_.size()) return fail_line("expected value after '='", index);
        if (!nested) return fail_line("expected indented value after '='", index);
        return parse_value_at(index + 1, depth);
    }
    // A stream header stands alone as a stream without annotations, body or not; read inline it
    // could only fail or be misread as a sum.
    if ((nested && names_block(rhs)) || rhs.starts_with("stream<"))
        return parse_value_from_header(rhs, index, indent, depth);
    return inline_.read(rhs, depth) ? index + 1 : kFailed;
}

Result<Annotation> Parser::parse_annotation_line(std::string_view text, std::size_t depth) {
    if (!charge_node()) return fail(inline_.take_error());
    const std::size_t name_start = text.find_first_not_of('@');
    const std::string_view rest =
        name_start == std::string_view::npos ? std::string_view{} : trim(text.substr(name_start));
    if (rest.empty()) return fail(data_error("annotation name missing"));
    const std::size_t name_end = find_space(rest);
    const std::string_view name = rest.substr(0, name_end);
    if (!is_identifier(name)) return fail(data_error("invalid annotation name '", name, "'"));
    Annotation annotation{std::string(name), std::nullopt};
    const std::string_view value_text = trim(rest.substr(name_end));
    if (value_text.empty()) return annotation;
    DRAL_ASSIGN_OR_RETURN(Value value, inline_.parse(value_text, depth));
    if (!value.is_scalar()) return fail(data_error("annotation values must be scalar"));
    annotation.value = value.scalar();
    return annotation;
}

bool Parser::charge_node() { return inline_.charge(kNodeCost); }

std::size_t Parser::failed(DralError error) {
    inline_.failed(std::move(error));
    return kFailed;
}

std::size_t Parser::fail_line(std::string_view message, std::size_t index) {
    return failed(line_error(std::string(message), lines_[index].line));
}

std::size_t Parser::fail_name(std::string_view prefix, std::string_view name, std::size_t index) {
    return failed(line_error(concat(prefix, name, "'"), lines_[index].line));
}

std::size_t Parser::fail_separator(std::string_view separator, std::size_t index) {
    return failed(separator_error(separator, lines_[index].text, lines_[index].line));
}

std::size_t Parser::fail_depth(std::size_t depth) {
    return failed(DralError::depth_exceeded(depth, kMaxDepth));
}

}  // namespace dral_core::rfc001::ctn
