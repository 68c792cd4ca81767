// The dispatch of inline expressions. The forms are tried in a fixed order and the first whose
// test matches decides; the switch on the first character only skips tests that cannot match.
#include "dral_core/rfc001/ctn/inline_expr.hpp"

#include <utility>

#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::ctn {
namespace {

// Whether `t` is an optional sign and 1 to 18 digits: a VI64 however it is read.
bool is_short_decimal(std::string_view t) {
    const std::size_t sign = t[0] == '-' || t[0] == '+';
    if (t.size() == sign || t.size() - sign > 18) return false;
    for (char c : t.substr(sign))
        if (!is_ascii_digit(c)) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry points and errors

Status InlineReader::parse_inline_expr(std::string_view text, std::size_t depth) {
    if (!read(text, depth)) return fail(take_error());
    return {};
}

Result<Value> InlineReader::parse(std::string_view text, std::size_t depth) {
    const std::size_t mark = stack_.size();
    const std::size_t name_mark = stack_.name_count();
    if (!read(text, depth)) {
        stack_.truncate(mark, name_mark);
        return fail(take_error());
    }
    return stack_.pop();
}

Result<Value> parse_inline_expr(std::string_view text, std::size_t depth) {
    MemoryMeter meter(kMemoryLimit);
    InlineReader reader(meter);
    return reader.parse(text, depth);
}

bool InlineReader::failed(DralError error) {
    error_.emplace(std::move(error));
    return false;
}

DralError InlineReader::take_error() {
    DralError error = std::move(*error_);
    error_.reset();
    return error;
}

bool InlineReader::fail_data(std::string_view detail) {
    return failed(data_error(std::string(detail)));
}

bool InlineReader::fail_depth(std::size_t depth) {
    return failed(DralError::depth_exceeded(depth, kMaxDepth));
}

bool InlineReader::fail_separator(std::string_view separator, std::string_view text) {
    return failed(separator_error(separator, text));
}

bool InlineReader::fail_memory() { return failed(meter_.refusal()); }

// ---------------------------------------------------------------------------------------------
// Leaf forms

bool InlineReader::read_string(std::string_view t) {
    auto text = t.starts_with(R"(""")") ? parse_triple_quoted(t) : parse_quoted_string(t);
    if (!text) return failed(std::move(text.error()));
    stack_.push(Scalar::str(std::move(*text)));
    return true;
}

bool InlineReader::read_binding_reference(std::string_view t) {
    const std::string_view name = trim(t.substr(1));
    if (!is_identifier(name)) return failed(data_error("invalid reference name '", name, "'"));
    stack_.push(Reference::to_binding(std::string(name)));
    return true;
}

bool InlineReader::read_symbol(std::string_view t) {
    auto name = parse_symbol(t);
    if (!name) return failed(std::move(name.error()));
    stack_.push(Scalar::sym(std::move(*name)));
    return true;
}

bool InlineReader::read_bytes(std::string_view t, BytesForm form) {
    auto bytes = form == BytesForm::Spaced   ? parse_hex_spaced(t.substr(1, t.size() - 2))
                 : form == BytesForm::Base64 ? parse_base64_literal(t)
                                             : parse_hex_literal(t);
    if (!bytes) return failed(std::move(bytes.error()));
    stack_.push(Scalar::bytes(std::move(*bytes)));
    return true;
}

bool InlineReader::read_keyword(std::string_view t) {
    if (t == "true") {
        stack_.push(Scalar::boolean(true));
    } else if (t == "false") {
        stack_.push(Scalar::boolean(false));
    } else if (t == "null") {
        stack_.push(Scalar::null());
    } else if (t == "unit") {
        stack_.push(Scalar::unit());
    } else {
        return false;
    }
    return true;
}

bool InlineReader::push_symbol(std::string_view name) {
    stack_.push(Scalar::sym(std::string(name)));
    return true;
}

bool InlineReader::push_short_decimal(std::string_view t) {
    stack_.push(parse_short_decimal(t));
    return true;
}

bool InlineReader::push_by_id() {
    stack_.push(Reference::by_id(stack_.pop()));
    return true;
}

bool InlineReader::push_sequence(std::size_t mark) {
    stack_.push(Sequence{std::nullopt, stack_.take_values(mark)});
    return true;
}

bool InlineReader::push_association(std::size_t mark) {
    stack_.push(Association{stack_.take_pairs(mark)});
    return true;
}

int InlineReader::read_tagged(std::string_view t) {
    auto tagged = parse_prefixed_quoted(t);
    if (!tagged) {
        failed(std::move(tagged.error()));
        return -1;
    }
    if (!*tagged) return 0;
    stack_.push(Scalar::tagged(std::move((*tagged)->tag), std::move((*tagged)->value)));
    return 1;
}

// The last forms: a number, a bare name, or nothing that can be read.
bool InlineReader::read_number_or_name(std::string_view t) {
    auto number = parse_numeric_literal(t);
    if (!number) return failed(std::move(number.error()));
    if (*number) {
        stack_.push(std::move(**number));
    } else if (is_identifier_path(t)) {
        stack_.push(Scalar::sym(std::string(t)));
    } else {
        return failed(data_error("unable to parse inline expression '", t, "'"));
    }
    return true;
}

bool InlineReader::name_ok(NameKind kind, std::string_view name) {
    Status status = check_name(kind, name);
    return status ? true : failed(std::move(status.error()));
}

int InlineReader::read_sum_header(std::string_view t, std::size_t separator,
                                  std::string_view& payload) {
    const std::string_view type_name = trim(t.substr(0, separator));
    const std::string_view rest = trim(t.substr(separator + 2));
    if (rest.empty()) {
        fail_data("missing enum variant");
        return -1;
    }
    if (!type_name.empty() && !name_ok(NameKind::SumTypeName, type_name)) return -1;
    stack_.push_name(type_name);
    const std::size_t open = rest.find('(');
    if (open == std::string_view::npos) {
        if (!name_ok(NameKind::Variant, rest)) return -1;
        stack_.push_name(rest);
        push_sum(stack_.size(), stack_.name_count() - 2, SumPayloadKind::Unit);
        return 0;
    }
    if (rest.back() != ')') {
        fail_data("unterminated enum payload");
        return -1;
    }
    const std::string_view variant = trim(rest.substr(0, open));
    if (!name_ok(NameKind::PayloadVariant, variant)) return -1;
    stack_.push_name(variant);
    payload = rest.substr(open + 1, rest.size() - open - 2);
    return 1;
}

bool InlineReader::push_sum(std::size_t mark, std::size_t name_mark, SumPayloadKind kind) {
    // The type name and the variant lie on the name stack under the field names.
    const std::string_view type_name = stack_.name(name_mark);
    const std::string_view variant = stack_.name(name_mark + 1);
    SumPayload payload{kind, {}, {}};
    if (kind == SumPayloadKind::Tuple) payload.items = stack_.take_values(mark);
    if (kind == SumPayloadKind::Struct) payload.fields = stack_.take_named(mark, name_mark + 2);
    stack_.truncate(mark, name_mark);
    Sum& sum = stack_.push(Sum{}).sum();
    if (!type_name.empty()) sum.type_name.emplace(type_name);
    sum.variant = variant;
    sum.payload = std::move(payload);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Dispatch

bool InlineReader::read(std::string_view text, std::size_t depth) {
    if (depth > kMaxDepth) [[unlikely]]
        return fail_depth(depth);
    if (!charge(kNodeCost)) return false;
    const std::string_view t = trim(text);
    if (t.empty()) return fail_data("empty inline expression");
    const char last = t.back();
    switch (t.front()) {
        case '"':
            return read_string(t);
        case '&':
            return read_binding_reference(t);
        case '\'':
            return read_symbol(t);
        case '<':
            if (last == '>') return read_bytes(t, BytesForm::Spaced);
            break;
        case '(':
            if (last == ')') return parse_parenthesised_list(t, depth);
            break;
        case '[':
            if (last == ']') return parse_inline_sequence(t, depth);
            break;
        default:
            if (is_identifier_start(t.front())) return read_word(t, depth);
    }
    return read_other(t, depth);
}

bool InlineReader::read_word(std::string_view t, std::size_t depth) {
    if (t.size() <= 5 && read_keyword(t)) return true;
    if (t.starts_with("ref ")) return parse_by_id_reference(t, depth);
    if (t.starts_with("b64\"")) return read_bytes(t, BytesForm::Base64);
    if (t.starts_with("b\"")) return read_bytes(t, BytesForm::Compact);
    if (t.back() == '"')
        if (const int tagged = read_tagged(t); tagged != 0) return tagged > 0;
    if (t.starts_with("map<") && t.back() == ']' && contains(t, '['))
        return parse_inline_map(t, depth);
    // A plain identifier is a symbol, unless it is one of the special numbers.
    if (is_identifier(t) && !t.starts_with("NaN") && !t.starts_with("Inf")) return push_symbol(t);
    return read_other(t, depth);
}

bool InlineReader::read_other(std::string_view t, std::size_t depth) {
    if (is_short_decimal(t)) return push_short_decimal(t);
    if (const std::size_t separator = t.find("::"); separator != std::string_view::npos)
        return parse_inline_sum(t, separator, depth);
    return read_number_or_name(t);
}

bool InlineReader::parse_by_id_reference(std::string_view t, std::size_t depth) {
    return read(t.substr(4), depth + 1) && push_by_id();
}

// ---------------------------------------------------------------------------------------------
// Sequences, maps and sums

bool InlineReader::parse_inline_sequence(std::string_view t, std::size_t depth) {
    const std::size_t mark = stack_.size();
    TopLevelPieces pieces(t.substr(1, t.size() - 2));
    std::string_view piece;
    while (pieces.next(piece))
        if (!piece.empty() && !read(piece, depth + 1)) return false;
    return push_sequence(mark);
}

bool InlineReader::parse_parenthesised_list(std::string_view t, std::size_t depth) {
    const std::string_view inside = t.substr(1, t.size() - 2);
    const std::size_t mark = stack_.size();
    // Unlike brackets, every piece counts: an empty one fails.
    if (!trim(inside).empty()) {
        TopLevelPieces pieces(inside);
        std::string_view piece;
        while (pieces.next(piece))
            if (!read(piece, depth + 1)) return false;
    }
    return push_sequence(mark);
}

bool InlineReader::parse_inline_map(std::string_view t, std::size_t depth) {
    const std::size_t open = t.find('[');
    if (open == std::string_view::npos) return fail_data("invalid inline map");
    const std::size_t mark = stack_.size();
    TopLevelPieces pieces(t.substr(open + 1, t.size() - open - 2));
    std::string_view piece;
    while (pieces.next(piece)) {
        if (piece.empty()) continue;
        const std::size_t arrow = find_entry_arrow(piece);
        if (arrow == std::string_view::npos) return fail_separator("=>", piece);
        if (!read(piece.substr(0, arrow), depth + 1) || !read(piece.substr(arrow + 2), depth + 1))
            return false;
    }
    return push_association(mark);
}

bool InlineReader::parse_inline_sum(std::string_view t, std::size_t separator, std::size_t depth) {
    const std::size_t mark = stack_.size();
    const std::size_t name_mark = stack_.name_count();
    std::string_view payload;
    if (const int header = read_sum_header(t, separator, payload); header <= 0) return header == 0;
    // A colon anywhere, even in a string or a nested "::", makes the payload named.
    const bool named = contains(payload, ':');
    TopLevelPieces pieces(payload);
    std::string_view piece;
    while (pieces.next(piece)) {
        if (named) {
            const std::size_t colon = piece.find(':');
            if (colon == std::string_view::npos) return fail_separator(":", piece);
            const std::string_view name = trim(piece.substr(0, colon));
            if (!name_ok(NameKind::Field, name)) return false;
            stack_.push_name(name);
            if (!read(piece.substr(colon + 1), depth + 1)) return false;
        } else if (!piece.empty() && !read(piece, depth + 1)) {
            return false;
        }
    }
    return push_sum(mark, name_mark, named ? SumPayloadKind::Struct : SumPayloadKind::Tuple);
}

}  // namespace dral_core::rfc001::ctn
