#include "dral_core/rfc001/cbf/references.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "dral_core/rfc001/cbf/segment.hpp"

namespace dral_core::rfc001::cbf {
namespace {

std::uint64_t add_saturating(std::uint64_t a, std::uint64_t b) {
    return a + b < a ? UINT64_MAX : a + b;
}

std::uint64_t mul_saturating(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// The bytes of text and data a node carries itself, without its children: what its segment
// holds besides headers and the segments of its children.
std::uint64_t carried_bytes(const Value& value) {
    auto annotation_bytes = [](const std::vector<Annotation>& annotations) {
        std::uint64_t n = 0;
        for (const Annotation& a : annotations) n += a.name.size();
        return n;
    };
    switch (value.kind()) {
        case ValueKind::Scalar: {
            const Scalar& s = value.scalar();
            switch (s.type()) {
                case ScalarType::Str:
                case ScalarType::Sym:
                    return s.text().size();
                case ScalarType::Bytes:
                    return s.as_bytes().size();
                case ScalarType::Tagged:
                    return s.tag().size() + s.text().size();
                default:
                    return 0;
            }
        }
        case ValueKind::Product: {
            const Product& p = value.product();
            std::uint64_t n = p.type_name ? p.type_name->size() : 0;
            for (const Field& f : p.fields) n += f.name.size();
            return n;
        }
        case ValueKind::Sum: {
            const Sum& s = value.sum();
            std::uint64_t n = s.variant.size() + (s.type_name ? s.type_name->size() : 0);
            for (const Field& f : s.payload.fields) n += f.name.size();
            return n;
        }
        case ValueKind::Sequence: {
            const auto& elem_type = value.sequence().elem_type;
            return elem_type ? elem_type->size() : 0;
        }
        case ValueKind::Association:
            return 0;
        case ValueKind::Reference: {
            const Reference& r = value.reference();
            return r.kind == ReferenceKind::Binding ? r.name.size() : 0;
        }
        case ValueKind::Tensor: {
            const Tensor& t = value.tensor();
            const std::uint64_t width = t.data.kind() == TensorDataKind::BinaryBlob ? 1 : 8;
            return t.element_type.size() + width * t.data.size() + annotation_bytes(t.annotations);
        }
        case ValueKind::Stream: {
            const Stream& s = value.stream();
            return s.item_type.size() + annotation_bytes(s.annotations);
        }
        case ValueKind::Opaque:
            return value.opaque().type_tag.size() + value.opaque().bytes.size();
    }
    return 0;
}

// Calls `visit` on every direct child value, in order.
template <class Visit>
void for_each_child(const Value& value, Visit&& visit) {
    switch (value.kind()) {
        case ValueKind::Product:
            for (const Field& f : value.product().fields) visit(f.value);
            break;
        case ValueKind::Sum:
            for (const Value& item : value.sum().payload.items) visit(item);
            for (const Field& f : value.sum().payload.fields) visit(f.value);
            break;
        case ValueKind::Sequence:
            for (const Value& item : value.sequence().items) visit(item);
            break;
        case ValueKind::Association:
            for (const auto& [key, item] : value.association().pairs) {
                visit(key);
                visit(item);
            }
            break;
        case ValueKind::Reference:
            if (value.reference().kind == ReferenceKind::ById) visit(**value.reference().boxed);
            break;
        default:
            break;
    }
}

struct Size {
    std::uint64_t nodes = 0;
    std::uint64_t bytes = 0;
    std::uint64_t levels = 0;  // of segments: a lone scalar is one level deep
};

// Whether the node's segment holds name segments (type, variant, element or item type, field
// and annotation names), which sit one level below it, as its children do.
bool holds_name_segments(const Value& value) {
    switch (value.kind()) {
        case ValueKind::Product:
            return value.product().type_name || !value.product().fields.empty();
        case ValueKind::Sum:
        case ValueKind::Stream:
            return true;
        case ValueKind::Sequence:
            return value.sequence().elem_type && !value.sequence().items.empty();
        default:
            return false;
    }
}

// A reference to a binding met in a tree, and the level it sits at (the tree's top is level 1).
struct BindingUse {
    std::size_t binding;
    std::uint64_t level;
};

// One tree as it stands, references to bindings not followed: its own size without those
// references, and the references in the order a depth-first walk meets them.
struct Survey {
    Size own;
    std::vector<BindingUse> uses;
};

// Recursion follows the tree as built, which its reader bounded in depth (kMaxDepth).
void survey(const ResolvedRoot& resolved, const Value& value, std::uint64_t level, Survey& out) {
    if (std::size_t target = resolved.target_of(value); target != ResolvedRoot::kNoBinding) {
        out.uses.push_back({target, level});
        return;
    }
    out.own.nodes += 1;
    out.own.bytes += carried_bytes(value);
    out.own.levels = std::max(out.own.levels, level + (holds_name_segments(value) ? 1 : 0));
    for_each_child(value, [&](const Value& child) { survey(resolved, child, level + 1, out); });
}

void measure(const Value& value, Size& size) {
    size.nodes += 1;
    size.bytes += carried_bytes(value);
    for_each_child(value, [&](const Value& child) { measure(child, size); });
}

// The whole document: the explicit root and every binding, referenced or not.
Size measure_document(const Document& document) {
    Size size;
    if (document.root) measure(*document.root, size);
    for (const Binding& binding : document.bindings) measure(binding.value, size);
    return size;
}

bool exceeds_expansion_limit(std::uint64_t inlined, std::uint64_t own, std::uint64_t allowance) {
    return inlined > add_saturating(mul_saturating(kExpansionFactor, own), allowance);
}

}  // namespace

ResolvedRoot::ResolvedRoot(const Document& document, const Value& root, std::uint64_t hash_seed)
    : document_(&document), root_(&root) {
    names_.set_seed(hash_seed);
    for (std::size_t i = 0; i < document.bindings.size(); ++i) {
        const std::string_view name = document.bindings[i].name;
        const std::uint64_t hash = names_.hash(name);
        if (names_.find(name, hash, name_of()) >= 0) continue;  // a later binding of a name
        first_bindings_.push_back(i);
        names_.insert(hash, name_of());
    }
}

std::size_t ResolvedRoot::binding_named_by(const Reference& reference) const {
    if (reference.kind != ReferenceKind::Binding) return kNoBinding;
    const std::int64_t n = names_.find(reference.name, names_.hash(reference.name), name_of());
    return n < 0 ? kNoBinding : first_bindings_[static_cast<std::size_t>(n)];
}

Result<ResolvedRoot> resolve_references(const Document& document, const Value& root,
                                        std::uint64_t hash_seed) {
    ResolvedRoot resolved(document, root, hash_seed);

    // A depth-first walk over the bindings the root reaches, with an explicit stack: chains of
    // bindings may be as long as the document, the machine stack is not. Each binding is
    // surveyed once and its inlined size kept, so shared bindings cost nothing more however
    // often they are inlined. A binding met again while it is still on the stack is a cycle; a
    // finished one is not (nothing it reaches leads back to it), so skipping it keeps the order
    // in which a plain recursive copy would meet the first cycle.
    enum class State : std::uint8_t { Unvisited, Open, Done };
    std::vector<State> state(document.bindings.size(), State::Unvisited);
    std::vector<Size> inlined(document.bindings.size());

    struct Frame {
        std::size_t binding;  // kNoBinding for the root
        Survey survey;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    Size surveyed;  // the document's nodes seen so far: a lower bound of its size
    auto open = [&](std::size_t binding, const Value& value) {
        Frame frame{binding, {}, 0};
        survey(resolved, value, 1, frame.survey);
        surveyed.nodes += frame.survey.own.nodes + frame.survey.uses.size();
        surveyed.bytes += frame.survey.own.bytes;
        stack.push_back(std::move(frame));
    };

    open(ResolvedRoot::kNoBinding, root);
    Size total;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.survey.uses.size()) {
            const std::size_t target = frame.survey.uses[frame.next].binding;
            if (state[target] == State::Done) {
                ++frame.next;
            } else if (state[target] == State::Open) {
                return fail(DralError::invalid_data("cyclic reference detected at binding '" +
                                                    document.bindings[target].name + "'"));
            } else {
                state[target] = State::Open;
                open(target, document.bindings[target].value);  // invalidates `frame`
            }
            continue;
        }
        Size size = frame.survey.own;
        for (const BindingUse& use : frame.survey.uses) {
            const Size& target = inlined[use.binding];
            size.nodes = add_saturating(size.nodes, target.nodes);
            size.bytes = add_saturating(size.bytes, target.bytes);
            size.levels = std::max(size.levels, use.level - 1 + target.levels);
        }
        if (frame.binding == ResolvedRoot::kNoBinding) {
            total = size;
        } else {
            inlined[frame.binding] = size;
            state[frame.binding] = State::Done;
        }
        stack.pop_back();
    }

    // The nodes seen so far bound the document's size from below; only a root that outgrows
    // even the whole document needs the document measured.
    if (exceeds_expansion_limit(total.nodes, surveyed.nodes, kExpansionNodeAllowance) ||
        exceeds_expansion_limit(total.bytes, surveyed.bytes, kExpansionByteAllowance)) {
        const Size whole = measure_document(document);
        if (exceeds_expansion_limit(total.nodes, whole.nodes, kExpansionNodeAllowance) ||
            exceeds_expansion_limit(total.bytes, whole.bytes, kExpansionByteAllowance))
            return fail(DralError::invalid_data("reference expansion exceeds limit"));
    }
    // Readers refuse segments nested deeper than kMaxSegmentDepth below the root, which sits at
    // level 1; the message is theirs, naming the first depth too deep.
    if (total.levels > kMaxSegmentDepth + 1)
        return fail(DralError::depth_exceeded(kMaxSegmentDepth + 1, kMaxSegmentDepth));
    return resolved;
}

}  // namespace dral_core::rfc001::cbf
