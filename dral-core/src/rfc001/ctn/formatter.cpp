// The canonical CTN text of a tree. Everything is appended to one output string: a child's text
// is written in place at its indent rather than built apart and spliced in.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "encoding/base64.hpp"
#include "encoding/decimal_digits.hpp"
#include "encoding/float_text.hpp"
#include "rfc001/ctn/ctn.hpp"
#include "rfc001/ctn/format.hpp"
#include "rfc001/ctn/inline_expr.hpp"
#include "rfc001/ctn/literals.hpp"
#include "text/text_scan.hpp"

namespace dral_core::rfc001::ctn {
namespace {

template <class Integer>
void append_integer(std::string& out, Integer value) {
    char digits[1 + kMaxDecimalDigits];
    if constexpr (std::is_signed_v<Integer>)
        out.append(digits, write_signed_decimal(digits, value));
    else
        out.append(digits, write_decimal(digits, value));
}

// The suffix-less text of a float: shortest positional digits, or the special names that the
// literal reader takes back as the same value ("Inf", not "inf", which would read as a symbol).
template <class Float>
void append_float(std::string& out, Float value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value < 0 ? "-Inf" : "Inf";
    } else {
        append_float_positional(out, value);
    }
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    append_escaped(out, text);
    out += '"';
}

// The tag of a tagged string. The prefixes of byte literals are spaced from their text, which
// would otherwise read as bytes.
void append_tag(std::string& out, std::string_view tag) {
    out += tag;
    if (tag == "b" || tag == "b64") out += ' ';
}

// A quoted text inside a map key, whose line is split at its first "=>": the '>' of every "=>"
// is written as an escape, which reads back as the same text.
void append_quoted_in_key(std::string& out, std::string_view text) {
    out += '"';
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("=>", start)) != std::string_view::npos; start = at + 2) {
        append_escaped(out, text.substr(start, at + 1 - start));
        out += "\\u{3e}";
    }
    append_escaped(out, text.substr(start));
    out += '"';
}

// Whether `value`, alone on a line or after "=" or "=>", would read as a stream: a sum whose type
// name begins like a stream header. An inline sequence, map or payload may hold one; a block
// holding it would not read back.
bool reads_as_stream(const Value& value) {
    return value.kind() == ValueKind::Sum && value.sum().type_name &&
           value.sum().type_name->starts_with("stream<");
}

// Whether a sum with a struct payload reads back from its block form: a header line that the
// reader takes for an enum header (not for another block's, nor for an inline sum), and field
// lines whose names and values it reads as they are. Sums read from a block always do; the
// inline form takes any variant, field names and values, so a sum read from one may not, and
// keeps that form.
bool has_readable_block(const Sum& sum, std::string_view header) {
    if (trim(sum.variant).empty() || header.find('(') != std::string_view::npos) return false;
    if (header.starts_with("map<") && header.find('[') == std::string_view::npos) return false;
    for (std::string_view block : {"seq<", "vec<", "tensor<", "mat<", "stream<"})
        if (header.starts_with(block)) return false;
    for (const Field& field : sum.payload.fields)
        if (!is_identifier(field.name) || reads_as_stream(field.value)) return false;
    return true;
}

class Formatter {
    // Longer sequences take one line per item.
    static constexpr std::size_t kMaxInlineItems = 8;

public:
    explicit Formatter(std::string& out) : out_(out) {}

    // Recursion runs through render and the block writers of the kinds that hold values; what
    // writes leaves is kept out of line, so that each level's frame stays small (the trees are
    // as deep as kMaxDepth, the threads' stacks may be small, and sanitizers widen frames).
    void render(const Value& value, std::size_t indent) {
        if (has_inline_form(value)) {
            if (value.kind() != ValueKind::Sequence) return write_inline(value);
            if (write_inline_sequence(value.sequence())) return;
        }
        switch (value.kind()) {
            case ValueKind::Sequence:
                if (std::ranges::any_of(value.sequence().items, reads_as_stream))
                    return write_one_line(value);
                return render_sequence(value.sequence(), indent);
            case ValueKind::Product: {
                const Product& product = value.product();
                out_ += product.type_name ? std::string_view(*product.type_name) : "struct";
                return render_fields(product.fields, indent);
            }
            case ValueKind::Sum:
                return render_sum(value.sum(), indent);
            case ValueKind::Association:
                return render_association(value.association(), indent);
            default:
                return render_leaf(value, indent);
        }
    }

private:
    static bool has_inline_form(const Value& value) {
        switch (value.kind()) {
            case ValueKind::Scalar:
            case ValueKind::Reference:
                return true;
            case ValueKind::Sum:
                return value.sum().payload.kind == SumPayloadKind::Unit;
            case ValueKind::Sequence: {
                const auto& items = value.sequence().items;
                if (items.size() > kMaxInlineItems) return false;
                for (const Value& item : items)
                    if (item.kind() != ValueKind::Scalar && item.kind() != ValueKind::Reference)
                        return false;
                return true;
            }
            default:
                return false;
        }
    }

