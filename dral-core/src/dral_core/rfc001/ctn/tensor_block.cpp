// Tensor blocks: element type and shape from the header; annotations, numeric data lines and
// binary placeholders in the body.
#include <charconv>
#include <limits>
#include <utility>

#include "dral_core/rfc001/ctn/errors.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"
#include "dral_core/rfc001/ctn/parser.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::ctn {
namespace {

Result<std::optional<std::uint64_t>> read_dimension(std::string_view piece) {
    if (piece == "_") return std::optional<std::uint64_t>{};
    DRAL_ASSIGN_OR_RETURN(auto number, parse_numeric_literal(piece));
    if (!number) return fail(data_error("invalid tensor dimension"));
    switch (number->type()) {
        case ScalarType::I64:
        case ScalarType::VI64:
            if (number->as_signed() < 0)
                return fail(data_error("tensor dimensions cannot be negative"));
            return static_cast<std::uint64_t>(number->as_signed());
        case ScalarType::U64:
        case ScalarType::VU64:
            if (number->as_unsigned() <= kMaxTensorDimension) return number->as_unsigned();
            break;
        default:
            break;
    }
    return fail(data_error("tensor dimensions must be integers"));
}

Status read_shape(std::string_view h, std::vector<std::optional<std::uint64_t>>& shape,
                  MemoryMeter& meter) {
    const std::size_t open = h.find('[');
    if (open == std::string_view::npos) return {};
    const std::size_t close = h.rfind(']');
    if (close == std::string_view::npos || close < open)
        return fail(data_error("unterminated tensor shape"));
    const std::string_view dims = h.substr(open + 1, close - open - 1);
    if (dims.empty()) return {};
    TopLevelPieces pieces(dims);
    std::string_view piece;
    while (pieces.next(piece)) {
        DRAL_ASSIGN_OR_RETURN(auto dimension, read_dimension(piece));
        DRAL_TRY(meter.charge(kElementCost));
        shape.push_back(dimension);
    }
    return {};
}

// The count of `<binary: N bytes>`, or nothing when `t` is not such a placeholder.
std::optional<std::uint64_t> binary_placeholder(std::string_view t) {
    if (t.size() < 9 || !t.starts_with("<binary:") || t.back() != '>') return std::nullopt;
    const std::string_view inside = trim(t.substr(8, t.size() - 9));
    if (!inside.ends_with("bytes")) return std::nullopt;
    std::string_view digits = trim(inside.substr(0, inside.size() - 5));
    if (digits.starts_with('+')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t count = 0;
    for (char c : digits) {
        if (!is_ascii_digit(c)) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        count = count * 10 + digit;
    }
    return count;
}

// Appends the number `piece`, made of digits, signs, points and exponent marks (`integral` when
// it has neither of the last two), if it is a VI64 or an F64 however it is read; false when the
// general path has to decide.
bool append_plain_number(std::string_view piece, bool integral, std::vector<double>& out,
                         MemoryMeter& meter) {
    if (!meter.try_charge(kElementCost)) return false;
    const std::size_t sign = piece[0] == '-' || piece[0] == '+';
    if (integral) {
        if (piece.size() == sign || piece.size() - sign > 18 ||
            piece.find_first_of("+-", sign) != std::string_view::npos)
            return false;
        out.push_back(static_cast<double>(parse_short_decimal(piece).as_signed()));
        return true;
    }
    // What parse_float would read, without its checks of the characters (done by the caller); a
    // leading '+' and magnitudes out of range are left to it.
    double value;
    const char* end = piece.data() + piece.size();
    const auto [stop, status] = std::from_chars(piece.data(), end, value);
    if (status != std::errc() || stop != end) return false;
    out.push_back(value);
    return true;
}

// The common data line, a plain number or a bracketed list of them, read in one pass without
// building its value, each number charged to `meter`; false, with nothing appended, for any
// other line, which then takes the general path, and once the meter refuses a number.
// `depth` is the nesting level of the line's value.
bool append_plain_numbers(std::string_view t, std::size_t depth, std::vector<double>& out,
                          MemoryMeter& meter) {
    const bool bracketed = t.front() == '[' && t.back() == ']';
    if (depth + bracketed > kMaxDepth) return false;
    const std::string_view inside = bracketed ? t.substr(1, t.size() - 2) : t;
    const std::size_t size = inside.size();
    const std::size_t start = out.size();
    std::size_t i = 0;
    while (true) {
        while (i < size && inside[i] == ' ') ++i;
        const std::size_t first = i;
        bool plain = true;
        bool integral = true;
        for (; i < size && inside[i] != ',' && inside[i] != ' '; ++i) {
            const char c = inside[i];
            if (c == '.' || c == 'e' || c == 'E') {
                integral = false;
            } else if (!is_ascii_digit(c) && c != '-' && c != '+') {
                plain = false;
            }
        }
        const std::size_t last = i;
        while (i < size && inside[i] == ' ') ++i;
        // A piece ends at a comma or the end; only a bracketed line has more than one.
        plain = plain && (i == size || (bracketed && inside[i] == ','));
        if (first == last) plain = plain && bracketed;
        if (!plain || (first != last && !append_plain_number(inside.substr(first, last - first),
                                                             integral, out, meter))) {
            out.resize(start);
            return false;
        }
        if (i++ == size) return true;
    }
}

enum class Collected : std::uint8_t { Numbers, OtherScalar, OtherKind };

// The walk of collect_numeric_scalars, which recurses once per nesting level of a data line: the
// outcome is a plain enumeration, so that the frames stay small.
Collected collect_numbers(const Value& value, std::vector<double>& out) {
    if (value.kind() == ValueKind::Sequence) {
        for (const Value& item : value.sequence().items)
            if (const Collected outcome = collect_numbers(item, out); outcome != Collected::Numbers)
                return outcome;
        return Collected::Numbers;
    }
    if (!value.is_scalar()) return Collected::OtherKind;
    const Scalar& scalar = value.scalar();
    switch (scalar.type()) {
        case ScalarType::I64:
        case ScalarType::VI64:
            out.push_back(static_cast<double>(scalar.as_signed()));
            return Collected::Numbers;
        case ScalarType::U64:
        case ScalarType::VU64:
            out.push_back(static_cast<double>(scalar.as_unsigned()));
            return Collected::Numbers;
        case ScalarType::F32:
            out.push_back(static_cast<double>(scalar.as_f32()));
            return Collected::Numbers;
        case ScalarType::F64:
            out.push_back(scalar.as_f64());
            return Collected::Numbers;
        default:
            return Collected::OtherScalar;
    }
}

}  // namespace

Status collect_numeric_scalars(const Value& value, std::vector<double>& out) {
    switch (collect_numbers(value, out)) {
        case Collected::Numbers:
            return {};
        case Collected::OtherScalar:
            return fail(data_error("tensor literal contains non-numeric scalar"));
        case Collected::OtherKind:
            break;
    }
    return fail(data_error("tensor literal must contain only numeric sequences"));
}

std::size_t Parser::parse_tensor_block(std::string_view h, std::size_t index, std::size_t indent,
                                       std::size_t depth) {
    if (!charge_node()) return kFailed;
    Tensor tensor;
    tensor.element_type = parse_generic_type_arg(h).value_or("f32");
    if (!name_ok(NameKind::ElementType, tensor.element_type)) return kFailed;
    if (auto shape = read_shape(h, tensor.shape, inline_.meter()); !shape)
        return failed(std::move(shape.error()));
    if (auto body = read_tensor_body(tensor, index, indent, depth); !body)
        return failed(std::move(body.error()));
    stack_.push(std::move(tensor));
    std::size_t next = index + 1;
    while (next < lines_.size() && lines_[next].indent > indent) ++next;
    return next;
}

Status Parser::read_tensor_body(Tensor& tensor, std::size_t index, std::size_t indent,
                                std::size_t depth) {
    std::optional<std::uint64_t> blob;
    numbers_.clear();
    for (std::size_t i = index + 1; i < lines_.size() && lines_[i].indent > indent; ++i) {
        const std::string_view t = trim(lines_[i].text);
        if (t.front() == '@') {
            DRAL_ASSIGN_OR_RETURN(Annotation annotation, parse_annotation_line(t, depth));
            tensor.annotations.push_back(std::move(annotation));
        } else if (auto count = binary_placeholder(t)) {
            blob = count;  // a later placeholder replaces an earlier one
        } else if (!append_plain_numbers(t, depth + 1, numbers_, inline_.meter())) {
            if (inline_.meter().exhausted()) return fail(inline_.meter().refusal());
            DRAL_ASSIGN_OR_RETURN(const Value line, inline_.parse(t, depth + 1));
            DRAL_TRY(collect_numeric_scalars(line, numbers_));
        }
    }
    if (!blob) {
        tensor.data.storage = std::vector<double>(numbers_.begin(), numbers_.end());
        return {};
    }
    // A placeholder asks for zero bytes that the text does not hold.
    DRAL_TRY(inline_.meter().charge(*blob));
    tensor.data.storage = Bytes(static_cast<std::size_t>(*blob));
    return {};
}

}  // namespace dral_core::rfc001::ctn
