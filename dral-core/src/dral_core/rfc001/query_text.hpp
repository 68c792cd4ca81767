// Queries over CTN text. The text is compiled first, so that a query over text sees exactly the
// tree a query over the compiled bytes would: the effective root, with binding references
// inlined.
#pragma once

#include <string_view>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/ast.hpp"
#include "dral_core/rfc001/cbf/cbf.hpp"

namespace dral_core::rfc001 {

// The values `expression` selects from the document `text`, in order, with the errors of reading,
// compiling and querying it in that order. Every stage charges `meter`; `options` is the
// compiler's (its hash seed among them).
Result<std::vector<Value>> query_text(std::string_view text, std::string_view expression,
                                      const cbf::EncodeOptions& options, MemoryMeter& meter);

}  // namespace dral_core::rfc001