    // Tensors, streams and opaque values, which hold no values.
    [[gnu::noinline]] void render_leaf(const Value& value, std::size_t indent) {
        switch (value.kind()) {
            case ValueKind::Tensor:
                return render_tensor(value.tensor(), indent);
            case ValueKind::Stream: {
                const Stream& stream = value.stream();
                out_ += "stream<";
                out_ += stream.item_type;
                out_ += '>';
                return render_annotations(stream.annotations, indent);
            }
            case ValueKind::Opaque: {
                const Opaque& opaque = value.opaque();
                out_ += "opaque<";
                out_ += opaque.type_tag;
                out_ += "> <binary: ";
                append_integer(out_, opaque.bytes.size());
                out_ += " bytes>";
                return;
            }
            default:
                return;
        }
    }

    [[gnu::noinline]] void write_inline(const Value& value) {
        switch (value.kind()) {
            case ValueKind::Scalar:
                return append_scalar(out_, value.scalar());
            case ValueKind::Reference: {
                const Reference& reference = value.reference();
                if (reference.kind == ReferenceKind::Binding) {
                    out_ += '&';
                    out_ += reference.name;
                } else {
                    out_ += "ref ";
                    write_one_line(**reference.boxed);
                }
                return;
            }
            case ValueKind::Sum:
                return write_sum_header(value.sum());
            default:
                return write_items('[', value.sequence().items, ']');
        }
    }

    // The value on one line, where the reader takes nothing else: inside a reference by id, a
    // tuple payload or a map key. The inline forms of sequences, maps and sums with a payload
    // serve where the canonical form would break the line. Products, tensors, streams and opaque
    // values have no such form (nor can an inline expression hold them).
    void write_one_line(const Value& value) {
        switch (value.kind()) {
            case ValueKind::Scalar: {
                const Scalar& scalar = value.scalar();
                if (!in_key_ ||
                    (scalar.type() != ScalarType::Str && scalar.type() != ScalarType::Tagged))
                    return append_scalar(out_, scalar);
                if (scalar.type() == ScalarType::Tagged) append_tag(out_, scalar.tag());
                return append_quoted_in_key(out_, scalar.text());
            }
            case ValueKind::Reference:
                return write_inline(value);
            case ValueKind::Sum:
                return write_one_line_sum(value.sum());
            case ValueKind::Sequence:
                return write_items('[', value.sequence().items, ']');
            case ValueKind::Association:
                return write_one_line_map(value.association());
            default:
                return render(value, 0);
        }
    }

    void write_one_line_map(const Association& association) {
        out_ += "map<any, any>[";
        bool first = true;
        for (const auto& [key, item] : association.pairs) {
            if (!first) out_ += ", ";
            first = false;
            write_key(key);
            out_ += " => ";
            write_one_line(item);
        }
        out_ += ']';
    }

    void write_one_line_sum(const Sum& sum) {
        write_sum_header(sum);
        if (sum.payload.kind == SumPayloadKind::Unit) return;
        if (sum.payload.kind == SumPayloadKind::Tuple)
            return write_items('(', sum.payload.items, ')');
        out_ += '(';
        bool first = true;
        for (const Field& field : sum.payload.fields) {
            if (!first) out_ += ", ";
            first = false;
            out_ += field.name;
            out_ += ": ";
            write_one_line(field.value);
        }
        out_ += ')';
    }

    void write_items(char open, const std::vector<Value>& items, char close) {
        out_ += open;
        bool first = true;
        for (const Value& item : items) {
            if (!first) out_ += ", ";
            first = false;
            write_one_line(item);
        }
        out_ += close;
    }

    void write_key(const Value& key) {
        const bool outer = in_key_;
        in_key_ = true;
        write_one_line(key);
        in_key_ = outer;
    }

