// The canonical CTN text of a tree. Everything is appended to one output, a child's text written
// in place at its indent rather than built apart and spliced in. The output has a cap, past
// which nothing is written: a tree's text may be far larger than the tree (every line repeats
// its indent), so the cap, not the tree, bounds what formatting allocates.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "dral_core/base/copy_bytes.hpp"
#include "dral_core/encoding/base64.hpp"
#include "dral_core/encoding/decimal_digits.hpp"
#include "dral_core/encoding/float_text.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"
#include "dral_core/rfc001/ctn/format.hpp"
#include "dral_core/rfc001/memory.hpp"
#include "dral_core/text/escaped_text.hpp"
#include "dral_core/text/text_scan.hpp"

namespace dral_core::rfc001::ctn {
namespace {

// The chunks of a text of unknown length start small and double up to this: well within the
// second-level cache that still holds a chunk when it is measured, and below the size past
// which the C heap maps each block afresh.
constexpr std::size_t kFirstChunk = 256;
constexpr std::size_t kLargestChunk = 64 * 1024 - 64;

// The chunks of a FormattedText, filled one at a time, that take no piece past their cap: such
// a piece is dropped and the text marked full, after which it stays as it is. A piece never
// spans two chunks, so that each ends on a character boundary.
class BoundedText {
public:
    BoundedText(FormattedText& text, std::size_t cap, std::size_t expected_size)
        : text_(text),
          cap_(cap),
          next_capacity_(std::clamp(expected_size, kFirstChunk, kLargestChunk)) {}

    BoundedText& operator+=(std::string_view piece) {
        if (fits(piece.size())) [[likely]] {
            copy_bytes(reinterpret_cast<std::uint8_t*>(at_), piece.data(), piece.size());
            at_ += piece.size();
        }
        return *this;
    }
    BoundedText& operator+=(char c) {
        if (fits(1)) [[likely]]
            *at_++ = c;
        return *this;
    }
    // Lets `write` write at most `at_most` characters at the place it is given, which has room
    // for them, and return where it stopped.
    template <class Write>
    void write(std::size_t at_most, Write write) {
        char* const at = at_most <= room() ? at_ : place_past_room(at_most);
        if (at == nullptr) [[unlikely]]
            return;
        char* const end = write(at);
        if (at == at_) [[likely]]
            at_ = end;
        else
            take_aside(static_cast<std::size_t>(end - at));
    }

    bool empty() const { return written_ == 0 && used() == 0; }
    void drop_final_line_feed() {
        if (used() != 0) {
            --at_;
            return;
        }
        FormattedText::Chunk& last = text_.chunks.back();
        last.text.pop_back();
        if (last.measure) --last.measure->code_points;
    }
    // Closes the last chunk.
    void finish() {
        if (used() != 0) close_chunk();
    }

    bool full() const { return wanted_ != 0; }
    // The length the text would have had with the piece that did not fit.
    std::size_t wanted() const { return wanted_; }

private:
    // Where a piece of at most `n` characters goes when the chunk lacks the room: a chunk of
    // its own, or, near the cap, where the most it may take does not fit but the piece itself
    // may, aside, to be taken or refused at its own length; nowhere once the text is full.
    [[gnu::cold, gnu::noinline]] char* place_past_room(std::size_t n) {
        if (n <= cap_ - written_ - used()) return next_chunk(n) ? at_ : nullptr;
        if (full()) return nullptr;
        aside_.resize_and_overwrite(n, [](char*, std::size_t room) { return room; });
        return aside_.data();
    }
    [[gnu::cold, gnu::noinline]] void take_aside(std::size_t length) {
        *this += std::string_view(aside_.data(), length);
    }

    std::size_t used() const { return static_cast<std::size_t>(at_ - chunk_.data()); }
    std::size_t room() const { return static_cast<std::size_t>(end_ - at_); }

