// Applying parsed steps to a tree. The walk is a loop over steps and a list of nodes, never a
// recursion, so no tree depth or expression length reaches the stack. Every step maps each node
// to some of its own children, so the list never holds a node twice and is bounded by the tree.
#include <cstdint>
#include <string_view>
#include <variant>

#include "rfc001/cql/cql.hpp"
#include "rfc001/cql/steps.hpp"

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

// Every pair whose key is a Str or Sym scalar with that text: associations keep duplicates.
void matching_pairs(const Association& association, std::string_view name, Nodes& out) {
    for (const auto& [key, value] : association.pairs)
        if (key.is_scalar() && key.scalar().is_text() && key.scalar().text() == name)
            out.push_back(&value);
}

// `.name` reaches into the named payload of a sum; `["name"]` does not.
void select_name(const Value& value, std::string_view name, bool into_sums, Nodes& out) {
    switch (value.kind()) {
        case ValueKind::Product:
            first_field(value.product().fields, name, out);
            break;
        case ValueKind::Sum:
            if (into_sums && value.sum().payload.kind == SumPayloadKind::Struct)
                first_field(value.sum().payload.fields, name, out);
            break;
        case ValueKind::Association:
            matching_pairs(value.association(), name, out);
            break;
        default:
            break;
    }
}

void select_all(const Value& value, Nodes& out) {
    if (value.kind() == ValueKind::Sequence) {
        for (const Value& item : value.sequence().items) out.push_back(&item);
    } else if (value.kind() == ValueKind::Association) {
        for (const auto& pair : value.association().pairs) out.push_back(&pair.second);
    }
}

void select_index(const Value& value, std::int64_t index, Nodes& out) {
    if (value.kind() != ValueKind::Sequence) return;
    const std::vector<Value>& items = value.sequence().items;
    if (index >= 0) {
        if (static_cast<std::uint64_t>(index) < items.size())
            out.push_back(&items[static_cast<std::size_t>(index)]);
        return;
    }
    // The magnitude of the most negative index does not fit in an int64_t; it does in uint64_t.
    const std::uint64_t back = 0 - static_cast<std::uint64_t>(index);
    if (back <= items.size()) out.push_back(&items[items.size() - static_cast<std::size_t>(back)]);
}

// Appends what `step` selects in `value`, which has been looked through by-id references. A
// reference to a binding is still a reference here and selects nothing.
void apply_step(const Step& step, const Value& value, Nodes& out) {
    switch (step.index()) {
        case 0:
            select_name(value, std::get<Member>(step).name, true, out);
            break;
        case 1:
            select_name(value, std::get<Key>(step).text, false, out);
            break;
        case 2:
            select_all(value, out);
            break;
        default:
            select_index(value, std::get<Index>(step).value, out);
            break;
    }
}

}  // namespace

Result<std::vector<const Value*>> query(const Value& root, std::string_view expression) {
    DRAL_ASSIGN_OR_RETURN(const std::vector<Step> steps, parse_steps(expression));
    Nodes current{&root};
    Nodes next;
    for (const Step& step : steps) {
        if (current.empty()) break;
        next.clear();
        for (const Value* value : current) apply_step(step, value->resolved(), next);
        current.swap(next);
    }
    return current;
}

}  // namespace dral_core::rfc001::cql
