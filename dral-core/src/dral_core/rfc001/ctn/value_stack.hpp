// The values the CTN reader is building. Every read pushes exactly one value; a container takes
// the values of its parts from the top when it is complete. One stack serves a whole document, so
// a value is built where it lies and moved once, into a container that is allocated at its final
// size.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::ctn {

class ValueStack {
public:
    std::size_t size() const { return values_.size(); }
    std::size_t name_count() const { return names_.size(); }

    // The value pushed, for a builder to fill a node in place: moved in whole, a node's short
    // strings would each cost a call to copy.
    template <class... Args>
    Value& push(Args&&... args) {
        return values_.emplace_back(std::forward<Args>(args)...);
    }
    // The name of a field whose value is pushed next; views stay valid while the text does.
    void push_name(std::string_view name) { names_.push_back(name); }

    std::string_view name(std::size_t i) const { return names_[i]; }
    Value& top() { return values_.back(); }
    Value pop() {
        Value value = std::move(values_.back());
        values_.pop_back();
        return value;
    }

    // Forgets the values pushed from `mark` on, and the names from `name_mark` on.
    void truncate(std::size_t mark) {
        values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(mark), values_.end());
    }
    void truncate(std::size_t mark, std::size_t name_mark) {
        truncate(mark);
        names_.resize(name_mark);
    }

    // The values from `mark` on.
    std::vector<Value> take_values(std::size_t mark) {
        const auto first = values_.begin() + static_cast<std::ptrdiff_t>(mark);
        std::vector<Value> taken(std::make_move_iterator(first),
                                 std::make_move_iterator(values_.end()));
        values_.erase(first, values_.end());
        return taken;
    }

    // The values from `mark` on, which alternate key and value.
    std::vector<std::pair<Value, Value>> take_pairs(std::size_t mark) {
        std::vector<std::pair<Value, Value>> pairs;
        pairs.reserve((values_.size() - mark) / 2);
        for (std::size_t i = mark; i + 1 < values_.size(); i += 2)
            pairs.emplace_back(std::move(values_[i]), std::move(values_[i + 1]));
        truncate(mark);
        return pairs;
    }

    // The values from `mark` on, named by the names from `name_mark` on, as fields or bindings.
    template <class Named = Field>
    std::vector<Named> take_named(std::size_t mark, std::size_t name_mark) {
        std::vector<Named> named;
        named.reserve(values_.size() - mark);
        for (std::size_t i = mark; i < values_.size(); ++i)
            named.emplace_back(NamedFrom<Named>{names_[name_mark + i - mark], values_[i]});
        truncate(mark, name_mark);
        return named;
    }

private:
    // Builds a field or binding where the vector stores it: a temporary would have its name moved
    // in, and a short name's move is a call to copy its bytes.
    template <class Named>
    struct NamedFrom {
        std::string_view name;
        Value& value;
        operator Named() const { return Named{std::string(name), std::move(value)}; }
    };

    std::vector<Value> values_;
    std::vector<std::string_view> names_;
};

}  // namespace dral_core::rfc001::ctn