    void write_sum_header(const Sum& sum) {
        if (sum.type_name) {
            out_ += *sum.type_name;
            // "ref :: x" would read as a reference by id, "let :: x" and "use :: x" on a line of
            // their own as statements.
            const std::string& type = *sum.type_name;
            out_ += type == "ref" || type == "let" || type == "use" ? ":: " : " :: ";
        }
        out_ += sum.variant;
    }

    // A short sequence of scalars and references on one line, where it reads back as written;
    // nothing, and false, where it would not: a sum read from a line of its own may hold commas
    // and brackets in its names, which only such a line keeps. Scalars always read back; a
    // sequence holding references is read again, and must give back its items one for one.
    [[gnu::noinline]] bool write_inline_sequence(const Sequence& sequence) {
        const std::size_t start = out_.size();
        write_items('[', sequence.items, ']');
        const auto is_reference = [](const Value& item) {
            return item.kind() == ValueKind::Reference;
        };
        if (std::ranges::none_of(sequence.items, is_reference)) return true;
        const auto read = parse_inline_expr(std::string_view(out_).substr(start), 1);
        const auto& items = sequence.items;
        bool same = read && read->kind() == ValueKind::Sequence &&
                    read->sequence().items.size() == items.size();
        for (std::size_t i = 0; same && i < items.size(); ++i)
            same = one_line_text(read->sequence().items[i]) == one_line_text(items[i]);
        if (!same) out_.resize(start);
        return same;
    }

    static std::string one_line_text(const Value& value) {
        std::string text;
        Formatter(text).write_one_line(value);
        return text;
    }

    // A line feed, the indent of a body line under a header at `indent`, and `head`: one step
    // for every field, item and pair, where each append of its own would check the room again.
    void new_body_line(std::size_t indent, std::string_view head = {}) {
        const std::size_t at = out_.size();
        const std::size_t spaces = indent + 2;
        const std::size_t size = at + 1 + spaces + head.size();
        // The size given to the writer may be the capacity grown to (libstdc++ 12): the size
        // returned is the one asked for.
        out_.resize_and_overwrite(size, [&](char* out, std::size_t) {
            out[at] = '\n';
            std::memset(out + at + 1, ' ', spaces);
            if (!head.empty()) std::memcpy(out + at + 1 + spaces, head.data(), head.size());
            return size;
        });
    }

    [[gnu::noinline]] void render_sequence(const Sequence& sequence, std::size_t indent) {
        out_ += "seq<";
        out_ += sequence.elem_type ? std::string_view(*sequence.elem_type) : "any";
        out_ += '>';
        for (const Value& item : sequence.items) {
            new_body_line(indent);
            render(item, indent + 2);
        }
    }

    [[gnu::noinline]] void render_fields(const std::vector<Field>& fields, std::size_t indent) {
        for (const Field& field : fields) {
            new_body_line(indent, field.name);
            out_ += " = ";
            render(field.value, indent + 2);
        }
    }

    [[gnu::noinline]] void render_sum(const Sum& sum, std::size_t indent) {
        if (!write_block_header(sum)) return write_one_line_sum(sum);
        render_fields(sum.payload.fields, indent);
    }

    // The header of a sum with a struct payload whose block reads back; nothing, and false, for
    // any other sum.
    [[gnu::noinline]] bool write_block_header(const Sum& sum) {
        if (sum.payload.kind != SumPayloadKind::Struct) return false;
        const std::size_t start = out_.size();
        write_sum_header(sum);
        if (has_readable_block(sum, std::string_view(out_).substr(start))) return true;
        out_.resize(start);
        return false;
    }

    [[gnu::noinline]] void render_association(const Association& association, std::size_t indent) {
        if (std::ranges::any_of(association.pairs,
                                [](const auto& pair) { return reads_as_stream(pair.second); }))
            return write_one_line_map(association);
        out_ += "map<any, any>";
        if (association.pairs.empty()) {
            out_ += " []";
            return;
        }
        for (const auto& [key, value] : association.pairs) {
            new_body_line(indent);
            write_key(key);
            out_ += " => ";
            render(value, indent + 2);
        }
    }

    void render_annotations(const std::vector<Annotation>& annotations, std::size_t indent) {
        for (const Annotation& annotation : annotations) {
            new_body_line(indent);
            append_annotation(out_, annotation);
        }
    }

    template <class Element>
    void write_dense(const std::vector<Element>& elements, std::string_view suffix) {
        out_ += '[';
        bool first = true;
        for (Element element : elements) {
            if (!first) out_ += ", ";
            first = false;
            if constexpr (std::is_floating_point_v<Element>)
                append_float(out_, element);
            else
                append_integer(out_, element);
            out_ += suffix;
        }
        out_ += ']';
    }

