// Struct, enum, map, sequence and stream blocks. A body is the run of lines deeper than the
// header; every entry of a struct, enum, map or sequence starts at the indent of the first one,
// and nested entries consume their own deeper lines.
#include <utility>

#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"
#include "dral_core/rfc001/ctn/parser.hpp"
#include "dral_core/rfc001/ctn/top_level_pieces.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_core/rfc001/names.hpp"

namespace dral_core::rfc001::ctn {

bool Parser::name_ok(NameKind kind, std::string_view name) {
    Status status = check_name(kind, name);
    if (status) [[likely]]
        return true;
    failed(std::move(status.error()));
    return false;
}

bool Parser::entry_indent_ok(std::size_t i, std::size_t index, std::string_view detail) {
    if (lines_[i].indent == lines_[index + 1].indent) [[likely]]
        return true;
    fail_line(detail, i);
    return false;
}

std::size_t Parser::parse_fields(std::size_t index, std::size_t indent, std::size_t depth,
                                 std::string_view name_error, std::string_view indent_error) {
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        if (!entry_indent_ok(i, index, indent_error)) return kFailed;
        const std::string_view text = lines_[i].text;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) return fail_separator("=", i);
        const std::string_view name = trim(text.substr(0, equals));
        if (!is_identifier(name)) return fail_name(name_error, name, i);
        stack_.push_name(name);
        i = parse_rhs_or_nested(trim(text.substr(equals + 1)), i, lines_[i].indent, depth + 1);
        if (i == kFailed) return kFailed;
    }
    return i;
}

std::size_t Parser::parse_struct_block(std::string_view h, std::size_t index, std::size_t indent,
                                       std::size_t depth) {
    if (!charge_node() || (h != "struct" && !name_ok(NameKind::TypeName, h))) return kFailed;
    const std::size_t mark = stack_.size();
    const std::size_t name_mark = stack_.name_count();
    const std::size_t next = parse_fields(index, indent, depth, "invalid field name '",
                                          "inconsistent indentation in struct fields");
    if (next != kFailed) push_product(h, mark, name_mark);
    return next;
}

std::size_t Parser::parse_enum_block(std::string_view h, std::size_t index, std::size_t indent,
                                     std::size_t depth) {
    const std::size_t separator = h.find("::");
    const std::string_view type_name = trim(h.substr(0, separator));
    const std::string_view variant = trim(h.substr(separator + 2));
    if (variant.empty()) return fail_line("missing enum variant name", index);
    if (!charge_node() || (!type_name.empty() && !name_ok(NameKind::SumTypeName, type_name)) ||
        !name_ok(NameKind::Variant, variant))
        return kFailed;
    const std::size_t mark = stack_.size();
    const std::size_t name_mark = stack_.name_count();
    const std::size_t next = parse_fields(index, indent, depth, "invalid payload field '",
                                          "inconsistent indentation in enum payload");
    if (next != kFailed) push_enum(h, mark, name_mark);
    return next;
}

std::size_t Parser::parse_map_block(std::size_t index, std::size_t indent, std::size_t depth) {
    if (!charge_node()) return kFailed;
    const std::size_t mark = stack_.size();
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        if (!entry_indent_ok(i, index, "inconsistent indentation in map")) return kFailed;
        const std::string_view text = lines_[i].text;
        const std::size_t arrow = find_entry_arrow(text);
        if (arrow == std::string_view::npos) return fail_separator("=>", i);
        if (!inline_.read(text.substr(0, arrow), depth + 1)) return kFailed;
        i = parse_rhs_or_nested(trim(text.substr(arrow + 2)), i, lines_[i].indent, depth + 1);
        if (i == kFailed) return kFailed;
    }
    push_association(mark);
    return i;
}

std::size_t Parser::parse_sequence_block(std::string_view h, std::size_t index, std::size_t indent,
                                         std::size_t depth) {
    if (!charge_node()) return kFailed;
    if (auto elem_type = parse_generic_type_arg(h);
        elem_type && !name_ok(NameKind::ElementType, *elem_type))
        return kFailed;
    const std::size_t mark = stack_.size();
    std::size_t i = index + 1;
    while (i < lines_.size() && lines_[i].indent > indent) {
        if (!entry_indent_ok(i, index, "inconsistent indentation in sequence")) return kFailed;
        i = parse_value_at(i, depth + 1);
        if (i == kFailed) return kFailed;
    }
    push_sequence(h, mark);
    return i;
}

std::size_t Parser::parse_stream_block(std::string_view h, std::size_t index, std::size_t indent,
                                       std::size_t depth) {
    if (!charge_node()) return kFailed;
    Stream stream;
    stream.item_type = parse_generic_type_arg(h).value_or("any");
    if (!name_ok(NameKind::ItemType, stream.item_type)) return kFailed;
    std::size_t i = index + 1;
    for (; i < lines_.size() && lines_[i].indent > indent; ++i) {
        const std::string_view t = trim(lines_[i].text);
        if (t.front() != '@')
            return fail_line("stream body currently supports annotations only", i);
        auto annotation = parse_annotation_line(t, depth);
        if (!annotation) return failed(std::move(annotation.error()));
        stream.annotations.push_back(std::move(*annotation));
    }
    stack_.push(std::move(stream));
    return i;
}

void Parser::push_product(std::string_view h, std::size_t mark, std::size_t name_mark) {
    std::vector<Field> fields = stack_.take_named(mark, name_mark);
    Product& product = stack_.push(Product{}).product();
    if (h != "struct") product.type_name.emplace(h);
    product.fields = std::move(fields);
}

void Parser::push_enum(std::string_view h, std::size_t mark, std::size_t name_mark) {
    const std::size_t separator = h.find("::");
    std::vector<Field> fields = stack_.take_named(mark, name_mark);
    Sum& sum = stack_.push(Sum{}).sum();
    if (const std::string_view type_name = trim(h.substr(0, separator)); !type_name.empty())
        sum.type_name.emplace(type_name);
    sum.variant = trim(h.substr(separator + 2));
    sum.payload = {SumPayloadKind::Struct, {}, std::move(fields)};
}

void Parser::push_association(std::size_t mark) {
    stack_.push(Association{stack_.take_pairs(mark)});
}

void Parser::push_sequence(std::string_view h, std::size_t mark) {
    Sequence sequence;
    if (auto elem_type = parse_generic_type_arg(h)) sequence.elem_type.emplace(*elem_type);
    sequence.items = stack_.take_values(mark);
    stack_.push(std::move(sequence));
}

}  // namespace dral_core::rfc001::ctn
