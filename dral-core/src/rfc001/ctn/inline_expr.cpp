// The dispatch of inline expressions. The forms are tried in a fixed order and the first whose
// test matches decides; the switch on the first character only skips tests that cannot match.
#include "rfc001/ctn/inline_expr.hpp"

#include <array>
#include <iterator>
#include <utility>

#include "rfc001/ctn/errors.hpp"
#include "rfc001/ctn/literals.hpp"

namespace dral_core::rfc001::ctn {
namespace {

// ---------------------------------------------------------------------------------------------
// Leaf forms, out of line so that their locals stay off the recursive frames.

[[gnu::noinline]] Result<Value> read_string(std::string_view t) {
    auto text = t.starts_with(R"(""")") ? parse_triple_quoted(t) : parse_quoted_string(t);
    if (!text) return fail(std::move(text.error()));
    return Value(Scalar::str(std::move(*text)));
}

[[gnu::noinline]] Result<Value> read_binding_reference(std::string_view t) {
    const std::string_view name = trim(t.substr(1));
    if (!is_identifier(name)) return fail(data_error("invalid reference name '", name, "'"));
    return Value(Reference::to_binding(std::string(name)));
}

[[gnu::noinline]] Result<Value> read_symbol(std::string_view t) {
    DRAL_ASSIGN_OR_RETURN(std::string name, parse_symbol(t));
    return Value(Scalar::sym(std::move(name)));
}

[[gnu::noinline]] Result<Value> read_bytes(Result<Bytes> bytes) {
    if (!bytes) return fail(std::move(bytes.error()));
    return Value(Scalar::bytes(std::move(*bytes)));
}

// A tagged string, or nothing when `t` does not have that form.
[[gnu::noinline]] Result<std::optional<Value>> read_tagged(std::string_view t) {
    DRAL_ASSIGN_OR_RETURN(auto tagged, parse_prefixed_quoted(t));
    if (!tagged) return std::nullopt;
    return Value(Scalar::tagged(std::move(tagged->tag), std::move(tagged->value)));
}

std::optional<Value> read_keyword(std::string_view t) {
    if (t == "true") return Value(Scalar::boolean(true));
    if (t == "false") return Value(Scalar::boolean(false));
    if (t == "null") return Value(Scalar::null());
    if (t == "unit") return Value(Scalar::unit());
    return std::nullopt;
}

// The last forms: a number, a bare name, or nothing that can be read.
[[gnu::noinline]] Result<Value> read_number_or_name(std::string_view t) {
    DRAL_ASSIGN_OR_RETURN(auto number, parse_numeric_literal(t));
    if (number) return Value(std::move(*number));
    if (is_identifier_path(t)) return Value(Scalar::sym(std::string(t)));
    return fail(data_error("unable to parse inline expression '", t, "'"));
}

// Whether `t` is an optional sign and 1 to 18 digits: a VI64 however it is read.
bool is_short_decimal(std::string_view t) {
    const std::size_t sign = t[0] == '-' || t[0] == '+';
    if (t.size() == sign || t.size() - sign > 18) return false;
    for (char c : t.substr(sign))
        if (!is_ascii_digit(c)) return false;
    return true;
}

// Characters that TopLevelPieces stops at.
constexpr std::array<bool, 256> kSplitStops = [] {
    std::array<bool, 256> stops{};
    for (unsigned char c : std::string_view("()[]<>\",")) stops[c] = true;
    return stops;
}();

// Index of the double quote that closes the string opened at `open`, or the size of `text` when
// it stays open. A backslash makes the next character literal.
std::size_t string_end(std::string_view text, std::size_t open) {
    std::size_t i = open + 1;
    while (i < text.size()) {
        const std::size_t stop = text.find_first_of("\"\\", i);
        if (stop == std::string_view::npos) return text.size();
        if (text[stop] == '"') return stop;
        i = stop + 2;
    }
    return text.size();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Splitting

bool TopLevelPieces::next(std::string_view& piece) {
    if (done_) return false;
    const std::size_t size = text_.size();
    std::size_t parens = 0;
    std::size_t brackets = 0;
    std::size_t angles = 0;
    for (std::size_t i = pos_; i < size; ++i) {
        const char c = text_[i];
        if (!kSplitStops[static_cast<unsigned char>(c)]) continue;
        switch (c) {
            case '(':
                ++parens;
                break;
            case ')':
                parens -= parens != 0;
                break;
            case '[':
                ++brackets;
                break;
            case ']':
                brackets -= brackets != 0;
                break;
            case '<':
                ++angles;
                break;
            case '>':
                angles -= angles != 0;
                break;
            case '"':
                i = string_end(text_, i);
                break;
            default:  // ','
                if ((parens | brackets | angles) == 0) {
                    piece = trim(text_.substr(pos_, i - pos_));
                    pos_ = i + 1;
                    return true;
                }
        }
    }
    piece = trim(text_.substr(pos_));
    done_ = true;
    return true;
}

std::vector<std::string_view> split_top_level(std::string_view text) {
    std::vector<std::string_view> pieces;
    TopLevelPieces splitter(text);
    std::string_view piece;
    while (splitter.next(piece)) pieces.push_back(piece);
    return pieces;
}

// ---------------------------------------------------------------------------------------------
// Dispatch

Result<Value> InlineReader::parse(std::string_view text, std::size_t depth) {
    items_.clear();
    return parse_inline_expr(text, depth);
}

Result<Value> parse_inline_expr(std::string_view text, std::size_t depth) {
    InlineReader reader;
    return reader.parse(text, depth);
}

Result<Value> InlineReader::parse_inline_expr(std::string_view text, std::size_t depth) {
    if (depth > kMaxDepth) [[unlikely]]
        return fail(DralError::depth_exceeded(depth, kMaxDepth));
    const std::string_view t = trim(text);
    if (t.empty()) return fail(data_error("empty inline expression"));
    const char last = t.back();
    switch (t.front()) {
        case '"':
            return read_string(t);
        case '&':
            return read_binding_reference(t);
        case '\'':
            return read_symbol(t);
        case '<':
            if (last == '>') return read_bytes(parse_hex_spaced(t.substr(1, t.size() - 2)));
            break;
        case '(':
            if (last == ')') return parse_parenthesised(t, depth);
            break;
        case '[':
            if (last == ']') return parse_inline_sequence(t, depth);
            break;
        default:
            if (is_identifier_start(t.front())) return parse_word(t, depth);
    }
    return parse_other(t, depth);
}

Result<Value> InlineReader::parse_word(std::string_view t, std::size_t depth) {
    if (t.size() <= 5)
        if (auto keyword = read_keyword(t)) return std::move(*keyword);
    if (t.starts_with("ref ")) return parse_by_id(t, depth);
    if (t.starts_with("b64\"")) return read_bytes(parse_base64_literal(t));
    if (t.starts_with("b\"")) return read_bytes(parse_hex_literal(t));
    if (t.back() == '"') {
        DRAL_ASSIGN_OR_RETURN(auto tagged, read_tagged(t));
        if (tagged) return std::move(*tagged);
    }
    if (t.starts_with("map<") && t.back() == ']' && contains(t, '['))
        return parse_inline_map(t, depth);
    // A plain identifier is a symbol, unless it is one of the special numbers.
    if (is_identifier(t) && !t.starts_with("NaN") && !t.starts_with("Inf"))
        return Value(Scalar::sym(std::string(t)));
    return parse_other(t, depth);
}

Result<Value> InlineReader::parse_other(std::string_view t, std::size_t depth) {
    if (is_short_decimal(t)) return Value(parse_short_decimal(t));
    if (const std::size_t separator = t.find("::"); separator != std::string_view::npos)
        return parse_inline_sum(t, separator, depth);
    return read_number_or_name(t);
}

Result<Value> InlineReader::parse_by_id(std::string_view t, std::size_t depth) {
    DRAL_ASSIGN_OR_RETURN(Value boxed, parse_inline_expr(trim(t.substr(4)), depth + 1));
    return Value(Reference::by_id(std::move(boxed)));
}

// ---------------------------------------------------------------------------------------------
// Sequences, maps and sums

Status InlineReader::push_item(std::string_view piece, std::size_t depth) {
    auto item = parse_inline_expr(piece, depth);
    if (!item) return fail(std::move(item.error()));
    items_.push_back(std::move(*item));
    return {};
}

std::vector<Value> InlineReader::take_items(std::size_t mark) {
    const auto first = items_.begin() + static_cast<std::ptrdiff_t>(mark);
    std::vector<Value> taken(std::make_move_iterator(first), std::make_move_iterator(items_.end()));
    items_.erase(first, items_.end());
    return taken;
}

Result<Value> InlineReader::parse_inline_sequence(std::string_view t, std::size_t depth) {
    const std::size_t mark = items_.size();
    TopLevelPieces pieces(t.substr(1, t.size() - 2));
    std::string_view piece;
    while (pieces.next(piece))
        if (!piece.empty()) DRAL_TRY(push_item(piece, depth + 1));
    return Value(Sequence{std::nullopt, take_items(mark)});
}

Result<Value> InlineReader::parse_parenthesised(std::string_view t, std::size_t depth) {
    const std::string_view inside = t.substr(1, t.size() - 2);
    if (trim(inside).empty()) return Value(Sequence{});
    // Unlike brackets, every piece counts: an empty one fails.
    const std::size_t mark = items_.size();
    TopLevelPieces pieces(inside);
    std::string_view piece;
    while (pieces.next(piece)) DRAL_TRY(push_item(piece, depth + 1));
    return Value(Sequence{std::nullopt, take_items(mark)});
}

Result<Value> InlineReader::parse_inline_map(std::string_view t, std::size_t depth) {
    const std::size_t open = t.find('[');
    if (open == std::string_view::npos) return fail(data_error("invalid inline map"));
    const std::size_t mark = items_.size();
    TopLevelPieces pieces(t.substr(open + 1, t.size() - open - 2));
    std::string_view piece;
    while (pieces.next(piece)) {
        if (piece.empty()) continue;
        const std::size_t arrow = piece.find("=>");
        if (arrow == std::string_view::npos) return fail(separator_error("=>", piece));
        DRAL_TRY(push_item(piece.substr(0, arrow), depth + 1));
        DRAL_TRY(push_item(piece.substr(arrow + 2), depth + 1));
    }
    // Keys and values lie on the scratch stack in turn.
    Association association;
    association.pairs.reserve((items_.size() - mark) / 2);
    for (std::size_t i = mark; i < items_.size(); i += 2)
        association.pairs.emplace_back(std::move(items_[i]), std::move(items_[i + 1]));
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(mark), items_.end());
    return Value(std::move(association));
}

Result<Value> InlineReader::parse_inline_sum(std::string_view t, std::size_t separator,
                                             std::size_t depth) {
    Sum sum;
    if (const std::string_view type_name = trim(t.substr(0, separator)); !type_name.empty())
        sum.type_name.emplace(type_name);
    const std::string_view rest = trim(t.substr(separator + 2));
    if (rest.empty()) return fail(data_error("missing enum variant"));
    const std::size_t open = rest.find('(');
    if (open == std::string_view::npos) {
        sum.variant = rest;
        return Value(std::move(sum));
    }
    if (rest.back() != ')') return fail(data_error("unterminated enum payload"));
    sum.variant = trim(rest.substr(0, open));
    const std::string_view payload = rest.substr(open + 1, rest.size() - open - 2);

    TopLevelPieces pieces(payload);
    std::string_view piece;
    // A colon anywhere, even in a string or a nested "::", makes the payload named.
    if (contains(payload, ':')) {
        sum.payload.kind = SumPayloadKind::Struct;
        while (pieces.next(piece)) {
            const std::size_t colon = piece.find(':');
            if (colon == std::string_view::npos) return fail(separator_error(":", piece));
            DRAL_ASSIGN_OR_RETURN(Value value,
                                  parse_inline_expr(piece.substr(colon + 1), depth + 1));
            sum.payload.fields.push_back(
                Field{std::string(trim(piece.substr(0, colon))), std::move(value)});
        }
        return Value(std::move(sum));
    }
    sum.payload.kind = SumPayloadKind::Tuple;
    const std::size_t mark = items_.size();
    while (pieces.next(piece))
        if (!piece.empty()) DRAL_TRY(push_item(piece, depth + 1));
    sum.payload.items = take_items(mark);
    return Value(std::move(sum));
}

}  // namespace dral_core::rfc001::ctn
