// Queries over a decoded tree. Every step maps each node to some of its own children, so the
// list of nodes never holds a node twice and is bounded by the tree.
#include "dral_core/rfc001/cql/evaluate.hpp"

#include <string_view>

#include "dral_core/rfc001/cql/cql.hpp"

namespace dral_core::rfc001::cql {
namespace {

using Nodes = std::vector<const Value*>;

void first_field(const std::vector<Field>& fields, std::string_view name, Nodes& out) {
    for (const Field& field : fields) {
        if (field.name == name) {
            out.push_back(&field.value);
            return;
        }
    }
}

// Reading a tree in memory never fails. A reference to a binding is still a reference after
// resolving and selects nothing.
struct ValueTree {
    using Node = const Value*;

    static bool resolve(Node& node) {
        node = &node->resolved();
        return true;
    }

    static bool member(Node node, std::string_view name, bool into_sums, Nodes& out) {
        switch (node->kind()) {
            case ValueKind::Product:
                first_field(node->product().fields, name, out);
                break;
            case ValueKind::Sum:
                if (into_sums && node->sum().payload.kind == SumPayloadKind::Struct)
                    first_field(node->sum().payload.fields, name, out);
                break;
            case ValueKind::Association:
                // Every pair whose key is a Str or Sym scalar with that text: duplicates stay.
                for (const auto& [key, value] : node->association().pairs)
                    if (key.is_scalar() && key.scalar().is_text() && key.scalar().text() == name)
                        out.push_back(&value);
                break;
            default:
                break;
        }
        return true;
    }

    static bool all(Node node, Nodes& out) {
        if (node->kind() == ValueKind::Sequence) {
            for (const Value& item : node->sequence().items) out.push_back(&item);
        } else if (node->kind() == ValueKind::Association) {
            for (const auto& pair : node->association().pairs) out.push_back(&pair.second);
        }
        return true;
    }

    static bool index(Node node, std::int64_t index, Nodes& out) {
        if (node->kind() != ValueKind::Sequence) return true;
        const std::vector<Value>& items = node->sequence().items;
        if (auto at = position_in(index, items.size())) out.push_back(&items[*at]);
        return true;
    }
};

}  // namespace

Result<std::vector<const Value*>> query(const Value& root, std::string_view expression) {
    DRAL_ASSIGN_OR_RETURN(const std::vector<Step> steps, parse_steps(expression));
    ValueTree tree;
    Nodes current{&root};
    evaluate(tree, steps, current);
    return current;
}

}  // namespace dral_core::rfc001::cql
