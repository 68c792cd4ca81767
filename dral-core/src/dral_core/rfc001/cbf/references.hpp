// Binding references at compile time. A compiled file holds no bindings: every reference to a
// binding of the document stands for a copy of that binding's value, itself with its references
// inlined. The copies are never built; the walks that follow (symbol collection, encoding) look
// through each reference to the value it stands for, which resolve_references has first checked
// for cycles and measured.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/limits.hpp"
#include "dral_core/base/seeded_index.hpp"
#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::cbf {

// The root of a document with its binding references resolved (on reading) against the
// document's bindings. Valid while the document lives. Names are looked up in a SeededIndex
// hashed with `hash_seed`, which callers should draw at random: the input chooses the names.
class ResolvedRoot {
public:
    ResolvedRoot(const Document& document, const Value& root, std::uint64_t hash_seed);

    const Value& root() const { return *root_; }

    // The index of the binding a reference names (the first of that name), or kNoBinding when
    // `value` is no reference to a binding of the document.
    static constexpr std::size_t kNoBinding = static_cast<std::size_t>(-1);
    std::size_t target_of(const Value& value) const {
        // Every walk asks this of every node; most are no reference at all.
        if (value.kind() != ValueKind::Reference || first_bindings_.empty()) return kNoBinding;
        return binding_named_by(value.reference());
    }

    // `value`, or for a reference to a binding the value it stands for, followed through
    // bindings that are themselves such references.
    const Value& through(const Value& value) const {
        const Value* at = &value;
        for (std::size_t target; (target = target_of(*at)) != kNoBinding;)
            at = &document_->bindings[target].value;
        return *at;
    }

    const Document& document() const { return *document_; }

private:
    std::size_t binding_named_by(const Reference& reference) const;

    const Document* document_;
    const Value* root_;
    // The names as the index asks for them.
    auto name_of() const {
        return [this](std::size_t n) -> std::string_view {
            return document_->bindings[first_bindings_[n]].name;
        };
    }

    // The first binding of each name, numbered by the index of names.
    std::vector<std::size_t> first_bindings_;
    SeededIndex names_;
};

// Checks that inlining the references of `root` (the document's effective root) terminates and
// stays bounded. Fails with "cyclic reference detected at binding '{name}'" for the first
// binding met again while its own value is being inlined (in the order a depth-first copy would
// meet it), with "reference expansion exceeds limit" when the inlined root would outgrow the
// document beyond the bounds above, and with DepthExceeded when its segments would nest deeper
// than readers read (kMaxSegmentDepth).
Result<ResolvedRoot> resolve_references(const Document& document, const Value& root,
                                        std::uint64_t hash_seed);

}  // namespace dral_core::rfc001::cbf