    void render_tensor(const Tensor& tensor, std::size_t indent) {
        out_ += "tensor<";
        out_ += tensor.element_type;
        out_ += '>';
        if (!tensor.shape.empty()) {
            out_ += '[';
            bool first = true;
            for (const auto& dimension : tensor.shape) {
                if (!first) out_ += ", ";
                first = false;
                if (dimension)
                    append_integer(out_, *dimension);
                else
                    out_ += '_';
            }
            out_ += ']';
        }
        render_annotations(tensor.annotations, indent);
        new_body_line(indent);
        const auto& storage = tensor.data.storage;
        switch (tensor.data.kind()) {
            case TensorDataKind::DenseF64:
                return write_dense(std::get<0>(storage), "f64");
            case TensorDataKind::DenseI64:
                return write_dense(std::get<1>(storage), "i64");
            case TensorDataKind::DenseU64:
                return write_dense(std::get<2>(storage), "u64");
            case TensorDataKind::BinaryBlob:
                out_ += "<binary: ";
                append_integer(out_, std::get<3>(storage).size());
                out_ += " bytes>";
                return;
        }
    }

    std::string& out_;
    bool in_key_ = false;  // quoted texts must not hold "=>"
};

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
    // The characters escaped are the text notation's: most texts have none, found sixteen bytes
    // at a time.
    const char* const data = text.data();
    std::size_t start = 0;
    for (;;) {
        const std::size_t at =
            start + text_scan::first_escape_within(data + start, text.size() - start);
        out.append(data + start, at - start);
        if (at == text.size()) return;
        out += '\\';
        out += text_scan::escape_of(static_cast<unsigned char>(data[at]));
        start = at + 1;
    }
}

void append_scalar(std::string& out, const Scalar& scalar) {
    switch (scalar.type()) {
        case ScalarType::Null:
            out += "null";
            return;
        case ScalarType::Unit:
            out += "unit";
            return;
        case ScalarType::Bool:
            out += scalar.as_bool() ? "true" : "false";
            return;
        case ScalarType::I64:
            append_integer(out, scalar.as_signed());
            out += "i64";
            return;
        case ScalarType::U64:
            append_integer(out, scalar.as_unsigned());
            out += "u64";
            return;
        case ScalarType::VI64:
            append_integer(out, scalar.as_signed());
            return;
        case ScalarType::VU64:
            append_integer(out, scalar.as_unsigned());
            // Plain digits past the signed range would not read back at all.
            if (scalar.as_unsigned() > static_cast<std::uint64_t>(INT64_MAX)) out += "vu64";
            return;
        case ScalarType::F32:
            append_float(out, scalar.as_f32());
            out += "f32";
            return;
        case ScalarType::F64:
            append_float(out, scalar.as_f64());
            out += "f64";
            return;
        case ScalarType::Str:
            append_quoted(out, scalar.text());
            return;
        case ScalarType::Bytes:
            out += "b64\"";
            base64::encode_to(out, scalar.as_bytes());
            out += '"';
            return;
        case ScalarType::Sym:
            out += '\'';
            out += scalar.text();
            return;
        case ScalarType::Tagged:
            append_tag(out, scalar.tag());
            append_quoted(out, scalar.text());
            return;
    }
}

void append_annotation(std::string& out, const Annotation& annotation) {
    out += '@';
    out += annotation.name;
    if (annotation.value) {
        out += ' ';
        append_scalar(out, *annotation.value);
    }
}

void append_value(std::string& out, const Value& value, std::size_t indent) {
    Formatter(out).render(value, indent);
}

std::string format_value(const Value& value) {
    std::string out;
    append_value(out, value, 0);
    return out;
}

std::string format_document(const Document& document, std::size_t expected_size) {
    std::string out;
    out.reserve(expected_size);
    for (const Annotation& annotation : document.annotations) {
        append_annotation(out, annotation);
        out += '\n';
    }
    for (const std::string& use : document.uses) {
        out += "use ";
        out += use;
        out += '\n';
    }
    for (const Binding& binding : document.bindings) {
        out += "let ";
        out += binding.name;
        out += " = ";
        append_value(out, binding.value, 0);
        out += '\n';
    }
    if (document.root) {
        if (!out.empty()) out += '\n';
        append_value(out, *document.root, 0);
    } else if (!out.empty()) {
        out.pop_back();
    }
    return out;
}

}  // namespace dral_core::rfc001::ctn