    bool fits(std::size_t n) {
        if (n <= room()) [[likely]]
            return true;
        return next_chunk(n);
    }
    // Room for `n` more in a chunk of its own, unless they pass the cap.
    [[gnu::cold, gnu::noinline]] bool next_chunk(std::size_t n) {
        const std::size_t size = written_ + used();
        if (n > cap_ - size) {
            if (wanted_ == 0) wanted_ = size + n;
            cap_ = size;  // nothing fits from now on, an empty piece aside
            end_ = at_;
            return false;
        }
        if (used() != 0) close_chunk();
        // Its whole room is its size, written through `at_` and cut to what was written when it
        // closes; the characters past `at_` are never read.
        chunk_.resize_and_overwrite(std::max(n, next_capacity_),
                                    [](char*, std::size_t room) { return room; });
        next_capacity_ = std::min(2 * next_capacity_, kLargestChunk);
        at_ = chunk_.data();
        end_ = at_ + std::min(chunk_.size(), cap_ - written_);
        return true;
    }
    void close_chunk() {
        chunk_.resize(used());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk_.data());
        auto measure = measure_utf8(bytes, chunk_.size());
        written_ += chunk_.size();
        text_.chunks.push_back({std::move(chunk_), measure});
        chunk_ = std::string();
        at_ = end_ = chunk_.data();
    }

    FormattedText& text_;
    std::string chunk_;          // the chunk being written, as large as its room
    char* at_ = chunk_.data();   // where the next character goes
    char* end_ = chunk_.data();  // past which `chunk_` takes nothing
    std::size_t cap_;            // on the whole text
    std::size_t written_ = 0;    // in closed chunks
    std::size_t next_capacity_;
    std::size_t wanted_ = 0;
    std::string aside_;  // see place_past_room
};

// Lets `write` write at most `at_most` characters at the place it is given, and return where it
// stopped: the writers of numbers and bytes write straight into either output.
template <class Write>
void write_at_most(BoundedText& out, std::size_t at_most, Write write) {
    out.write(at_most, write);
}
template <class Write>
void write_at_most(std::string& out, std::size_t at_most, Write write) {
    const std::size_t at = out.size();
    // The size given to the writer may be the capacity grown to (libstdc++ 12): the size
    // returned is the one written.
    out.resize_and_overwrite(at + at_most, [&](char* text, std::size_t) {
        return static_cast<std::size_t>(write(text + at) - text);
    });
}

template <class Out, class Integer>
void append_integer(Out& out, Integer value) {
    write_at_most(out, 1 + kMaxDecimalDigits, [&](char* at) {
        if constexpr (std::is_signed_v<Integer>)
            return at + write_signed_decimal(at, value);
        else
            return at + write_decimal(at, value);
    });
}

// The suffix-less text of a float: shortest positional digits, or the special names that the
// literal reader takes back as the same value ("Inf", not "inf", which would read as a symbol).
template <class Out, class Float>
void append_float(Out& out, Float value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value < 0 ? "-Inf" : "Inf";
    } else {
        write_at_most(out, kMaxPositionalFloat,
                      [&](char* at) { return at + format_float_positional(at, value); });
    }
}

template <class Out>
void write_escaped(Out& out, std::string_view text) {
    write_at_most(out, escaped_room(text.size()),
                  [&](char* at) { return write_escaped_at(at, text); });
}

template <class Out>
void append_quoted(Out& out, std::string_view text) {
    out += '"';
    write_escaped(out, text);
    out += '"';
}

// The tag of a tagged string. The prefixes of byte literals are spaced from their text, which
// would otherwise read as bytes.
template <class Out>
void append_tag(Out& out, std::string_view tag) {
    out += tag;
    if (tag == "b" || tag == "b64") out += ' ';
}

