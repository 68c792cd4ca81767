// CQL, the path queries over an RFC-001 value tree: `.config.servers[0].host`, `.items[]`.
#pragma once

#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/rfc001/ast.hpp"

namespace dral_core::rfc001::cql {

// The values `expression` selects from `root`, in order. They point into `root`: results are
// never copied here, so a caller that converts them pays only for what it converts. The whole
// expression is parsed before any value is visited; only parsing fails.
Result<std::vector<const Value*>> query(const Value& root, std::string_view expression);

}  // namespace dral_core::rfc001::cql
