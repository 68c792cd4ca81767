// The segments of a compiled root as a tree the query steps walk. A node is a located segment:
// its header read, its payload not; a step reads the parts of the payload it needs to find the
// children it selects, and nothing of the children but their headers.
#include "dral_core/rfc001/cbf/query.hpp"

#include <string>
#include <utility>

#include "dral_core/rfc001/cbf/open_document.hpp"
#include "dral_core/rfc001/cbf/segment.hpp"
#include "dral_core/rfc001/cbf/segment_walker.hpp"
#include "dral_core/rfc001/cql/evaluate.hpp"
#include "dral_core/rfc001/memory.hpp"

namespace dral_core::rfc001::cbf {
namespace {

struct SegmentNode {
    Segment segment;
    std::size_t depth;

    std::uint8_t type() const { return type_of(segment.tag); }
};

class SegmentTree {
public:
    using Node = SegmentNode;
    using Nodes = std::vector<Node>;

    SegmentTree(std::span<const std::string> symbols, std::size_t body_size, MemoryMeter& meter)
        : walker_(symbols, body_size, meter) {}

    DralError take_error() { return walker_.take_error(); }

    bool root(std::span<const std::uint8_t> body, std::size_t offset, Nodes& out) {
        Node root{{}, 0};
        if (!walker_.locate(body, offset, 0, root.segment)) return false;
        out.push_back(root);
        return true;
    }

    bool decode(const Node& node, Value& out) {
        return walker_.decode(node.segment, node.depth, out);
    }

    bool resolve(Node& node) {
        while (node.type() == type::kReference) {
            const auto payload = node.segment.payload;
            if (payload.empty() || payload[0] != reference_kind_byte(ReferenceKind::ById)) {
                // A reference to a binding selects nothing; it, or the fault that makes it no
                // reference at all, reads as a decode reads it.
                Value checked(Scalar::null());
                return walker_.decode(node.segment, node.depth, checked);
            }
            Node boxed{{}, node.depth + 1};
            if (!walker_.locate(payload, 1, boxed.depth, boxed.segment)) return false;
            if (1 + boxed.segment.size != payload.size())
                return walker_.failed("reference-by-id payload trailing bytes");
            node = boxed;
        }
        return true;
    }

    bool member(const Node& node, std::string_view name, bool into_sums, Nodes& out) {
        Children fields;
        switch (node.type()) {
            case type::kProduct:
                return walker_.product_children(node.segment, node.depth, fields) &&
                       first_field(node, fields, name, "struct payload has trailing bytes", out);
            case type::kSum: {
                if (!into_sums) return true;
                std::uint8_t kind = 0;
                if (!walker_.sum_children(node.segment, node.depth, kind, fields)) return false;
                return kind != payload_kind_byte(SumPayloadKind::Struct) ||
                       first_field(node, fields, name, "enum payload trailing bytes", out);
            }
            case type::kAssociation:
                // Every pair whose key is a Str or Sym scalar with that text: duplicates stay.
                return entries(node, [&](const Node& key, const Node& value) {
                    bool is_text = false;
                    if (!walker_.key_text(key.segment, key.depth, text_, is_text)) return false;
                    if (is_text && text_ == name) out.push_back(value);
                    return true;
                });
            default:
                return true;
        }
    }

    bool all(const Node& node, Nodes& out) {
        if (node.type() == type::kSequence) {
            Children items;
            if (!walker_.sequence_children(node.segment, node.depth, items)) return false;
            return walk_items(node, items, items.count, &out) &&
                   (items.indexed || at_end(node, items, "sequence payload has trailing bytes"));
        }
        if (node.type() == type::kAssociation) {
            return entries(node, [&](const Node&, const Node& value) {
                out.push_back(value);
                return true;
            });
        }
        return true;
    }