// A quoted text on a line that the reader splits before it reads quotes: a map key's line at its
// first "=>", a tuple payload at any ':' (which would make it a struct payload). The '>' of every
// "=>" in a key and every ':' in a payload is written as an escape, which reads back as itself.
void append_quoted_guarded(BoundedText& out, std::string_view text, bool in_key, bool in_tuple) {
    // Most texts hold neither character, found so by the library's fast search.
    if ((!in_key || text.find('>') == text.npos) && (!in_tuple || text.find(':') == text.npos))
        return append_quoted(out, text);
    out += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape = nullptr;
        if (in_tuple && text[i] == ':')
            escape = "\\u{3a}";
        else if (in_key && text[i] == '>' && i > 0 && text[i - 1] == '=')
            escape = "\\u{3e}";
        if (escape == nullptr) continue;
        write_escaped(out, text.substr(start, i - start));
        out += escape;
        start = i + 1;
    }
    write_escaped(out, text.substr(start));
    out += '"';
}

template <class Out>
void write_scalar(Out& out, const Scalar& scalar) {
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
        case ScalarType::Bytes: {
            const Bytes& bytes = scalar.as_bytes();
            out += "b64\"";
            write_at_most(out, base64::encoded_size(bytes.size()),
                          [&](char* at) { return at + base64::encode_into(at, bytes); });
            out += '"';
            return;
        }
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

template <class Out>
void write_annotation(Out& out, const Annotation& annotation) {
    out += '@';
    out += annotation.name;
    if (annotation.value) {
        out += ' ';
        write_scalar(out, *annotation.value);
    }
}

// A tree's nodes, and the arrays of their children, each lie apart in memory, and a walk that
// found them only as it reached them would wait for memory at nearly every node. So while one
// child is written, the walk asks for the node of the child two ahead and for the children of
// the next one, whose node was asked for a step before. Hints only: asking never faults. They
// cost instructions, which a tree that stays in the caches pays for nothing, so they are few and
// take no tests: a hint past what a node or an array holds only fetches a line for nothing.

// The node a value of a kind that holds values keeps apart; empty for the other kinds.
std::span<const std::byte> node_of(const Value& value) {
    switch (value.kind()) {
        case ValueKind::Product:
            return std::as_bytes(std::span(&value.product(), 1));
        case ValueKind::Sum:
            return std::as_bytes(std::span(&value.sum(), 1));
        case ValueKind::Sequence:
            return std::as_bytes(std::span(&value.sequence(), 1));
        case ValueKind::Association:
            return std::as_bytes(std::span(&value.association(), 1));
        default:
            return {};
    }
}

// The first of the children of such a node, or null.
const void* children_of(const Value& value) {
    switch (value.kind()) {
        case ValueKind::Product:
            return value.product().fields.data();
        case ValueKind::Sum:
            return value.sum().payload.fields.data();
        case ValueKind::Sequence:
            return value.sequence().items.data();
        case ValueKind::Association:
            return value.association().pairs.data();
        default:
            return nullptr;
    }
}

[[gnu::always_inline]] inline void ask_for_line(std::uintptr_t at) {
    __builtin_prefetch(reinterpret_cast<const void*>(at));
}

// The lines of a node, which spans three at most.
[[gnu::always_inline]] inline void ask_for_node(std::span<const std::byte> node) {
    if (node.empty()) return;
    const auto first = reinterpret_cast<std::uintptr_t>(node.data());
    ask_for_line(first);
    ask_for_line(first + 64);
    ask_for_line(first + node.size() - 1);
}

// The first four lines of an array of children: all of a short one, whose children are written
// faster than a line comes in.
[[gnu::always_inline]] inline void ask_for_children(const void* children) {
    if (children == nullptr) return;
    const auto first = reinterpret_cast<std::uintptr_t>(children);
    for (std::uintptr_t at = 0; at < 4 * 64; at += 64) ask_for_line(first + at);
}

// Before the child at `i` of `children` is written; `value_of` gives a child's value. The first
// step asks for the second child's node instead, which no step before asked for. Inlined by
// force: apart, it would do nothing the compiler counts as an effect, and calls to it would go.
template <class Children, class ValueOf>
[[gnu::always_inline]] inline void ask_ahead(const Children& children, std::size_t i,
                                             ValueOf value_of) {
    if (i + 2 < children.size()) ask_for_node(node_of(value_of(children[i + 2])));
    if (i + 1 >= children.size()) return;
    if (i == 0)
        ask_for_node(node_of(value_of(children[1])));
    else
        ask_for_children(children_of(value_of(children[i + 1])));
}

class Formatter {
    // Longer sequences take one line per item.
    static constexpr std::size_t kMaxInlineItems = 8;

public:
    explicit Formatter(BoundedText& out) : out_(out) {}

    // Recursion runs through render and the block writers of the kinds that hold values; what
    // writes leaves is kept out of line, so that each level's frame stays small (the trees are
    // as deep as kMaxDepth, the threads' stacks may be small, and sanitizers widen frames).
    void render(const Value& value, std::size_t indent) {
        if (has_inline_form(value)) return write_inline(value);
        switch (value.kind()) {
            case ValueKind::Sequence:
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
                return write_scalar(out_, value.scalar());
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
                if ((!in_key_ && !in_tuple_) ||
                    (scalar.type() != ScalarType::Str && scalar.type() != ScalarType::Tagged))
                    return write_scalar(out_, scalar);
                if (scalar.type() == ScalarType::Tagged) append_tag(out_, scalar.tag());
                return append_quoted_guarded(out_, scalar.text(), in_key_, in_tuple_);
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
        if (sum.payload.kind == SumPayloadKind::Tuple) {
            const bool outer = in_tuple_;
            in_tuple_ = true;
            write_items('(', sum.payload.items, ')');
            in_tuple_ = outer;
            return;
        }
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
            const std::string_view type = *sum.type_name;
            out_ += type == "ref" || type == "let" || type == "use" ? ":: " : " :: ";
        }
        out_ += sum.variant;
    }

    // A line feed, the indent of a body line under a header at `indent`, `head` and `tail`: one
    // step for every field, item and pair, where each append of its own would check the room
    // again.
    void new_body_line(std::size_t indent, std::string_view head = {}, std::string_view tail = {}) {
        const std::size_t spaces = indent + 2;
        const std::size_t length = 1 + spaces + head.size() + tail.size();
        out_.write(length + text_scan::kFillPast, [&](char* at) {
            *at = '\n';
            text_scan::fill_spaces(at + 1, spaces);
            auto* const after = reinterpret_cast<std::uint8_t*>(at + 1 + spaces);
            copy_bytes(after, head.data(), head.size());
            copy_bytes(after + head.size(), tail.data(), tail.size());
            return at + length;
        });
    }

    [[gnu::noinline]] void render_sequence(const Sequence& sequence, std::size_t indent) {
        out_ += "seq<";
        out_ += sequence.elem_type ? std::string_view(*sequence.elem_type) : "any";
        out_ += '>';
        const std::vector<Value>& items = sequence.items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            ask_ahead(items, i, [](const Value& item) -> const Value& { return item; });
            new_body_line(indent);
            render(items[i], indent + 2);
        }
    }

    [[gnu::noinline]] void render_fields(const std::vector<Field>& fields, std::size_t indent) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            ask_ahead(fields, i, [](const Field& field) -> const Value& { return field.value; });
            new_body_line(indent, fields[i].name, " = ");
            render(fields[i].value, indent + 2);
        }
    }

    // The names a tree holds (see rfc001/names.hpp) make a struct payload's block read back,
    // unless the variant is empty: the header would lack it. A tuple payload has no block form.
    [[gnu::noinline]] void render_sum(const Sum& sum, std::size_t indent) {
        if (sum.payload.kind != SumPayloadKind::Struct || sum.variant.empty())
            return write_one_line_sum(sum);
        write_sum_header(sum);
        render_fields(sum.payload.fields, indent);
    }

    [[gnu::noinline]] void render_association(const Association& association, std::size_t indent) {
        out_ += "map<any, any>";
        if (association.pairs.empty()) {
            out_ += " []";
            return;
        }
        const auto& pairs = association.pairs;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            ask_ahead(pairs, i, [](const auto& pair) -> const Value& { return pair.second; });
            new_body_line(indent);
            write_key(pairs[i].first);
            out_ += " => ";
            render(pairs[i].second, indent + 2);
        }
    }

    void render_annotations(const std::vector<Annotation>& annotations, std::size_t indent) {
        for (const Annotation& annotation : annotations) {
            new_body_line(indent);
            write_annotation(out_, annotation);
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

    BoundedText& out_;
    bool in_key_ = false;    // quoted texts must not hold "=>"
    bool in_tuple_ = false;  // nor ':'
};

// The text of `write(out)`, within kOutputCopies times over of the meter's budget, charged when
// complete.
template <class Write>
Result<FormattedText> format_within(MemoryMeter& meter, std::size_t expected_size, Write write) {
    const std::uint64_t cap = meter.remaining() / kOutputCopies;
    FormattedText text;
    BoundedText out(text, static_cast<std::size_t>(std::min<std::uint64_t>(cap, SIZE_MAX)),
                    expected_size);
    write(out);
    if (out.full()) {
        const std::uint64_t wanted = kOutputCopies * static_cast<std::uint64_t>(out.wanted());
        return fail(DralError::memory_limit_exceeded(meter.used() + wanted, meter.limit()));
    }
    out.finish();
    DRAL_TRY(meter.charge(kOutputCopies * text.size()));
    return text;
}

Result<std::string> joined(Result<FormattedText> text) {
    if (!text) return fail(std::move(text.error()));
    return text->joined();
}

}  // namespace

