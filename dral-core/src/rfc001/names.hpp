// Which texts may be names of a document. The CTN formatter writes names as they are, so a name
// that holds what the notation reads as structure (a line break, "=", a comment, a bracket)
// would read back as a different document. The CTN reader and the CBF decoder both take a name
// only when it passes here, and the formatter can then write every name they take.
#pragma once

#include <string_view>

#include "base/error.hpp"

namespace dral_core::rfc001 {

enum class NameKind {
    Field,        // of a product or a struct payload
    TypeName,     // of a product: an identifier other than "struct"
    SumTypeName,  // an identifier
    Variant,      // an identifier, or identifiers joined by "::"
    Symbol,
    Tag,          // of a tagged string
    Annotation,   // of a stream or tensor annotation
    BindingName,  // the name a reference refers to
    ElementType,  // of a sequence, stream or tensor, and an opaque value's type tag
};

// Fails with "invalid {what} '{name}'" (the name escaped and cut short) when `text` may not be
// a name of that kind. Every name but an element type is an identifier (or, for a variant, a
// path of them). An element type is free text without control characters, double quotes, "=",
// square brackets, "--" or "::", and without white space at either end.
Status check_name(NameKind kind, std::string_view text);

}  // namespace dral_core::rfc001
