// The steps of a CQL path: what `.name`, `["key"]`, `['key]`, `[]` and `[n]` each parse to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dral_core/base/error.hpp"

namespace dral_core::rfc001::cql {

// `.name`: a name of ASCII letters, digits and `_`.
struct Member {
    std::string name;
};

// `["text"]` or `['text]`: the text as written, no escapes decoded.
struct Key {
    std::string text;
};

// `[]`.
struct Wildcard {};

// `[n]`: negative counts back from the end of a sequence.
struct Index {
    std::int64_t value;
};

// In the order of the variants; the numbers are part of the model.
using Step = std::variant<Member, Key, Wildcard, Index>;

// The steps of a whole expression, or the data error that describes the first fault; nothing is
// evaluated before the whole text has parsed.
Result<std::vector<Step>> parse_steps(std::string_view expression);

}  // namespace dral_core::rfc001::cql
