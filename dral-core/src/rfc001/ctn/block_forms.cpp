// Struct, enum, map, sequence and stream blocks. A body is the run of lines deeper than the
// header; every entry of a struct, enum, map or sequence starts at the indent of the first one,
// and nested entries consume their own deeper lines.
#include <utility>

#include "rfc001/ctn/errors.hpp"
#include "rfc001/ctn/literals.hpp"
#include "rfc001/ctn/parser.hpp"

namespace dral_core::rfc001::ctn {

Status Parser::check_entry_indent(std::size_t i, std::size_t first, std::string_view detail) const {
    if (lines_[i].indent != lines_[first].indent) [[unlikely]]
        return fail(line_error(std::string(detail), lines_[i].line));
    return {};
}

Result<std::size_t> Parser::parse_fields(std::size_t index, std::size_t indent, std::size_t depth,
                                         std::vector<Field>& fields, std::string_view name_error,
                                         std::string_view indent_error) {
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        DRAL_TRY(check_entry_indent(i, index + 1, indent_error));
        const LogicalLine& entry = lines_[i];
        const std::size_t equals = entry.text.find('=');
        if (equals == std::string_view::npos)
            return fail(separator_error("=", entry.text, entry.line));
        const std::string_view name = trim(entry.text.substr(0, equals));
        if (!is_identifier(name))
            return fail(line_error(concat(name_error, name, "'"), entry.line));
        DRAL_ASSIGN_OR_RETURN(
            Parsed parsed,
            parse_rhs_or_nested(trim(entry.text.substr(equals + 1)), i, entry.indent, depth + 1));
        fields.push_back(Field{std::string(name), std::move(parsed.value)});
        i = parsed.next;
    }
    return i;
}

Result<Parsed> Parser::parse_struct_block(std::string_view h, std::size_t index, std::size_t indent,
                                          std::size_t depth) {
    Product product;
    if (h != "struct") product.type_name.emplace(h);
    DRAL_ASSIGN_OR_RETURN(const std::size_t next,
                          parse_fields(index, indent, depth, product.fields, "invalid field name '",
                                       "inconsistent indentation in struct fields"));
    return Parsed{Value(std::move(product)), next};
}

Result<Parsed> Parser::parse_enum_block(std::string_view h, std::size_t index, std::size_t indent,
                                        std::size_t depth) {
    const std::size_t separator = h.find("::");
    Sum sum;
    if (const std::string_view type_name = trim(h.substr(0, separator)); !type_name.empty())
        sum.type_name.emplace(type_name);
    sum.variant = trim(h.substr(separator + 2));
    if (sum.variant.empty())
        return fail(line_error("missing enum variant name", lines_[index].line));
    sum.payload.kind = SumPayloadKind::Struct;
    DRAL_ASSIGN_OR_RETURN(
        const std::size_t next,
        parse_fields(index, indent, depth, sum.payload.fields, "invalid payload field '",
                     "inconsistent indentation in enum payload"));
    return Parsed{Value(std::move(sum)), next};
}

Result<Parsed> Parser::parse_map_block(std::size_t index, std::size_t indent, std::size_t depth) {
    Association association;
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        DRAL_TRY(check_entry_indent(i, index + 1, "inconsistent indentation in map"));
        const LogicalLine& entry = lines_[i];
        const std::size_t arrow = entry.text.find("=>");
        if (arrow == std::string_view::npos)
            return fail(separator_error("=>", entry.text, entry.line));
        DRAL_ASSIGN_OR_RETURN(Value key,
                              inline_.parse(trim(entry.text.substr(0, arrow)), depth + 1));
        DRAL_ASSIGN_OR_RETURN(Parsed parsed, parse_rhs_or_nested(trim(entry.text.substr(arrow + 2)),
                                                                 i, entry.indent, depth + 1));
        association.pairs.emplace_back(std::move(key), std::move(parsed.value));
        i = parsed.next;
    }
    return Parsed{Value(std::move(association)), i};
}

Result<Parsed> Parser::parse_sequence_block(std::string_view h, std::size_t index,
                                            std::size_t indent, std::size_t depth) {
    Sequence sequence;
    if (auto elem_type = parse_generic_type_arg(h)) sequence.elem_type.emplace(*elem_type);
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        DRAL_TRY(check_entry_indent(i, index + 1, "inconsistent indentation in sequence"));
        DRAL_ASSIGN_OR_RETURN(Parsed parsed, parse_value_at(i, depth + 1));
        sequence.items.push_back(std::move(parsed.value));
        i = parsed.next;
    }
    return Parsed{Value(std::move(sequence)), i};
}

Result<Parsed> Parser::parse_stream_block(std::string_view h, std::size_t index, std::size_t indent,
                                          std::size_t depth) {
    Stream stream;
    stream.item_type = parse_generic_type_arg(h).value_or("any");
    std::size_t i = index + 1;
    for (; i < lines_.size() && lines_[i].indent > indent; ++i) {
        const std::string_view t = trim(lines_[i].text);
        if (t.front() != '@')
            return fail(
                line_error("stream body currently supports annotations only", lines_[i].line));
        DRAL_ASSIGN_OR_RETURN(Annotation annotation, parse_annotation_line(t, depth + 1));
        stream.annotations.push_back(std::move(annotation));
    }
    return Parsed{Value(std::move(stream)), i};
}

}  // namespace dral_core::rfc001::ctn
