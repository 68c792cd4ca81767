// Applying parsed steps to a tree, whatever holds it: a decoded tree, or the segments of a
// compiled file read as the steps reach them. The walk is a loop over steps and a list of nodes,
// never a recursion, so no tree depth or expression length reaches the stack.
//
// A `Tree` reads its nodes; each member returns false when reading fails (the tree keeps the
// error) and appends what it selects to `out`:
//   using Node = ...;   a handle, cheap to copy
//   bool resolve(Node& node);   looks through references by id, repeatedly
//   bool member(const Node& node, std::string_view name, bool into_sums, std::vector<Node>& out);
//   bool all(const Node& node, std::vector<Node>& out);
//   bool index(const Node& node, std::int64_t index, std::vector<Node>& out);
// `member` serves both `.name` and `["name"]`; only the first reaches into the named payload of
// a sum.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "dral_core/rfc001/cql/steps.hpp"

namespace dral_core::rfc001::cql {

// The item `index` selects among `length` items: negative counts back from the end.
inline std::optional<std::uint64_t> position_in(std::int64_t index, std::uint64_t length) {
    if (index >= 0) {
        if (static_cast<std::uint64_t>(index) < length) return static_cast<std::uint64_t>(index);
        return std::nullopt;
    }
    // The magnitude of the most negative index does not fit in an int64_t; it does in uint64_t.
    const std::uint64_t back = 0 - static_cast<std::uint64_t>(index);
    if (back <= length) return length - back;
    return std::nullopt;
}

// Replaces `current` (the root, to begin with) by what the steps select from it, in order.
template <class Tree>
bool evaluate(Tree& tree, const std::vector<Step>& steps,
              std::vector<typename Tree::Node>& current) {
    std::vector<typename Tree::Node> next;
    for (const Step& step : steps) {
        if (current.empty()) break;
        next.clear();
        for (typename Tree::Node node : current) {
            if (!tree.resolve(node)) return false;
            bool ok;
            switch (step.index()) {
                case 0:
                    ok = tree.member(node, std::get<Member>(step).name, true, next);
                    break;
                case 1:
                    ok = tree.member(node, std::get<Key>(step).text, false, next);
                    break;
                case 2:
                    ok = tree.all(node, next);
                    break;
                default:
                    ok = tree.index(node, std::get<Index>(step).value, next);
                    break;
            }
            if (!ok) return false;
        }
        current.swap(next);
    }
    return true;
}

}  // namespace dral_core::rfc001::cql