std::size_t FormattedText::size() const {
    std::size_t size = 0;
    for (const Chunk& chunk : chunks) size += chunk.text.size();
    return size;
}

std::optional<Utf8Measure> FormattedText::measure() const {
    Utf8Measure whole{0, 0x7F};
    for (const Chunk& chunk : chunks) {
        if (!chunk.measure) return std::nullopt;
        whole.code_points += chunk.measure->code_points;
        whole.widest = std::max(whole.widest, chunk.measure->widest);
    }
    return whole;
}

std::string FormattedText::joined() const {
    std::string text;
    text.reserve(size());
    for (const Chunk& chunk : chunks) text += chunk.text;
    return text;
}

void append_escaped(std::string& out, std::string_view text) { write_escaped(out, text); }

void append_scalar(std::string& out, const Scalar& scalar) { write_scalar(out, scalar); }

void append_annotation(std::string& out, const Annotation& annotation) {
    write_annotation(out, annotation);
}

Result<FormattedText> format_value(const Value& value, MemoryMeter& meter) {
    return format_within(meter, 0, [&](BoundedText& out) { Formatter(out).render(value, 0); });
}

Result<std::string> format_value(const Value& value) {
    MemoryMeter meter(kMemoryLimit);
    return joined(format_value(value, meter));
}

Result<FormattedText> format_document(const Document& document, MemoryMeter& meter,
                                      std::size_t expected_size) {
    return format_within(meter, expected_size, [&](BoundedText& out) {
        for (const Annotation& annotation : document.annotations) {
            write_annotation(out, annotation);
            out += '\n';
        }
        for (const std::string& use : document.uses) {
            out += "use ";
            out += use;
            out += '\n';
        }
        const std::vector<Binding>& bindings = document.bindings;
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            ask_ahead(bindings, i,
                      [](const Binding& binding) -> const Value& { return binding.value; });
            out += "let ";
            out += bindings[i].name;
            out += " = ";
            Formatter(out).render(bindings[i].value, 0);
            out += '\n';
        }
        if (document.root) {
            if (!out.empty()) out += '\n';
            Formatter(out).render(*document.root, 0);
        } else if (!out.empty()) {
            out.drop_final_line_feed();
        }
    });
}

Result<std::string> format_document(const Document& document) {
    MemoryMeter meter(kMemoryLimit);
    return joined(format_document(document, meter));
}

}  // namespace dral_core::rfc001::ctn