    bool index(const Node& node, std::int64_t index, Nodes& out) {
        if (node.type() != type::kSequence) return true;
        Children items;
        if (!walker_.sequence_children(node.segment, node.depth, items)) return false;
        const auto position = cql::position_in(index, items.count);
        if (!position) return true;
        if (!items.indexed) {
            // Inline items are found by walking the ones before.
            return walk_items(node, items, *position, nullptr) && walk_items(node, items, 1, &out);
        }
        std::size_t at = 0;
        Node item{{}, node.depth + 1};
        if (!walker_.child_at(node.segment, items, *position, at) ||
            !walker_.locate(node.segment.payload, at, item.depth, item.segment))
            return false;
        out.push_back(item);
        return true;
    }

private:
    // The value of the first field named `name`; fields without that name are read to the end.
    bool first_field(const Node& parent, const Children& fields, std::string_view name,
                     const char* trailing, Nodes& out) {
        std::size_t position = fields.position;
        for (std::uint64_t i = 0; i < fields.count; ++i) {
            Node value{{}, parent.depth + 1};
            if (!walker_.field_name(parent.segment, position, parent.depth, text_) ||
                !walker_.locate(parent.segment.payload, position, value.depth, value.segment))
                return false;
            position += value.segment.size;
            if (text_ == name) {
                out.push_back(value);
                return true;
            }
        }
        if (position != parent.segment.payload.size()) return walker_.failed(trailing);
        return true;
    }

    // The next `count` items, into `out` unless it is null; inline ones from `items.position`,
    // which moves past them.
    bool walk_items(const Node& parent, Children& items, std::uint64_t count, Nodes* out) {
        const auto payload = parent.segment.payload;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::size_t at = items.position;
            Node item{{}, parent.depth + 1};
            if (items.indexed && !walker_.child_at(parent.segment, items, i, at)) return false;
            if (!walker_.locate(payload, at, item.depth, item.segment)) return false;
            if (!items.indexed) items.position = at + item.segment.size;
            if (out != nullptr) out->push_back(item);
        }
        return true;
    }

    bool at_end(const Node& parent, const Children& children, const char* trailing) {
        return children.position == parent.segment.payload.size() || walker_.failed(trailing);
    }

    // Calls `visit(key, value)` for each entry of an association, in order.
    template <class Visit>
    bool entries(const Node& parent, Visit&& visit) {
        Children entries;
        if (!walker_.association_children(parent.segment, entries)) return false;
        const auto payload = parent.segment.payload;
        for (std::uint64_t i = 0; i < entries.count; ++i) {
            std::size_t at = entries.position;
            if (entries.indexed && !walker_.child_at(parent.segment, entries, i, at)) return false;
            Node key{{}, parent.depth + 1};
            Node value{{}, parent.depth + 1};
            if (!walker_.locate(payload, at, key.depth, key.segment)) return false;
            at += key.segment.size;
            if (!walker_.locate(payload, at, value.depth, value.segment)) return false;
            if (!entries.indexed) entries.position = at + value.segment.size;
            if (!visit(key, value)) return false;
        }
        return entries.indexed || at_end(parent, entries, "map payload has trailing bytes");
    }

    SegmentWalker walker_;
    std::string text_;  // the name or key text being compared
};

}  // namespace

Result<std::vector<Value>> query_document(std::span<const std::uint8_t> file,
                                          std::string_view expression, MemoryMeter& meter,
                                          ChecksumObserver* observer) {
    DRAL_ASSIGN_OR_RETURN(const OpenedDocument document, open_document(file, meter, observer));
    const std::uint64_t root_offset = document.header.root_offset;
    auto steps = cql::parse_steps(expression);
    if (!steps) {
        DRAL_TRY(decode_root_segment(document.body, root_offset, document.symbols, meter));
        return fail(std::move(steps.error()));
    }
    SegmentTree tree(document.symbols, document.body.size(), meter);
    SegmentTree::Nodes selected;
    if (!tree.root(document.body, root_offset, selected) || !cql::evaluate(tree, *steps, selected))
        return fail(tree.take_error());
    std::vector<Value> values;
    values.reserve(selected.size());
    for (const SegmentNode& node : selected)
        if (!tree.decode(node, values.emplace_back(Scalar::null()))) return fail(tree.take_error());
    return values;
}

Result<std::vector<Value>> query_document(std::span<const std::uint8_t> file,
                                          std::string_view expression) {
    MemoryMeter meter(kMemoryLimit);
    return query_document(file, expression, meter);
}

}  // namespace dral_core::rfc001::cbf
